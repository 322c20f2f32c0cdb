#include "notify/listener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <span>
#include <thread>

#include "log/catalogue.h"
#include "log/log.h"
#include "notify/handler.h"
#include "notify/packet.h"
#include "pack/language_pack.h"
#include "tftp/udp.h"

namespace revuzada {

namespace {

constexpr int kPollMs = 1000;
// A wait that fails is not reported; the next one starts after this pause, so a wait that keeps
// failing cannot turn the loop into a busy spin.
constexpr auto kFailedWaitPause = std::chrono::milliseconds(100);

// Takes one datagram off the port and handles it. The buffer is one byte longer than a
// datagram, and MSG_TRUNC reports a longer datagram's full length, so anything over 20 bytes is
// seen as such. Only the bytes of this datagram are handed on.
void ReceiveNotification(int port, const std::string& imagePath) {
    std::array<std::uint8_t, kNotifyPacketSize + 1> buffer{};
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    const ssize_t n = ::recvfrom(port, buffer.data(), buffer.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;  // nothing there
        LogEvent(LoadText(IDS_RECVFROM_FAILED), errno);
        return;
    }
    const std::size_t received = std::min(static_cast<std::size_t>(n), buffer.size());
    HandleNotify(port, sender, std::span<const std::uint8_t>(buffer.data(), received), imagePath);
}

}  // namespace

int NotifyListenThread(const std::atomic<int>& stop, const NotifyListenerConfig& config) {
    const int port = OpenServicePortOrEnd(config.port, config.address, IDS_NOTIFY_PORT_FAILED);

    while (!stop.load(std::memory_order_relaxed)) {
        const int ready = WaitReadable(port, kPollMs);
        if (ready < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(kFailedWaitPause);
            continue;
        }
        if (ready > 0) ReceiveNotification(port, config.imagePath);
    }

    ::close(port);
    return 0;
}

}  // namespace revuzada
