// The reference responder: the least a lock-step TFTP server can do. Files are held in memory,
// uploads are acknowledged and dropped, nothing is logged. What it reaches on a workload is the
// ceiling a real server is measured against in the same round.
//
//   loop     one thread, one epoll loop over every transfer's socket
//   threads  a thread per transfer, blocking on its own socket (threads are kept and reused)

#include "responder.h"

#include <dirent.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace bench {

namespace {

constexpr auto kTimeout = std::chrono::seconds(1);
constexpr int kRetries = 5;

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

using Files = std::map<std::string, std::vector<std::uint8_t>>;

Files LoadFiles(const std::string& dir) {
    Files files;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return files;
    while (dirent* e = ::readdir(d)) {
        const std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        ReadWholeFile(path, files[e->d_name]);
    }
    ::closedir(d);
    return files;
}

// One transfer's state, whichever way it is driven.
struct Session {
    int fd = -1;
    bool writing = false;
    const std::vector<std::uint8_t>* file = nullptr;
    std::uint16_t block = 0;  // read: DATA outstanding; write: last block acknowledged
    std::size_t offset = 0;
    std::array<std::uint8_t, kMaxPacket> packet{};
    std::size_t length = 0;
    Clock::time_point deadline;
    int retries = 0;

    void Send() {
        ::send(fd, packet.data(), length, 0);
        deadline = Clock::now() + kTimeout;
    }
    void LoadBlock() {
        const std::size_t n = std::min(kBlock, file->size() - offset);
        PutU16(packet.data(), kData);
        PutU16(packet.data() + 2, block);
        std::memcpy(packet.data() + 4, file->data() + offset, n);
        length = 4 + n;
    }
    void LoadAck() {
        PutU16(packet.data(), kAck);
        PutU16(packet.data() + 2, block);
        length = 4;
    }
    // The first packet of the transfer.
    void Start() {
        block = writing ? 0 : 1;
        if (writing) LoadAck();
        else LoadBlock();
        Send();
    }
    // A datagram from the client: false once the transfer is over.
    bool On(const std::uint8_t* p, std::size_t n) {
        if (n < 4) return true;
        const std::uint16_t opcode = GetU16(p);
        const std::uint16_t got = GetU16(p + 2);
        if (opcode == kError) return false;
        if (!writing) {
            if (opcode != kAck || got != block) return true;
            if (length < kMaxPacket) return false;
            offset += kBlock;
            ++block;
            LoadBlock();
        } else {
            if (opcode != kData) return true;
            if (got == block) {  // our ACK went missing: answer again
                Send();
                return true;
            }
            if (got != static_cast<std::uint16_t>(block + 1)) return true;
            ++block;
            LoadAck();
            if (n < kMaxPacket) {
                Send();
                return false;
            }
        }
        retries = 0;
        Send();
        return true;
    }
    bool OnTimeout() {
        if (++retries > kRetries) return false;
        Send();
        return true;
    }
};

// A request on the main port: a connected socket and a session for it, or an ERROR reply.
bool OpenSession(int port, const Files& files, const std::uint8_t* p, std::size_t n,
                 const sockaddr_in& client, Session& s) {
    if (n < 4) return false;
    const std::uint16_t opcode = GetU16(p);
    if (opcode != kRrq && opcode != kWrq) return false;
    const void* zero = std::memchr(p + 2, 0, n - 2);
    if (!zero) return false;
    std::string name(reinterpret_cast<const char*>(p + 2), static_cast<const std::uint8_t*>(zero) - (p + 2));
    if (!name.empty() && name[0] == '/') name.erase(0, 1);
    s.writing = opcode == kWrq;
    if (!s.writing) {
        auto it = files.find(name);
        if (it == files.end()) {
            static const std::uint8_t notFound[] = {0, kError, 0, 1, 'N', 'o', 't', ' ', 'f', 'o', 'u', 'n', 'd', 0};
            ::sendto(port, notFound, sizeof notFound, 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
            return false;
        }
        s.file = &it->second;
    }
    s.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0) return false;
    if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&client), sizeof client) != 0) {
        ::close(s.fd);
        return false;
    }
    return true;
}

int RunLoop(int port, const Files& files) {
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = port;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, port, &e);
    std::unordered_map<int, Session> sessions;
    std::array<epoll_event, 64> events;
    std::array<std::uint8_t, 2048> buffer;
    auto nextScan = Clock::now() + std::chrono::milliseconds(100);
    auto end = [&](int fd) {
        ::close(fd);
        sessions.erase(fd);
    };
    while (!g_stop) {
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
        for (int i = 0; i < n; ++i) {
            const int fd = events[static_cast<std::size_t>(i)].data.fd;
            if (fd == port) {
                sockaddr_in client{};
                socklen_t length = sizeof client;
                const ssize_t got = ::recvfrom(port, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                               reinterpret_cast<sockaddr*>(&client), &length);
                Session s;
                if (got < 0 || !OpenSession(port, files, buffer.data(), static_cast<std::size_t>(got), client, s))
                    continue;
                e.data.fd = s.fd;
                ::epoll_ctl(ep, EPOLL_CTL_ADD, s.fd, &e);
                Session& kept = sessions[s.fd] = s;
                kept.Start();
                continue;
            }
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0) continue;
            if (!sessions[fd].On(buffer.data(), static_cast<std::size_t>(got))) end(fd);
        }
        const auto now = Clock::now();
        if (n == 0 || now >= nextScan) {
            nextScan = now + std::chrono::milliseconds(100);
            std::vector<int> over;
            for (auto& [fd, s] : sessions) {
                if (now >= s.deadline && !s.OnTimeout()) over.push_back(fd);
            }
            for (int fd : over) end(fd);
        }
    }
    for (auto& [fd, s] : sessions) ::close(fd);
    ::close(ep);
    return 0;
}

// Threads that serve one session each and then wait for the next.
class Pool {
public:
    void Serve(Session s) {
        std::unique_lock lock(mutex_);
        queue_.push_back(s);
        if (idle_ == 0) {
            std::thread([this] { Work(); }).detach();
        } else {
            ready_.notify_one();
        }
    }

private:
    void Work() {
        std::array<std::uint8_t, 2048> buffer;
        for (;;) {
            Session s;
            {
                std::unique_lock lock(mutex_);
                ++idle_;
                ready_.wait(lock, [&] { return !queue_.empty(); });
                --idle_;
                s = queue_.front();
                queue_.pop_front();
            }
            timeval tv{1, 0};
            ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            s.Start();
            for (;;) {
                const ssize_t got = ::recv(s.fd, buffer.data(), buffer.size(), 0);
                if (got < 0) {
                    if (errno == EINTR) continue;
                    if (!s.OnTimeout()) break;
                    continue;
                }
                if (!s.On(buffer.data(), static_cast<std::size_t>(got))) break;
            }
            ::close(s.fd);
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Session> queue_;
    int idle_ = 0;
};

int RunThreads(int port, const Files& files) {
    static Pool* pool = new Pool;  // never destroyed: its threads wait on it to the end
    std::array<std::uint8_t, 2048> buffer;
    while (!g_stop) {
        sockaddr_in client{};
        socklen_t length = sizeof client;
        const ssize_t got = ::recvfrom(port, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&client), &length);
        if (got < 0) continue;  // the receive time-out lets the stop flag be seen
        Session s;
        if (OpenSession(port, files, buffer.data(), static_cast<std::size_t>(got), client, s)) pool->Serve(s);
    }
    return 0;
}

}  // namespace

int RunResponder(const ResponderOptions& o) {
    const Files files = LoadFiles(o.dir);
    const int port = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in local = Address(o.host, o.port);
    if (port < 0 || ::bind(port, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("responder: bind");
        return 1;
    }
    timeval tv{0, 200000};
    ::setsockopt(port, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::printf("responder ready on %s:%u (%zu files, %s)\n", o.host.c_str(), o.port, files.size(),
                o.threads ? "threads" : "loop");
    std::fflush(stdout);
    const int status = o.threads ? RunThreads(port, files) : RunLoop(port, files);
    ::close(port);
    return status;
}

}  // namespace bench
