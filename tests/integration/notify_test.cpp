// The notification service over loopback: the built program as a user runs it, and the
// listener thread itself for how it stops.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "log/log.h"
#include "notify/listener.h"
#include "pack/language_pack.h"
#include "support/server_process.h"
#include "tftp/udp.h"

namespace revuzada::test {
namespace {

const std::string kFound = std::string("NQVZ") + std::string(16, '\0');
const std::string kNotFound(20, '\0');

std::string Datagram(std::uint8_t type, std::uint8_t value = 0) {
    std::string d = "NQVZ";
    d += std::string{static_cast<char>(type), 0, 0, 0, static_cast<char>(value), 0, 0, 0};
    d.resize(20, '\0');
    return d;
}

// A device on loopback: one socket of its own, talking to one server port.
class Device {
public:
    explicit Device(std::uint16_t serverPort) {
        fd_ = OpenUdpPort(0, false, htonl(INADDR_LOOPBACK));
        server_.sin_family = AF_INET;
        server_.sin_port = htons(serverPort);
        server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~Device() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&server_),
                           sizeof server_),
                  static_cast<ssize_t>(bytes.size()));
    }
    // The next datagram from the server's port, or nullopt when none came within `limit`.
    std::optional<std::string> Receive(std::chrono::milliseconds limit = 3s) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
        char buffer[256];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return std::nullopt;
        EXPECT_EQ(from.sin_port, server_.sin_port) << "a reply comes from the notification port";
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    // Nothing waits: everything the server sent before its last answer to someone else is here.
    bool NothingQueued() const { return !Receive(0ms); }

private:
    int fd_ = -1;
    sockaddr_in server_{};
};

// Waits, bounded, until the program has printed `what` at least `count` times.
bool WaitForCount(const ServerProcess& server, const std::string& what, std::size_t count) {
    return server.WaitForStdoutCount(what, count, 3s);
}

// True once some socket is bound to UDP `port`, read from the system's socket table so that the
// check itself never takes the port.
bool PortIsBound(std::uint16_t port) {
    std::ifstream table("/proc/net/udp");
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ":%04X", port);
    std::string slot, local;
    std::string rest;
    std::getline(table, rest);  // the heading
    while (table >> slot >> local) {
        if (local.size() > 5 && local.compare(local.size() - 5, 5, suffix) == 0) return true;
        std::getline(table, rest);
    }
    return false;
}

bool PortIsFree(std::uint16_t port) { return HeldUdpPort(port).held(); }

class NotifyService : public ::testing::Test {
protected:
    void SetUp() override { ServerProcess::Install(dir.path(), {.ini = "[lang]\nrc=rc_en.dll\n"}); }
    std::vector<std::string> Args() { return ServerProcess::HeadlessArgs(tftpPort, notifyPort); }
    // Started, the log attached (its first line is out) and the notification port open: nothing
    // sent from here on is lost.
    void Ready(ServerProcess& server) {
        ASSERT_TRUE(server.WaitForStdout("] ")) << server.Stderr();
        for (int i = 0; i < 100 && !PortIsBound(notifyPort); ++i) std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(PortIsBound(notifyPort)) << server.Stderr();
    }

    TempDir dir;
    std::uint16_t tftpPort = FreeUdpPort();
    std::uint16_t notifyPort = FreeUdpPort();
};

constexpr const char* kQueryLine = "Device 127.0.0.1 asked for the firmware image; answered";

TEST_F(NotifyService, QueryIsAnsweredWithWhetherTheImageLiesBesideTheProgram) {
    WriteFile(dir.path() / "fwpack.img", "image");
    ServerProcess server(dir.path(), Args());
    Ready(server);
    Device device(notifyPort);

    device.Send(Datagram(0));
    EXPECT_EQ(device.Receive(), kFound);
    std::filesystem::remove(dir.path() / "fwpack.img");
    device.Send(Datagram(0));
    EXPECT_EQ(device.Receive(), kNotFound);
    ASSERT_TRUE(WaitForCount(server, kQueryLine, 2)) << server.Stdout();

    const auto start = std::chrono::steady_clock::now();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(3s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(PortIsFree(notifyPort));

    // One line per query, the same whether the image was there or not.
    EXPECT_EQ(Count(server.Stdout(), kQueryLine), 2u) << server.Stdout();
    EXPECT_EQ(Count(server.LogFile(), std::string(kQueryLine) + "\r\n"), 2u) << server.LogFile();
}

TEST_F(NotifyService, ImageInTheServedDirectoryDoesNotCount) {
    TempDir served;
    WriteFile(served.path() / "fwpack.img", "image");
    auto args = Args();
    args.insert(args.end(), {"--serve-dir", served.path().string()});
    ServerProcess server(dir.path(), args);
    Ready(server);
    Device device(notifyPort);
    device.Send(Datagram(0));
    EXPECT_EQ(device.Receive(), kNotFound);
    EXPECT_TRUE(server.WaitForStdout(kQueryLine, 3s)) << server.Stdout();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(3s), 0);
}

// The server handles datagrams in order. A datagram that was answered would have its reply
// waiting at the device by the time a second device gets its answer.
TEST_F(NotifyService, NothingButAQueryIsAnswered) {
    WriteFile(dir.path() / "fwpack.img", "image");
    ServerProcess server(dir.path(), Args());
    Ready(server);
    Device device(notifyPort);
    Device witness(notifyPort);

    const std::string query = Datagram(0);
    device.Send(query);  // a full query first: its bytes must not complete the short ones
    ASSERT_EQ(device.Receive(), kFound);

    const std::string notAnswered[] = {
        query + std::string(1, '\0'),                   // 21 bytes
        query + std::string(1000, 'x'),                 // far too long
        std::string(),                                  // empty
        query.substr(0, 11),                            // magic, then 7 bytes
        "ZVQN" + query.substr(4),                       // magic reversed
        Datagram(1), Datagram(2), Datagram(3), Datagram(4), Datagram(5), Datagram(6),
        Datagram(7), Datagram(8, 42), Datagram(9, 7), Datagram(10), Datagram(0xFF),
        "NQVZ" + std::string{0, 0, 0, 1} + std::string(12, '\0'),  // type 1 in network order
    };
    for (const auto& d : notAnswered) device.Send(d);
    witness.Send(query);
    EXPECT_EQ(witness.Receive(), kFound);
    EXPECT_TRUE(device.NothingQueued());

    // The witness's line is the last one; wait for it, then read all of them.
    ASSERT_TRUE(WaitForCount(server, kQueryLine, 2)) << server.Stdout();
    const std::string out = server.Stdout();
    EXPECT_EQ(Count(out, "Receive failed (socket error " + std::to_string(EMSGSIZE) + ")"), 2u) << out;
    EXPECT_EQ(Count(out, "Ignored an unrecognised notification datagram"), 3u) << out;
    EXPECT_EQ(Count(out, "Device 127.0.0.1: notification type 1\n"), 1u) << out;
    EXPECT_EQ(Count(out, "Device 127.0.0.1: notification type 8, value 42"), 1u) << out;
    EXPECT_EQ(Count(out, "Device 127.0.0.1: notification type 9, value 7"), 1u) << out;
    EXPECT_EQ(Count(out, "Device 127.0.0.1: notification type 255, value 0"), 1u) << out;
    EXPECT_EQ(Count(out, "Device 127.0.0.1: notification type 16777216, value 0"), 1u) << out;
    EXPECT_EQ(Count(out, kQueryLine), 2u) << out;

    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(3s), 0);
}

TEST_F(NotifyService, PortHeldByAnotherSocketEndsWithTheMessage) {
    const HeldUdpPort holder(notifyPort);
    ASSERT_TRUE(holder.held());
    ServerProcess server(dir.path(), Args());
    EXPECT_EQ(server.WaitExit(3s), 0);
    EXPECT_NE(server.Stderr().find("Cannot open the notification port"), std::string::npos) << server.Stderr();
}

// The listener itself, in this process: it stops within about a second of the flag, frees its
// port, and answers queries even while no log is attached.
TEST(NotifyListener, AnswersWithoutALogAndStopsWithinASecond) {
    ResetLogForTest();
    TempDir dir;
    WriteFile(dir.path() / "fwpack.img", "image");
    const std::uint16_t port = FreeUdpPort();
    NotifyListenerConfig config;
    config.port = port;
    config.address = htonl(INADDR_LOOPBACK);
    config.imagePath = (dir.path() / "fwpack.img").string();

    std::atomic<int> stop{0};
    std::atomic<bool> ended{false};
    std::thread listener([&] {
        NotifyListenThread(stop, config);
        ended = true;
    });
    Device device(port);
    std::optional<std::string> reply;
    for (int attempt = 0; attempt < 20 && !reply; ++attempt) {  // the port opens on the thread
        device.Send(Datagram(0));
        reply = device.Receive(100ms);
    }
    EXPECT_EQ(reply, kFound);
    EXPECT_TRUE(LogListLines().empty());

    const auto start = std::chrono::steady_clock::now();
    stop = 1;
    while (!ended && std::chrono::steady_clock::now() - start < 3s) std::this_thread::sleep_for(10ms);
    const auto took = std::chrono::steady_clock::now() - start;
    listener.join();
    EXPECT_LT(took, 1500ms);
    EXPECT_TRUE(PortIsFree(port));
}

}  // namespace
}  // namespace revuzada::test
