// The load client: N transfers (or notification queries) at a time from one thread, each in
// lock-step with its server, every byte checked. One epoll loop drives all of them, so the
// client adds as little work as it can to the CPU it shares with the server.

#include "load_client.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace bench {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& into) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    into.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

namespace {

constexpr std::array<std::uint8_t, 4> kNotifyMagic = {'N', 'Q', 'V', 'Z'};
constexpr std::size_t kNotifySize = 20;
constexpr auto kScanEvery = std::chrono::milliseconds(20);  // deadline checks

struct Slot {
    int fd = -1;
    bool busy = false;
    int index = 0;            // which transfer of the run
    std::uint16_t tid = 0;    // the server's port for this transfer (network order); 0 before
    std::uint16_t block = 0;  // get: DATA block expected; put: block waiting for its ACK
    std::size_t offset = 0;   // bytes moved so far
    std::size_t lastData = 0; // put: payload length of the DATA outstanding
    bool dataSent = false;    // put: past ACK 0 (block numbers wrap, so 0 alone cannot tell)
    bool mismatch = false;
    std::array<std::uint8_t, kMaxPacket> last{};  // the packet a time-out sends again
    std::size_t lastLength = 0;
    sockaddr_in lastTo{};
    Clock::time_point deadline;
    int retriesUsed = 0;
};

class Runner {
public:
    explicit Runner(const ClientOptions& o) : o_(o), server_(Address(o.host, o.port)) {}

    bool Prepare(std::string& error) {
        if (o_.op == "get" || o_.op == "put") {
            if (!ReadWholeFile(o_.contentPath, content_)) {
                error = "cannot read " + o_.contentPath;
                return false;
            }
        }
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        slots_.resize(static_cast<std::size_t>(std::max(1, std::min(o_.concurrency, o_.count))));
        return epoll_ >= 0;
    }

    ClientResult Run() {
        ClientResult r;
        r.op = o_.op;
        r.count = o_.count;
        const auto start = Clock::now();
        const auto hardStop = start + std::chrono::milliseconds(static_cast<long>(o_.maxSeconds * 1000));
        auto nextScan = start + kScanEvery;
        for (Slot& s : slots_) free_.push_back(&s);
        StartWaiting();
        std::array<epoll_event, 64> events;
        std::array<std::uint8_t, 2048> buffer;
        while (finished_ < o_.count) {
            const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
                                       static_cast<int>(kScanEvery.count()));
            for (int i = 0; i < n; ++i) {
                Slot& s = *static_cast<Slot*>(events[static_cast<std::size_t>(i)].data.ptr);
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t got = ::recvfrom(s.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                               reinterpret_cast<sockaddr*>(&from), &fromLength);
                if (got < 0) continue;
                OnDatagram(s, buffer.data(), static_cast<std::size_t>(got), from);
            }
            StartWaiting();
            const auto now = Clock::now();
            if (now >= hardStop) break;
            if (n == 0 || now >= nextScan) {
                nextScan = now + kScanEvery;
                for (Slot& s : slots_) {
                    if (s.busy && now >= s.deadline) OnTimeout(s);
                }
            }
        }
        const auto end = Clock::now();
        // What is still running when the time is up counts as failed.
        stopping_ = true;
        for (Slot& s : slots_) {
            if (s.busy) Finish(s, false);
        }
        failures_ += static_cast<std::uint64_t>(o_.count - started_);
        if (o_.op == "put" && !o_.checkDir.empty()) VerifyUploads();
        r.seconds = Seconds(end - start);
        r.ok = ok_;
        r.failures = failures_;
        r.bytes = bytes_;
        r.blocks = blocks_;
        r.resends = resends_;
        return r;
    }

    ~Runner() {
        for (Slot& s : slots_) {
            if (s.fd >= 0) ::close(s.fd);
        }
        if (epoll_ >= 0) ::close(epoll_);
    }

private:
    std::string UploadName(int index) const {
        return o_.count > 1 ? o_.name + "." + std::to_string(index) : o_.name;
    }

    // Free slots take the next transfers, while there are any to start.
    void StartWaiting() {
        while (!free_.empty() && started_ < o_.count) {
            Slot* s = free_.back();
            free_.pop_back();
            Begin(*s);
        }
    }

    bool OpenSocket(Slot& s) {
        s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (s.fd < 0) return false;
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.ptr = &s;
        return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, s.fd, &e) == 0;
    }

    void Send(Slot& s, std::size_t length, const sockaddr_in& to) {
        s.lastLength = length;
        s.lastTo = to;
        s.deadline = Clock::now() + std::chrono::milliseconds(o_.timeoutMs);
        ::sendto(s.fd, s.last.data(), length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    sockaddr_in Tid(const Slot& s) const {
        sockaddr_in to = server_;
        to.sin_port = s.tid;
        return to;
    }

    void Begin(Slot& s) {
        s.busy = true;
        s.index = started_++;
        s.tid = 0;
        s.offset = 0;
        s.mismatch = false;
        s.dataSent = false;
        s.retriesUsed = 0;
        if (o_.op == "notify") {
            if (s.fd < 0 && !OpenSocket(s)) return Finish(s, false);
            s.last.fill(0);
            std::copy(kNotifyMagic.begin(), kNotifyMagic.end(), s.last.begin());
            return Send(s, kNotifySize, server_);
        }
        if (!OpenSocket(s)) return Finish(s, false);
        if (o_.op == "get") {
            s.block = 1;
            return Send(s, BuildRequest(s.last.data(), kRrq, o_.name), server_);
        }
        s.block = 0;
        Send(s, BuildRequest(s.last.data(), kWrq, UploadName(s.index)), server_);
    }

    void Finish(Slot& s, bool success) {
        s.busy = false;
        ++finished_;
        if (success) {
            ++ok_;
            if (o_.op == "put") uploaded_.push_back(s.index);
        } else {
            ++failures_;
        }
        if (o_.op != "notify" || !success) {
            if (s.fd >= 0) ::close(s.fd);
            s.fd = -1;
        }
        if (!stopping_) free_.push_back(&s);
    }

    void OnTimeout(Slot& s) {
        if (s.retriesUsed >= o_.retries) return Finish(s, false);
        ++s.retriesUsed;
        ++resends_;
        Send(s, s.lastLength, s.lastTo);
    }

    void OnDatagram(Slot& s, const std::uint8_t* p, std::size_t n, const sockaddr_in& from) {
        if (!s.busy || from.sin_addr.s_addr != server_.sin_addr.s_addr) return;
        if (o_.op == "notify") return OnNotifyReply(s, p, n, from);
        if (n < 4) return;
        if (s.tid == 0) s.tid = from.sin_port;  // the first answer fixes the transfer's port
        if (from.sin_port != s.tid) return;      // another transfer's packet: not ours
        const std::uint16_t opcode = GetU16(p);
        if (opcode == kError) return Finish(s, false);
        if (o_.op == "get") return OnData(s, p, n, opcode);
        OnAck(s, p, opcode);
    }

    void OnData(Slot& s, const std::uint8_t* p, std::size_t n, std::uint16_t opcode) {
        if (opcode != kData || n > kMaxPacket) return;
        const std::uint16_t block = GetU16(p + 2);
        if (block == static_cast<std::uint16_t>(s.block - 1)) {  // our ACK was lost: again
            ++resends_;
            return Send(s, s.lastLength, s.lastTo);
        }
        if (block != s.block) return;
        const std::size_t payload = n - 4;
        if (s.offset + payload > content_.size() ||
            std::memcmp(content_.data() + s.offset, p + 4, payload) != 0)
            s.mismatch = true;
        s.offset += payload;
        bytes_ += payload;
        ++blocks_;
        PutU16(s.last.data(), kAck);
        PutU16(s.last.data() + 2, block);
        s.retriesUsed = 0;
        Send(s, 4, Tid(s));
        ++s.block;
        if (payload < kBlock) Finish(s, !s.mismatch && s.offset == content_.size());
    }

    void OnAck(Slot& s, const std::uint8_t* p, std::uint16_t opcode) {
        if (opcode != kAck || GetU16(p + 2) != s.block) return;  // repeated ACKs are ignored
        if (s.dataSent) {
            s.offset += s.lastData;
            bytes_ += s.lastData;
            ++blocks_;
            if (s.lastData < kBlock) return Finish(s, true);
        }
        ++s.block;
        s.dataSent = true;
        s.lastData = std::min(kBlock, content_.size() - s.offset);
        PutU16(s.last.data(), kData);
        PutU16(s.last.data() + 2, s.block);
        std::memcpy(s.last.data() + 4, content_.data() + s.offset, s.lastData);
        s.retriesUsed = 0;
        Send(s, 4 + s.lastData, Tid(s));
    }

    void OnNotifyReply(Slot& s, const std::uint8_t* p, std::size_t n, const sockaddr_in& from) {
        if (from.sin_port != server_.sin_port) return;
        bool valid = n == kNotifySize;
        if (valid) {
            const bool present = std::equal(kNotifyMagic.begin(), kNotifyMagic.end(), p);
            valid = std::all_of(p + (present ? 4 : 0), p + kNotifySize,
                                [](std::uint8_t b) { return b == 0; });
        }
        ++blocks_;
        Finish(s, valid);
    }

    void VerifyUploads() {
        std::vector<std::uint8_t> stored;
        for (int index : uploaded_) {
            if (!ReadWholeFile(o_.checkDir + "/" + UploadName(index), stored) || stored != content_) {
                --ok_;
                ++failures_;
            }
        }
    }

    const ClientOptions& o_;
    sockaddr_in server_;
    std::vector<std::uint8_t> content_;
    std::vector<Slot> slots_;
    std::vector<Slot*> free_;  // slots between transfers
    std::vector<int> uploaded_;
    int epoll_ = -1;
    bool stopping_ = false;
    int started_ = 0;
    int finished_ = 0;
    std::uint64_t ok_ = 0, failures_ = 0, bytes_ = 0, blocks_ = 0, resends_ = 0;
};

}  // namespace

bool RunClient(const ClientOptions& options, ClientResult& result, std::string& error) {
    Runner runner(options);
    if (!runner.Prepare(error)) return false;
    result = runner.Run();
    return true;
}

std::string ResultJson(const ClientResult& r) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"op\": \"%s\", \"count\": %d, \"ok\": %llu, \"failures\": %llu, "
                  "\"bytes\": %llu, \"blocks\": %llu, \"resends\": %llu, \"seconds\": %.6f}",
                  r.op.c_str(), r.count, static_cast<unsigned long long>(r.ok),
                  static_cast<unsigned long long>(r.failures),
                  static_cast<unsigned long long>(r.bytes),
                  static_cast<unsigned long long>(r.blocks),
                  static_cast<unsigned long long>(r.resends), r.seconds);
    return text;
}

}  // namespace bench
