#include "tftp/listener.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "app/serve_dir.h"
#include "log/catalogue.h"
#include "log/log.h"
#include "pack/language_pack.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "tftp/transfer.h"
#include "tftp/udp.h"

namespace revuzada {

namespace {

constexpr int kPollMs = 1000;

void LogLocalAddress() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return;
    const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const std::string address = DottedAddress(*first);
    ::freeaddrinfo(found);
    LogEvent(LoadText(IDS_LOCAL_ADDRESS), address);
}

// Takes one datagram off the port. A datagram over the largest packet is not delivered: it is
// a receive failure with EMSGSIZE.
void ReceiveRequest(int port, const TransferLimits& limits) {
    auto request = std::make_unique<TftpRequest>();
    socklen_t senderLength = sizeof request->sender;
    const ssize_t n = ::recvfrom(port, request->datagram.data(), request->datagram.size(),
                                 MSG_TRUNC, reinterpret_cast<sockaddr*>(&request->sender),
                                 &senderLength);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;  // nothing queued after all
        LogEvent(LoadText(IDS_RECVFROM_FAILED), errno);
        return;
    }
    if (static_cast<std::size_t>(n) > request->datagram.size()) {
        LogEvent(LoadText(IDS_RECVFROM_FAILED), EMSGSIZE);
        return;
    }
    request->length = static_cast<std::size_t>(n);
    StartTransferThread(std::move(request), limits);
}

}  // namespace

void StartTransferThread(std::unique_ptr<TftpRequest> request, const TransferLimits& limits) {
    try {
        std::thread([request = std::move(request), limits]() mutable {
            TftpTransferThread(std::move(request), limits);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the request goes unanswered and the client will ask again.
    }
}

int TftpListenThread(const std::atomic<int>& stop, const TftpListenerConfig& config) {
    AttachLog(config.logFilePath);
    SetServeDir(config.serveDir);

    const int port = OpenUdpPort(config.port, true, config.address);
    if (port < 0) {
        ShowMessageBox(std::string(LoadText(IDS_TFTP_PORT_FAILED)), "msg");
        FlushLogList();
        CloseLogFile();
        EndProcess(0);
    }

    LogLocalAddress();

    while (!stop.load(std::memory_order_relaxed)) {
        const int ready = WaitReadable(port, kPollMs);
        if (ready < 0) {
            if (errno != EINTR) LogEvent(LoadText(IDS_SELECT_FAILED), errno);
            continue;
        }
        if (ready > 0) ReceiveRequest(port, config.limits);
    }

    CloseLogFile();
    ::close(port);
    return 0;
}

}  // namespace revuzada
