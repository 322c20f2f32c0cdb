#pragma once
// What the load client and the reference responder share: TFTP packets (octet, 512-byte
// blocks, no options), loopback addresses, files and clocks. Independent of the server's code,
// so that the benchmark tests the server from the outside.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlock = 512;
constexpr std::size_t kMaxPacket = 4 + kBlock;

enum Opcode : std::uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5 };

inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

// RRQ or WRQ for `name` in octet mode, without options. Returns its length.
inline std::size_t BuildRequest(std::uint8_t* out, std::uint16_t opcode, const std::string& name) {
    PutU16(out, opcode);
    std::memcpy(out + 2, name.c_str(), name.size() + 1);
    std::memcpy(out + 3 + name.size(), "octet", 6);
    return 2 + name.size() + 1 + 6;
}

inline sockaddr_in Address(const std::string& host, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    return a;
}

// Whole file into memory; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& into);

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace bench
