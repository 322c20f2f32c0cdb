#include "tftp/transfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "app/serve_dir.h"
#include "log/catalogue.h"
#include "log/log.h"
#include "pack/language_pack.h"
#include "tftp/errors.h"
#include "tftp/packet.h"
#include "tftp/transfer_logic.h"
#include "tftp/udp.h"

namespace revuzada {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDrainLimit = 1024;  // a client flooding its own socket cannot keep us draining

// The transfer socket, connected to the client: sends to it alone, hears from it alone.
// Waits for a datagram until the deadline of the last send.
class Channel {
public:
    Channel(int fd, int timeoutSeconds) : fd_(fd), timeout_(std::chrono::seconds(timeoutSeconds)) {}

    bool Send(std::span<const std::uint8_t> packet) {
        deadline_ = Clock::now() + timeout_;
        return ::send(fd_, packet.data(), packet.size(), 0) == static_cast<ssize_t>(packet.size());
    }

    enum class Got { Datagram, Timeout, Failure };
    // A datagram over the largest packet is a failure with EMSGSIZE.
    Got Receive(std::span<std::uint8_t> buffer, std::size_t& length) {
        for (;;) {
            const auto left = deadline_ - Clock::now();
            if (left <= Clock::duration::zero()) return Got::Timeout;
            SetWait(left);
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_TRUNC);
            if (n >= 0) {
                if (static_cast<std::size_t>(n) > buffer.size()) {
                    errno = EMSGSIZE;
                    return Got::Failure;
                }
                length = static_cast<std::size_t>(n);
                return Got::Datagram;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Got::Timeout;
            return Got::Failure;
        }
    }

    // Discards what is queued, without waiting for more.
    void Drain() {
        std::uint8_t scratch[kTftpMaxPacket];
        for (int i = 0; i < kDrainLimit; ++i) {
            if (::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT) < 0 && errno != EINTR) return;
        }
    }

private:
    // The socket's receive time-out is changed only when the wait differs from the one set:
    // on the usual path (a send, then one reply) it is never touched.
    void SetWait(Clock::duration left) {
        auto wait = std::chrono::duration_cast<std::chrono::microseconds>(left);
        if (wait >= timeout_ - std::chrono::milliseconds(50)) wait = timeout_;
        if (wait == currentWait_) return;
        if (wait.count() <= 0) wait = std::chrono::microseconds(1);
        timeval tv{static_cast<time_t>(wait.count() / 1000000),
                   static_cast<suseconds_t>(wait.count() % 1000000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        currentWait_ = wait;
    }

    int fd_;
    std::chrono::microseconds timeout_;
    std::chrono::microseconds currentWait_{0};
    Clock::time_point deadline_ = Clock::now();
};

// Opens a file for a download: regular files only, and without ever blocking on a FIFO.
// O_NONBLOCK stays set: it changes nothing for a regular file.
int OpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int OpenForWriting(const std::string& path) {
    // rw for everyone the umask allows; uploads are data, never made executable. Not truncated
    // here: see the first block in RunWriteTransfer.
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
}

// A download's file, read ahead a chunk at a time: one read() serves 64 blocks. A read that
// returns less than was asked of a regular file has reached its end, and the file is not read
// again: a 100-byte file costs one read().
class BlockReader {
public:
    explicit BlockReader(int fd) : fd_(fd) {}

    // Fills `into` with the file's next bytes; fewer at its end. -1 (errno set) on a failed read.
    ssize_t Next(std::span<std::uint8_t> into) {
        std::size_t got = 0;
        while (got < into.size()) {
            if (next_ == end_) {
                if (atEnd_) break;
                const ssize_t n = ::read(fd_, chunk_.data(), chunk_.size());
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return -1;
                next_ = 0;
                end_ = static_cast<std::size_t>(n);
                atEnd_ = end_ < chunk_.size();
                continue;
            }
            const std::size_t take = std::min(into.size() - got, end_ - next_);
            std::memcpy(into.data() + got, chunk_.data() + next_, take);
            got += take;
            next_ += take;
        }
        return static_cast<ssize_t>(got);
    }

private:
    int fd_;
    std::array<std::uint8_t, 64 * kTftpBlockSize> chunk_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// Waits for the client and asks the transfer what to do with what came (or did not come).
// A failed receive is logged with `failureLine` and gives nullopt: the transfer ends.
template <typename Transfer>
std::optional<Step> AwaitStep(Channel& channel, Transfer& transfer,
                              std::array<std::uint8_t, kTftpMaxPacket>& received, int failureLine,
                              std::size_t* receivedLength = nullptr) {
    std::size_t length = 0;
    switch (channel.Receive(received, length)) {
    case Channel::Got::Failure:
        LogEvent(LoadText(failureLine));
        return std::nullopt;
    case Channel::Got::Timeout:
        return transfer.OnTimeout();
    case Channel::Got::Datagram:
        break;
    }
    if (receivedLength) *receivedLength = length;
    return transfer.OnDatagram({received.data(), length});
}

void RunReadTransfer(Channel& channel, int sock, int file, const std::string& path,
                     const TransferLimits& limits) {
    LogEvent(LoadText(IDS_READ_START), path);
    ReadTransfer transfer(limits.retries);
    std::array<std::uint8_t, kTftpMaxPacket> received;
    BlockReader reader(file);

    auto loadAndSend = [&]() {
        const ssize_t n = reader.Next(transfer.Payload());
        if (n < 0) {
            SendTftpError(sock, errno + kRuntimeErrorBase);
            return false;
        }
        transfer.BlockLoaded(static_cast<std::size_t>(n));
        if (!channel.Send(transfer.Packet())) {
            LogEvent(LoadText(IDS_DATA_SEND_FAILED));
            return false;
        }
        return true;
    };

    if (!loadAndSend()) return;
    for (;;) {
        const auto next = AwaitStep(channel, transfer, received, IDS_ACK_RECV_FAILED);
        if (!next) return;
        const Step step = *next;
        if (step.drainFirst) channel.Drain();
        switch (step.action) {
        case Step::Do::Wait:
        case Step::Do::Store:
            break;
        case Step::Do::End:
            LogEvent(LoadText(step.logId), path);  // texts without arguments ignore it
            return;
        case Step::Do::Resend:
            if (step.logId) LogEvent(LoadText(step.logId));
            if (!channel.Send(transfer.Packet())) {
                LogEvent(LoadText(IDS_DATA_SEND_FAILED));
                return;
            }
            break;
        case Step::Do::SendNext:
            if (!loadAndSend()) return;
            break;
        }
    }
}

void RunWriteTransfer(Channel& channel, int sock, int file, const std::string& path,
                      const TransferLimits& limits) {
    LogEvent(LoadText(IDS_WRITE_START), path);
    WriteTransfer transfer(limits.retries);
    std::array<std::uint8_t, kTftpMaxPacket> received;

    auto sendAck = [&]() {
        if (channel.Send(transfer.Ack())) return true;
        LogEvent(LoadText(IDS_ACK_SEND_FAILED));
        return false;
    };

    if (!sendAck()) return;
    // The old content goes when the first block comes, not at the request: a client that
    // repeats its request because our first ACK was late starts a second upload of the same
    // file, which receives nothing (the client talks to the first) and must not empty the file
    // under the first, or after it.
    bool emptied = false;
    for (;;) {
        std::size_t length = 0;
        const auto next = AwaitStep(channel, transfer, received, IDS_DATA_RECV_FAILED, &length);
        if (!next) return;
        const Step step = *next;
        switch (step.action) {
        case Step::Do::Wait:
            break;
        case Step::Do::End:
            LogEvent(LoadText(step.logId), path);
            return;
        case Step::Do::Resend:
        case Step::Do::SendNext:
            if (!sendAck()) return;
            break;
        case Step::Do::Store: {
            if (!emptied && ::ftruncate(file, 0) == 0) emptied = true;
            if (!emptied ||
                !WriteAll(file, std::span<const std::uint8_t>(received.data() + 4, length - 4))) {
                const int error = errno;
                LogEvent(LoadText(IDS_WRITE_FAILED), path, error);
                SendTftpError(sock, error == ENOSPC || error == EDQUOT
                                        ? kTftpErrorDiskFull
                                        : error + kRuntimeErrorBase);
                return;
            }
            const Step after = transfer.BlockStored();
            if (!sendAck()) return;
            if (after.action == Step::Do::End) {
                LogEvent(LoadText(after.logId), path);
                return;
            }
            break;
        }
        }
    }
}

}  // namespace

int TftpTransferThread(std::unique_ptr<TftpRequest> record, const TransferLimits& limits) {
    const TftpRequest request = *record;
    record.reset();

    const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0 || ::connect(sock, reinterpret_cast<const sockaddr*>(&request.sender),
                              sizeof request.sender) != 0) {
        LogEvent(LoadText(IDS_CONNECT_FAILED), errno);
        if (sock >= 0) ::close(sock);
        return -10;
    }
    const std::string client = DottedAddress(request.sender);
    LogEvent(LoadText(IDS_NEW_REQUEST), client);

    int result = 0;
    const ParsedRequest parsed = ParseRequest({request.datagram.data(), request.length});
    switch (parsed.kind) {
    case ParsedRequest::Kind::TooShort:
        LogEvent(LoadText(IDS_BAD_REQUEST), client);
        break;
    case ParsedRequest::Kind::Unterminated:
        LogEvent(LoadText(IDS_BAD_REQUEST), client);
        SendTftpError(sock, kTftpErrorIllegalOperation);
        break;
    case ParsedRequest::Kind::OtherOpcode:
        LogEvent(LoadText(IDS_BAD_OPCODE), static_cast<int>(parsed.opcode));
        break;
    case ParsedRequest::Kind::Ok: {
        const auto relative = ServedRelativePath(parsed.name);
        if (!relative) {
            LogEvent(LoadText(IDS_ACCESS_DENIED), parsed.name);
            SendTftpError(sock, kTftpErrorAccessViolation);
            break;
        }
        const std::string path = ServeDir() + *relative;
        const bool reading = parsed.opcode == kRrq;
        const int file = reading ? OpenForReading(path) : OpenForWriting(path);
        if (file < 0) {
            const int error = errno;
            LogEvent(LoadText(IDS_OPEN_FAILED), path);
            SendTftpError(sock, error + kRuntimeErrorBase);
            result = -20;
            break;
        }
        Channel channel(sock, limits.timeoutSeconds);
        if (reading) RunReadTransfer(channel, sock, file, path, limits);
        else RunWriteTransfer(channel, sock, file, path, limits);
        ::close(file);
        break;
    }
    }
    ::close(sock);
    return result;
}

}  // namespace revuzada
