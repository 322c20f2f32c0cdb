#pragma once
// A raw TFTP client over loopback for tests: lock-step octet transfers without options, and
// the single packets that tests need to send by hand.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace revuzada::test {

using namespace std::chrono_literals;

std::string RequestPacket(std::uint16_t opcode, const std::string& name,
                          const std::string& mode = "octet");
std::string AckPacket(std::uint16_t block);
std::string DataPacket(std::uint16_t block, const std::string& data);

class UdpPeer {
public:
    UdpPeer();  // bound to 127.0.0.1 on a free port
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    void SendTo(std::uint16_t port, const std::string& bytes);
    // Sends several datagrams in one system call, so they arrive back to back.
    void SendBurstTo(std::uint16_t port, const std::vector<std::string>& datagrams);
    // The next datagram and the port it came from, or nullopt after `limit`.
    std::optional<std::string> Receive(std::chrono::milliseconds limit, std::uint16_t* fromPort = nullptr);

private:
    int fd_;
};

struct TransferResult {
    bool ok = false;
    std::string data;              // downloaded bytes
    std::optional<int> errorCode;  // ERROR packet received
    std::string errorText;
    std::string failure;           // what went wrong, for messages
};

TransferResult Download(std::uint16_t port, const std::string& name,
                        std::chrono::milliseconds wait = 3s);
TransferResult Upload(std::uint16_t port, const std::string& name, const std::string& data,
                      std::chrono::milliseconds wait = 3s);

}  // namespace revuzada::test
