// Starts the built program from a directory of its own, as a user would, and stops it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "support/server_process.h"

namespace revuzada::test {
namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override { ServerProcess::Install(dir.path(), {.ini = "[lang]\nrc=rc_en.dll\n"}); }
    std::vector<std::string> Args() { return ServerProcess::HeadlessArgs(tftpPort, notifyPort); }

    TempDir dir;
    std::uint16_t tftpPort = FreeUdpPort();
    std::uint16_t notifyPort = FreeUdpPort();
};

std::vector<std::string> Lines(const std::string& text, const std::string& end = "\n") {
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        auto next = text.find(end, pos);
        if (next == std::string::npos) next = text.size();
        lines.push_back(text.substr(pos, next - pos));
        pos = next + end.size();
    }
    return lines;
}

TEST_F(Startup, RunsHeadlessLogsItsAddressAndStopsOnSigterm) {
    ServerProcess server(dir.path(), Args());
    ASSERT_TRUE(server.WaitForStdout("] ")) << server.Stderr();
    const auto first = Lines(server.Stdout()).front();
    EXPECT_EQ(first.size() > 22 && first[0] == '[' && first[21] == ' ', true) << first;
    EXPECT_NE(first.find("127."), std::string::npos) << first;  // this host's first address

    // The listeners see the stop flag within a second; the bound leaves room for a loaded machine.
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(3s), 0);

    // The log file holds the same lines, each ending in CR LF.
    const std::string log = server.LogFile();
    EXPECT_EQ(Lines(log, "\r\n").front(), first);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(log.find('\n'), log.find("\r\n") + 1);
}

TEST_F(Startup, SigintStopsItTooAndLogsAppendAcrossRuns) {
    for (int run = 0; run < 2; ++run) {
        ServerProcess server(dir.path(), Args());
        ASSERT_TRUE(server.WaitForStdout("] "));
        server.Signal(SIGINT);
        EXPECT_EQ(server.WaitExit(2s), 0);
    }
    EXPECT_EQ(Lines(ReadFile(dir.path() / "revuzada.log"), "\r\n").size(), 2u);
}

TEST_F(Startup, SecondInstanceIsRefusedAndTheFirstRunsOn) {
    const std::string name = UniqueInstanceName();
    ServerProcess first(dir.path(), Args(), name);
    ASSERT_TRUE(first.WaitForStdout("] "));

    TempDir other;
    ServerProcess::Install(other.path(), {.ini = "[lang]\nrc=rc_en.dll\n"});
    ServerProcess second(other.path(), ServerProcess::HeadlessArgs(FreeUdpPort(), FreeUdpPort()), name);
    EXPECT_EQ(second.WaitExit(3s), 0);
    EXPECT_NE(second.Stderr().find("already running"), std::string::npos) << second.Stderr();
    EXPECT_FALSE(std::filesystem::exists(other.path() / "revuzada.log"));

    EXPECT_FALSE(first.WaitExit(100ms)) << "the first instance must run on";
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(2s), 0);

    // Killed outright, it leaves no guard behind.
    ServerProcess third(dir.path(), Args(), name);
    ASSERT_TRUE(third.WaitForStdout("] ", 3s));
    third.Signal(SIGKILL);
    third.WaitExit();
    ServerProcess fourth(dir.path(), Args(), name);
    EXPECT_TRUE(fourth.WaitForStdout("] ", 3s)) << fourth.Stderr();
}

TEST_F(Startup, PortHeldByAnotherSocketEndsWithTheMessage) {
    const HeldUdpPort holder(tftpPort);
    ASSERT_TRUE(holder.held());
    ServerProcess server(dir.path(), Args());
    EXPECT_EQ(server.WaitExit(3s), 0);
    EXPECT_NE(server.Stderr().find("TFTP port"), std::string::npos) << server.Stderr();
}

TEST_F(Startup, MissingOrUnreadablePackStopsStartUpBeforeAnything) {
    TempDir bare;
    ServerProcess::Install(bare.path(), {.withPacks = false, .ini = std::nullopt});
    ServerProcess missing(bare.path(), Args());
    EXPECT_EQ(missing.WaitExit(3s), 0);
    const std::string packPath = std::filesystem::canonical(bare.path()).string() + "/rc_cn.dll";
    EXPECT_EQ(missing.Stderr(), "can't load " + packPath + "\n");
    EXPECT_FALSE(std::filesystem::exists(bare.path() / "revuzada.log"));

    // Empty value: the directory itself; an absolute value is appended to it as well.
    for (const std::string value : {"", "/etc/passwd"}) {
        WriteFile(bare.path() / "revuzada.ini", "[lang]\nrc=" + value + "\n");
        ServerProcess server(bare.path(), Args());
        EXPECT_EQ(server.WaitExit(3s), 0);
        EXPECT_NE(server.Stderr().find("can't load " + std::filesystem::canonical(bare.path()).string() + "/" + value),
                  std::string::npos) << server.Stderr();
    }
}

TEST_F(Startup, WithoutIniTheChinesePackIsLoaded) {
    std::filesystem::remove(dir.path() / "revuzada.ini");
    ServerProcess server(dir.path(), Args());
    EXPECT_TRUE(server.WaitForStdout("IPv4 地址")) << server.Stdout();
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(2s), 0);
}

TEST(CommandLine, BadValuesFailBeforeAnythingStarts) {
    TempDir dir;
    ServerProcess::Install(dir.path());
    ServerProcess server(dir.path(), {"--headless", "--tftp-port", "70000"});
    EXPECT_EQ(server.WaitExit(3s), 2);
    EXPECT_NE(server.Stderr().find("--tftp-port"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "revuzada.log"));

    ServerProcess help(dir.path(), {"--help"});
    EXPECT_EQ(help.WaitExit(3s), 0);
    EXPECT_NE(help.Stdout().find("--serve-dir"), std::string::npos);
}

}  // namespace
}  // namespace revuzada::test
