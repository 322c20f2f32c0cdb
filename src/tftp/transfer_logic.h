#pragma once
// The protocol decisions of one transfer, apart from sockets, files and clocks: each takes
// what arrived (a datagram, or the end of a wait) and says what to do next.

#include <array>
#include <cstdint>
#include <span>

#include "tftp/request.h"

namespace revuzada {

struct Step {
    enum class Do {
        Wait,      // keep waiting; the deadline of the current wait stands
        SendNext,  // read: load and send the next block; write: send the current ACK
        Resend,    // send the last packet again, unchanged
        Store,     // write: store the DATA bytes after the 4-byte header, then BlockStored()
        End,       // the transfer is over
    } action = Do::Wait;
    bool drainFirst = false;  // discard the datagrams queued on the socket before acting
    int logId = 0;            // catalogue line to log (0: none)
};

// Resends after silent waits, shared by both directions: a wait that runs out resends the
// last packet up to `retries` times, and the wait after the last resend gives up.
class Patience {
public:
    explicit Patience(int retries) : retries_(retries) {}
    Step OnTimeout();
    void Progress() { used_ = 0; }

private:
    int retries_;
    int used_ = 0;
};

// A download: lock-step DATA blocks of 512 bytes from block 1, the counter wrapping after 65535.
class ReadTransfer {
public:
    explicit ReadTransfer(int retries) : patience_(retries) {}

    // Where the next block's bytes go, then how many were read.
    std::span<std::uint8_t> Payload() { return {packet_.data() + 4, kTftpBlockSize}; }
    void BlockLoaded(std::size_t n);
    std::span<const std::uint8_t> Packet() const { return {packet_.data(), 4 + length_}; }
    std::uint16_t block() const { return block_; }

    Step OnDatagram(std::span<const std::uint8_t> datagram);
    Step OnTimeout() { return patience_.OnTimeout(); }

private:
    std::array<std::uint8_t, kTftpMaxPacket> packet_{};
    std::size_t length_ = 0;
    std::uint16_t block_ = 1;
    Patience patience_;
};

// An upload: ACK 0 for the request, then each DATA block k stored and answered with ACK k.
class WriteTransfer {
public:
    explicit WriteTransfer(int retries) : patience_(retries) {}

    std::span<const std::uint8_t> Ack() const { return ack_; }
    std::uint16_t expected() const { return expected_; }

    Step OnDatagram(std::span<const std::uint8_t> datagram);
    // The block that OnDatagram asked to store is stored: ACK it (End after the ACK for the last).
    Step BlockStored();
    Step OnTimeout() { return patience_.OnTimeout(); }

private:
    std::array<std::uint8_t, 4> ack_{0, 4, 0, 0};
    std::uint16_t expected_ = 1;
    bool lastBlock_ = false;
    Patience patience_;
};

}  // namespace revuzada
