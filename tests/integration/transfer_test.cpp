// Downloads and uploads against the built program, with real clients and a raw one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "support/server_process.h"
#include "support/tftp_client.h"

namespace revuzada::test {
namespace {

class Transfers : public ::testing::Test {
protected:
    void SetUp() override {
        ServerProcess::Install(dir.path(), {.ini = "[lang]\nrc=rc_en.dll\n"});
        std::filesystem::create_directory(served);
        WriteFile(dir.path() / "secret.txt", "outside the served directory");
    }

    void Start(std::vector<std::string> extra = {}) {
        auto args = ServerProcess::HeadlessArgs(port, FreeUdpPort());
        args.insert(args.end(), {"--serve-dir", served.string(), "--timeout", "1", "--retries", "2"});
        args.insert(args.end(), extra.begin(), extra.end());
        server.emplace(dir.path(), args);
        ASSERT_TRUE(server->WaitForStdout("Local IPv4")) << server->Stderr();
    }

    // Waits until the log shows `what` `times` times.
    bool LogShows(const std::string& what, std::size_t times = 1, std::chrono::milliseconds limit = 5s) {
        return server->WaitForStdoutCount(what, times, limit);
    }

    void TearDown() override {
        if (!server) return;
        server->Signal(SIGTERM);
        EXPECT_EQ(server->WaitExit(3s), 0);
    }

    TempDir dir;
    std::filesystem::path served = dir.path() / "served";
    std::uint16_t port = FreeUdpPort();
    std::optional<ServerProcess> server;
};

std::string Url(std::uint16_t port, const std::string& name) {
    return "tftp://127.0.0.1:" + std::to_string(port) + "/" + name;
}

TEST_F(Transfers, RealClientsDownloadByteExact) {
    Start();
    // 33 MiB is past the 16-bit block counter's wrap.
    const std::vector<std::size_t> sizes = {0, 512, 1000, 1 << 20, (33u << 20) + 7};
    for (std::size_t size : sizes) {
        const std::string name = "file-" + std::to_string(size) + ".bin";
        const std::string content = PatternBytes(size, static_cast<std::uint32_t>(size));
        WriteFile(served / name, content);
        const auto viaCurl = dir.path() / "curl.out";
        const auto viaTftp = dir.path() / "tftp.out";
        ASSERT_EQ(Shell("curl -s --tftp-no-options " + Url(port, name) + " -o " + viaCurl.string()), 0) << size;
        EXPECT_TRUE(ReadFile(viaCurl) == content) << "curl, " << size << " bytes";
        if (size < (1u << 20) + 1) {
            ASSERT_EQ(Shell("tftp 127.0.0.1 " + std::to_string(port) + " -m binary -c get " + name + " " +
                            viaTftp.string()), 0);
            EXPECT_TRUE(ReadFile(viaTftp) == content) << "tftp, " << size << " bytes";
        }
        EXPECT_TRUE(Download(port, name).data == content) << "raw client, " << size << " bytes";
    }
    const std::string log = server->Stdout();
    EXPECT_NE(log.find("New TFTP request from 127.0.0.1"), std::string::npos);
    EXPECT_NE(log.find("Sending file " + served.string() + "/file-1000.bin"), std::string::npos);
    EXPECT_TRUE(LogShows("Transfer of " + served.string() + "/file-1000.bin complete", 3));
}

TEST_F(Transfers, RefusalsReachTheClientAsErrorPackets) {
    Start();
    std::filesystem::create_directory(served / "sub");
    WriteFile(served / "sub" / "inner.bin", "inner");

    auto missing = Download(port, "missing.bin");
    EXPECT_EQ(missing.errorCode, 0);
    EXPECT_EQ(missing.errorText, std::strerror(ENOENT));
    EXPECT_TRUE(LogShows("Cannot open file " + served.string() + "/missing.bin"));

    auto empty = Download(port, "");  // the served directory itself
    EXPECT_EQ(empty.errorCode, 0);
    EXPECT_TRUE(empty.data.empty());

    for (const char* name : {"../secret.txt", "..\\secret.txt", "sub/../../secret.txt", "sub/../sub/inner.bin"}) {
        auto refused = Download(port, name);
        EXPECT_EQ(refused.errorCode, 2) << name;
        EXPECT_EQ(refused.errorText, "Access violation");
        EXPECT_TRUE(LogShows(std::string("Access denied: ") + name)) << name;
    }
    EXPECT_EQ(Download(port, "sub\\inner.bin").data, "inner");  // '\' is a separator
    EXPECT_EQ(Download(port, "/sub/inner.bin").data, "inner");  // a leading '/' stays inside

    UdpPeer peer;
    peer.SendTo(port, std::string("\0\1no-terminator", 15));
    auto malformed = peer.Receive(2s);
    ASSERT_TRUE(malformed);
    EXPECT_EQ(*malformed, std::string("\0\5\0\4Illegal TFTP operation\0", 27));
    EXPECT_TRUE(LogShows("Malformed TFTP request from 127.0.0.1"));

    for (const std::string& bad : {std::string("\0\3\0\1", 4), std::string("\xFF\xFFx\0", 4)}) {
        peer.SendTo(port, bad);
        EXPECT_FALSE(peer.Receive(300ms)) << "nothing is sent for another opcode";
    }
    EXPECT_TRUE(LogShows("Unsupported TFTP request opcode 3"));
    EXPECT_TRUE(LogShows("Unsupported TFTP request opcode -1"));
    peer.SendTo(port, std::string("\0", 1));
    EXPECT_TRUE(LogShows("Malformed TFTP request from 127.0.0.1", 2));
    EXPECT_FALSE(peer.Receive(300ms));
}

TEST_F(Transfers, ModeAndOptionsChangeNothing) {
    Start();
    const std::string content = "line one\nline two\r\n" + PatternBytes(700);
    WriteFile(served / "text.txt", content);
    UdpPeer peer;
    peer.SendTo(port, RequestPacket(1, "text.txt", std::string("netascii\0blksize\0" "1468\0tsize\0" "0", 28)));
    std::uint16_t tid = 0;
    auto first = peer.Receive(2s, &tid);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->substr(0, 4), std::string("\0\3\0\1", 4)) << "DATA 1, no option acknowledgment";
    EXPECT_EQ(first->substr(4), content.substr(0, 512));
    peer.SendTo(tid, AckPacket(1));
    auto second = peer.Receive(2s);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->substr(4), content.substr(512));
    peer.SendTo(tid, AckPacket(2));
}

TEST_F(Transfers, RepeatedAckResendsOnceAndSilenceIsAbandoned) {
    Start();
    WriteFile(served / "three.bin", PatternBytes(1300));
    UdpPeer peer;
    peer.SendTo(port, RequestPacket(1, "three.bin"));
    std::uint16_t tid = 0;
    auto data1 = peer.Receive(2s, &tid);
    ASSERT_TRUE(data1);
    peer.SendTo(tid, AckPacket(1));
    auto data2 = peer.Receive(2s);
    ASSERT_TRUE(data2);
    // ACK 1 three times, all queued before the server looks (it is stopped meanwhile): the
    // first drains the queue, and DATA 2 goes out once more.
    server->Signal(SIGSTOP);
    peer.SendBurstTo(tid, {AckPacket(1), AckPacket(1), AckPacket(1)});
    server->Signal(SIGCONT);
    auto resent = peer.Receive(800ms);
    ASSERT_TRUE(resent);
    EXPECT_EQ(*resent, *data2);
    EXPECT_FALSE(peer.Receive(500ms)) << "exactly one resend";
    EXPECT_TRUE(LogShows("Client repeated acknowledgement; resending block"));
    EXPECT_EQ(Count(server->Stdout(), "resending block"), 1u);

    // Now silence: DATA 2 is sent twice more (--retries 2, a second apart), then given up.
    for (int i = 0; i < 2; ++i) {
        auto again = peer.Receive(2s);
        ASSERT_TRUE(again) << i;
        EXPECT_EQ(*again, *data2);
    }
    EXPECT_TRUE(LogShows("Client stopped responding; transfer of " + served.string() + "/three.bin abandoned"));
    EXPECT_FALSE(peer.Receive(1500ms));
}

TEST_F(Transfers, FiftyDownloadsAtOnceAreAllExact) {
    Start();
    const std::string content = PatternBytes(200 * 1024 + 17);
    WriteFile(served / "shared.bin", content);
    std::vector<std::thread> clients;
    std::atomic<int> exact{0};
    for (int i = 0; i < 50; ++i)
        clients.emplace_back([&] { if (Download(port, "shared.bin", 10s).data == content) ++exact; });
    for (auto& c : clients) c.join();
    EXPECT_EQ(exact.load(), 50);
    EXPECT_TRUE(LogShows("shared.bin complete", 50));
}

TEST_F(Transfers, DownloadsAcrossReadAheadChunksAreExact) {
    Start();
    // Files are read 64 blocks (32 KiB) at a time: sizes around those chunks' ends.
    for (std::size_t size : {32767u, 32768u, 32769u, 65536u + 512u, 65536u + 511u}) {
        const std::string name = "chunk-" + std::to_string(size) + ".bin";
        const std::string content = PatternBytes(size, static_cast<std::uint32_t>(size));
        WriteFile(served / name, content);
        const auto got = Download(port, name);
        EXPECT_TRUE(got.ok) << size << ": " << got.failure;
        EXPECT_TRUE(got.data == content) << size;
    }
}

TEST_F(Transfers, WavesOfRequestsLargerThanTheIdleThreadsAreAllServed) {
    Start();
    const std::string content = PatternBytes(3000);
    WriteFile(served / "small.bin", content);
    // Threads that finished wait for later requests; each wave needs more than are kept.
    for (int wave = 0; wave < 3; ++wave) {
        std::vector<std::thread> clients;
        std::atomic<int> exact{0};
        for (int i = 0; i < 80; ++i)
            clients.emplace_back([&] { if (Download(port, "small.bin", 10s).data == content) ++exact; });
        for (auto& c : clients) c.join();
        EXPECT_EQ(exact.load(), 80) << "wave " << wave;
    }
    EXPECT_TRUE(LogShows("small.bin complete", 240));
}

TEST_F(Transfers, RealClientsUploadByteExact) {
    Start();
    const std::vector<std::size_t> sizes = {0, 512, 1000, 1 << 20, (33u << 20) + 5};
    for (std::size_t size : sizes) {
        const std::string content = PatternBytes(size, static_cast<std::uint32_t>(size + 3));
        const auto local = dir.path() / "local.bin";
        WriteFile(local, content);
        const std::string viaCurl = "curl-" + std::to_string(size) + ".bin";
        ASSERT_EQ(Shell("curl -s --tftp-no-options -T " + local.string() + " " + Url(port, viaCurl)), 0);
        EXPECT_TRUE(ReadFile(served / viaCurl) == content) << "curl, " << size;
        if (size <= (1u << 20)) {
            const std::string viaTftp = "tftp-" + std::to_string(size) + ".bin";
            ASSERT_EQ(Shell("tftp 127.0.0.1 " + std::to_string(port) + " -m binary -c put " +
                            local.string() + " " + viaTftp), 0);
            EXPECT_TRUE(ReadFile(served / viaTftp) == content) << "tftp, " << size;
            const std::string viaRaw = "raw-" + std::to_string(size) + ".bin";
            EXPECT_TRUE(Upload(port, viaRaw, content).ok);
            EXPECT_TRUE(ReadFile(served / viaRaw) == content) << "raw, " << size;
        }
    }
    EXPECT_NE(server->Stdout().find("Receiving file " + served.string() + "/curl-1000.bin"), std::string::npos);
    EXPECT_TRUE(LogShows("Transfer of " + served.string() + "/curl-1000.bin complete"));
}

TEST_F(Transfers, UploadReplacesALongerFileAndStoresARepeatedBlockOnce) {
    Start();
    WriteFile(served / "target.bin", std::string(5000, 'o'));
    const std::string content = PatternBytes(700);
    ASSERT_TRUE(Upload(port, "target.bin", content).ok);
    EXPECT_EQ(ReadFile(served / "target.bin"), content);

    UdpPeer peer;
    peer.SendTo(port, RequestPacket(2, "twice.bin"));
    std::uint16_t tid = 0;
    ASSERT_EQ(peer.Receive(2s, &tid), AckPacket(0));
    const std::string block1 = content.substr(0, 512);
    peer.SendTo(tid, DataPacket(1, block1));
    ASSERT_EQ(peer.Receive(2s), AckPacket(1));
    peer.SendTo(tid, DataPacket(1, block1));  // the client missed our ACK
    ASSERT_EQ(peer.Receive(2s), AckPacket(1));
    peer.SendTo(tid, DataPacket(3, "stray"));  // neither stored nor answered
    peer.SendTo(tid, AckPacket(7));
    EXPECT_FALSE(peer.Receive(300ms));
    peer.SendTo(tid, DataPacket(2, content.substr(512)));
    ASSERT_EQ(peer.Receive(2s), AckPacket(2));
    EXPECT_EQ(ReadFile(served / "twice.bin"), content);
}

// A client repeats its request when the first ACK is late; the repeat reaches the server as a
// second upload of the same file, which the client then answers with ERROR 5 or not at all.
// That second upload, storing nothing, must not empty the file the first one is writing or
// has written.
TEST_F(Transfers, RepeatedWriteRequestLeavesTheUploadWhole) {
    Start();
    const std::string content = PatternBytes(900);
    UdpPeer peer;
    peer.SendTo(port, RequestPacket(2, "late.bin"));
    std::uint16_t tid = 0;
    ASSERT_EQ(peer.Receive(2s, &tid), AckPacket(0));
    peer.SendTo(tid, DataPacket(1, content.substr(0, 512)));
    ASSERT_EQ(peer.Receive(2s), AckPacket(1));

    peer.SendTo(port, RequestPacket(2, "late.bin"));  // the repeat, arriving late
    std::uint16_t other = 0;
    ASSERT_EQ(peer.Receive(2s, &other), AckPacket(0));
    ASSERT_NE(other, tid);
    peer.SendTo(other, std::string("\0\5\0\5Unknown transfer ID\0", 24));

    peer.SendTo(tid, DataPacket(2, content.substr(512)));
    ASSERT_EQ(peer.Receive(2s), AckPacket(2));
    EXPECT_TRUE(ReadFile(served / "late.bin") == content);

    // Once more after the upload is complete, from a client that then stays silent.
    UdpPeer late;
    late.SendTo(port, RequestPacket(2, "late.bin"));
    ASSERT_EQ(late.Receive(2s), AckPacket(0));
    EXPECT_TRUE(ReadFile(served / "late.bin") == content);
    EXPECT_TRUE(LogShows("transfer of " + served.string() + "/late.bin abandoned"));
    EXPECT_TRUE(ReadFile(served / "late.bin") == content);
}

TEST_F(Transfers, UploadRefusalsAndAClientThatGivesUp) {
    Start();
    auto missingDir = Upload(port, "no-such-dir/up.bin", "x");
    EXPECT_EQ(missingDir.errorCode, 0);
    EXPECT_EQ(missingDir.errorText, std::strerror(ENOENT));
    EXPECT_FALSE(std::filesystem::exists(served / "no-such-dir"));

    auto escape = Upload(port, "../escaped.bin", "x");
    EXPECT_EQ(escape.errorCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "escaped.bin"));

    UdpPeer peer;
    peer.SendTo(port, RequestPacket(2, "abandoned.bin"));
    std::uint16_t tid = 0;
    ASSERT_EQ(peer.Receive(2s, &tid), AckPacket(0));
    peer.SendTo(tid, DataPacket(1, std::string(512, 'a')));
    ASSERT_EQ(peer.Receive(2s), AckPacket(1));
    peer.SendTo(tid, std::string("\0\5\0\0gave up\0", 12));
    EXPECT_TRUE(LogShows("Client sent an error packet; transfer stopped"));
    EXPECT_EQ(ReadFile(served / "abandoned.bin"), std::string(512, 'a'));

    // A silent uploader: ACK 1 again twice, then the upload is given up.
    peer.SendTo(port, RequestPacket(2, "silent.bin"));
    ASSERT_EQ(peer.Receive(2s, &tid), AckPacket(0));
    EXPECT_EQ(peer.Receive(2s), AckPacket(0));
    EXPECT_EQ(peer.Receive(2s), AckPacket(0));
    EXPECT_TRUE(LogShows("transfer of " + served.string() + "/silent.bin abandoned"));
}

TEST_F(Transfers, FullDiskEndsTheUploadWithAnErrorAndServingGoesOn) {
    if (::geteuid() != 0 || ::mount("tmpfs", served.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    Start();
    auto full = Upload(port, "big.bin", PatternBytes(1 << 20));
    EXPECT_EQ(full.errorCode, 3) << full.failure;
    EXPECT_EQ(full.errorText, "Disk full or allocation exceeded");
    EXPECT_TRUE(LogShows("Could not write to " + served.string() + "/big.bin (error 28)"));
    std::filesystem::remove(served / "big.bin");
    EXPECT_TRUE(Upload(port, "small.bin", "fits").ok);
    EXPECT_EQ(Download(port, "small.bin").data, "fits");
    server->Signal(SIGTERM);
    EXPECT_EQ(server->WaitExit(3s), 0);
    server.reset();
    ::umount(served.c_str());
}

}  // namespace
}  // namespace revuzada::test
