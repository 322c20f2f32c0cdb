// The built program when the world around it fails: a log file it cannot open, a served
// directory that goes away and comes back, SIGTERM in the middle of many transfers, and both
// ports held by other sockets. (A disk that fills up during an upload: transfer_test.cpp.)
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "support/server_process.h"
#include "support/tftp_client.h"

namespace revuzada::test {
namespace {

// What AddressSanitizer, UndefinedBehaviorSanitizer, ThreadSanitizer or the C++ runtime print
// when something went wrong in the program.
bool HasCrashReport(const std::string& stderrText) {
    for (const char* mark : {"Sanitizer", "runtime error:", "terminate called"})
        if (stderrText.find(mark) != std::string::npos) return true;
    return false;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        ServerProcess::Install(dir.path(), {.ini = "[lang]\nrc=rc_en.dll\n"});
        std::filesystem::create_directory(served);
    }

    void Start(std::vector<std::string> extra = {}) {
        auto args = ServerProcess::HeadlessArgs(port, notifyPort);
        args.insert(args.end(), {"--serve-dir", served.string()});
        args.insert(args.end(), extra.begin(), extra.end());
        server.emplace(dir.path(), args);
        ASSERT_TRUE(server->WaitForStdout("Local IPv4")) << server->Stderr();
    }

    bool LogShows(const std::string& what, std::size_t times = 1, std::chrono::milliseconds limit = 10s) {
        return server->WaitForStdoutCount(what, times, limit);
    }

    // SIGTERM; the program must end with status 0 and print no crash report.
    void Stop() {
        server->Signal(SIGTERM);
        EXPECT_EQ(server->WaitExit(5s), 0);
        EXPECT_FALSE(HasCrashReport(server->Stderr())) << server->Stderr();
    }

    TempDir dir;
    std::filesystem::path served = dir.path() / "served";
    std::uint16_t port = FreeUdpPort();
    std::uint16_t notifyPort = FreeUdpPort();
    std::optional<ServerProcess> server;
};

// Tests run as root, so no permission keeps the program from its log file: a directory of that
// name does.
TEST_F(Faults, LogFileThatCannotBeOpenedIsReportedOnceAndTheServerRunsOn) {
    std::filesystem::create_directory(dir.path() / "revuzada.log");
    const std::string content = PatternBytes(3000);
    WriteFile(served / "a.bin", content);
    Start();
    const std::string logPath = std::filesystem::canonical(dir.path()).string() + "/revuzada.log";
    EXPECT_TRUE(LogShows("Cannot open log file " + logPath + " (error " + std::to_string(EISDIR) + ")"));

    EXPECT_EQ(Download(port, "a.bin").data, content);
    EXPECT_TRUE(Upload(port, "b.bin", content).ok);
    // More lines than the list keeps: it is emptied into a file that is not there, and goes on.
    UdpPeer device;
    const std::string line = "Ignored an unrecognised notification datagram";
    for (std::size_t sent = 0; sent < 2200;) {
        for (int i = 0; i < 100; ++i, ++sent) device.SendTo(notifyPort, "short");
        ASSERT_TRUE(LogShows(line, sent)) << Count(server->Stdout(), line) << " of " << sent;
    }
    EXPECT_EQ(Download(port, "b.bin").data, content);

    EXPECT_EQ(Count(server->Stdout(), "Cannot open log file"), 1u);
    Stop();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "revuzada.log"));
}

TEST_F(Faults, ServedDirectoryRemovedGivesErrorsUntilItIsBack) {
    WriteFile(served / "a.bin", "before");
    Start({"--timeout", "1", "--retries", "1"});
    ASSERT_EQ(Download(port, "a.bin").data, "before");

    std::filesystem::remove_all(served);
    auto read = Download(port, "a.bin");
    EXPECT_EQ(read.errorCode, 0) << read.failure;
    EXPECT_EQ(read.errorText, std::strerror(ENOENT));
    auto write = Upload(port, "b.bin", "lost");
    EXPECT_EQ(write.errorCode, 0) << write.failure;
    EXPECT_EQ(write.errorText, std::strerror(ENOENT));
    EXPECT_FALSE(std::filesystem::exists(served)) << "an upload must not create the directory";
    EXPECT_TRUE(LogShows("Cannot open file " + served.string() + "/b.bin"));

    std::filesystem::create_directory(served);
    WriteFile(served / "a.bin", "after");
    EXPECT_EQ(Download(port, "a.bin").data, "after");
    EXPECT_TRUE(Upload(port, "b.bin", "stored").ok);
    EXPECT_EQ(ReadFile(served / "b.bin"), "stored");
    Stop();
}

TEST_F(Faults, SigtermWhileFiftyTransfersRunEndsAtOnce) {
    const std::string big = PatternBytes(4 << 20);
    WriteFile(served / "big.bin", big);
    Start();  // the default wait of 5 s: silent transfers are still waiting when the signal comes

    // 20 clients that keep moving data, 30 that started a transfer and fell silent.
    std::atomic<bool> done{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 10; ++i) {
        busy.emplace_back([&] { while (!done) Download(port, "big.bin", 1s); });
        busy.emplace_back([&, i] {
            while (!done) Upload(port, "up-" + std::to_string(i) + ".bin", big.substr(0, 1 << 20), 1s);
        });
    }
    std::vector<std::unique_ptr<UdpPeer>> silent;
    for (int i = 0; i < 30; ++i) {
        silent.push_back(std::make_unique<UdpPeer>());
        silent.back()->SendTo(port, i % 2 ? RequestPacket(1, "big.bin")
                                          : RequestPacket(2, "silent-" + std::to_string(i) + ".bin"));
    }
    ASSERT_TRUE(LogShows("New TFTP request", 50));
    // A thread per transfer, besides the main thread and the two listeners.
    const std::filesystem::path tasks = "/proc/" + std::to_string(server->pid()) + "/task";
    const auto threads = [&] {
        return std::distance(std::filesystem::directory_iterator(tasks), std::filesystem::directory_iterator());
    };
    for (int i = 0; i < 100 && threads() < 53; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_GE(threads(), 53);

    const auto start = std::chrono::steady_clock::now();
    server->Signal(SIGTERM);
    const auto status = server->WaitExit(5s);
    const auto took = std::chrono::steady_clock::now() - start;
    done = true;
    for (auto& t : busy) t.join();

    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 2s);
    EXPECT_FALSE(HasCrashReport(server->Stderr())) << server->Stderr();
    // The lines up to the signal reached the file whole.
    const std::string log = server->LogFile();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_GE(Count(log, "New TFTP request"), 50u);
    server.reset();
}

TEST_F(Faults, BothPortsHeldByOtherSocketsEndsWithAMessage) {
    const HeldUdpPort tftpHolder(port), notifyHolder(notifyPort);
    ASSERT_TRUE(tftpHolder.held());
    ASSERT_TRUE(notifyHolder.held());
    ServerProcess held(dir.path(), ServerProcess::HeadlessArgs(port, notifyPort));
    EXPECT_EQ(held.WaitExit(3s), 0);
    const std::string err = held.Stderr();
    // Both listeners start at once; whichever fails first ends the program.
    EXPECT_TRUE(err.find("Cannot open the TFTP port") != std::string::npos ||
                err.find("Cannot open the notification port") != std::string::npos) << err;
    EXPECT_FALSE(HasCrashReport(err)) << err;
}

}  // namespace
}  // namespace revuzada::test
