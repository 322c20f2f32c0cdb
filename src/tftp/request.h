#pragma once

#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace revuzada {

constexpr std::size_t kTftpBlockSize = 512;
constexpr std::size_t kTftpMaxPacket = 4 + kTftpBlockSize;

// One request datagram and its sender, handed from the request listener to the transfer
// thread that serves it.
struct TftpRequest {
    sockaddr_in sender{};
    std::array<std::uint8_t, kTftpMaxPacket> datagram{};
    std::size_t length = 0;  // bytes received; nothing past them is ever read
};

// How a transfer waits for its client.
struct TransferLimits {
    int timeoutSeconds = 5;  // wait for each packet
    int retries = 5;         // resends before a silent client's transfer is abandoned
};

}  // namespace revuzada
