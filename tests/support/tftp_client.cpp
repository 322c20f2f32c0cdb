#include "support/tftp_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace revuzada::test {

namespace {

std::string U16(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::uint16_t GetU16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(s[at]) << 8) |
                                      static_cast<std::uint8_t>(s[at + 1]));
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

std::string RequestPacket(std::uint16_t opcode, const std::string& name, const std::string& mode) {
    return U16(opcode) + name + std::string(1, '\0') + mode + std::string(1, '\0');
}
std::string AckPacket(std::uint16_t block) { return U16(4) + U16(block); }
std::string DataPacket(std::uint16_t block, const std::string& data) {
    return U16(3) + U16(block) + data;
}

UdpPeer::UdpPeer() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a = Loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

UdpPeer::~UdpPeer() { ::close(fd_); }

void UdpPeer::SendTo(std::uint16_t port, const std::string& bytes) {
    sockaddr_in a = Loopback(port);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

void UdpPeer::SendBurstTo(std::uint16_t port, const std::vector<std::string>& datagrams) {
    sockaddr_in a = Loopback(port);
    std::vector<iovec> iov(datagrams.size());
    std::vector<mmsghdr> msgs(datagrams.size());
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        iov[i] = {const_cast<char*>(datagrams[i].data()), datagrams[i].size()};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = &a;
        msgs[i].msg_hdr.msg_namelen = sizeof a;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    ::sendmmsg(fd_, msgs.data(), static_cast<unsigned>(msgs.size()), 0);
}

std::optional<std::string> UdpPeer::Receive(std::chrono::milliseconds limit, std::uint16_t* fromPort) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    if (fromPort) *fromPort = ntohs(from.sin_port);
    return std::string(buf, static_cast<std::size_t>(n));
}

namespace {
bool IsError(const std::string& p, TransferResult& r) {
    if (p.size() < 4 || GetU16(p, 0) != 5) return false;
    r.errorCode = GetU16(p, 2);
    r.errorText = p.substr(4, p.find('\0', 4) == std::string::npos ? std::string::npos : p.find('\0', 4) - 4);
    r.failure = "ERROR " + std::to_string(*r.errorCode) + ": " + r.errorText;
    return true;
}
}  // namespace

TransferResult Download(std::uint16_t port, const std::string& name, std::chrono::milliseconds wait) {
    TransferResult r;
    UdpPeer peer;
    peer.SendTo(port, RequestPacket(1, name));
    std::uint16_t expected = 1;
    std::uint16_t tid = 0;
    for (;;) {
        std::uint16_t from = 0;
        auto p = peer.Receive(wait, &from);
        if (!p) { r.failure = "no DATA " + std::to_string(expected); return r; }
        if (IsError(*p, r)) return r;
        if (p->size() < 4 || GetU16(*p, 0) != 3) { r.failure = "not DATA"; return r; }
        if (tid == 0) tid = from;
        const std::uint16_t block = GetU16(*p, 2);
        if (block != expected) continue;  // a resend of the previous one
        r.data += p->substr(4);
        peer.SendTo(tid, AckPacket(block));
        if (p->size() < 516) { r.ok = true; return r; }
        ++expected;
    }
}

TransferResult Upload(std::uint16_t port, const std::string& name, const std::string& data,
                      std::chrono::milliseconds wait) {
    TransferResult r;
    UdpPeer peer;
    std::uint16_t tid = port;
    auto expectAck = [&](std::uint16_t block) {
        std::uint16_t from = 0;
        auto p = peer.Receive(wait, &from);
        if (!p) { r.failure = "no ACK " + std::to_string(block); return false; }
        if (IsError(*p, r)) return false;
        if (p->size() < 4 || GetU16(*p, 0) != 4 || GetU16(*p, 2) != block) {
            r.failure = "unexpected packet instead of ACK " + std::to_string(block);
            return false;
        }
        tid = from;
        return true;
    };
    peer.SendTo(port, RequestPacket(2, name));
    if (!expectAck(0)) return r;
    std::uint16_t block = 1;
    for (std::size_t offset = 0;; offset += 512, ++block) {
        const std::string chunk = data.substr(std::min(offset, data.size()), 512);
        peer.SendTo(tid, DataPacket(block, chunk));
        if (!expectAck(block)) return r;
        if (chunk.size() < 512) {
            r.ok = true;
            return r;
        }
    }
}

}  // namespace revuzada::test
