#pragma once
// TFTP packets on the wire: every 16-bit field in network byte order.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tftp/request.h"

namespace revuzada {

enum TftpOpcode : std::uint16_t { kRrq = 1, kWrq = 2, kData = 3, kAck = 4, kError = 5 };

inline std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

// Opcode and block number of a DATA, ACK or ERROR datagram; nullopt under 4 bytes.
struct PacketHeader {
    std::uint16_t opcode;
    std::uint16_t block;  // the error code for ERROR
};
std::optional<PacketHeader> ParseHeader(std::span<const std::uint8_t> datagram);

// A request datagram as the transfer thread reads it.
struct ParsedRequest {
    enum class Kind {
        Ok,            // RRQ or WRQ with a name ending in a zero byte
        TooShort,      // no opcode
        Unterminated,  // RRQ or WRQ whose name has no zero byte within the datagram
        OtherOpcode,   // neither RRQ nor WRQ
    } kind;
    std::int16_t opcode = 0;  // as a signed 16-bit number
    std::string name;         // bytes from offset 2 up to the zero byte
};
ParsedRequest ParseRequest(std::span<const std::uint8_t> datagram);

// The requested name as a path below the served directory: '\' becomes '/'. Names with a ".."
// component are refused (nullopt), even those that would stay inside.
std::optional<std::string> ServedRelativePath(std::string_view name);

}  // namespace revuzada
