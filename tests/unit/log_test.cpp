#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "log/catalogue.h"
#include "log/log.h"
#include "pack/language_pack.h"
#include "platform/files.h"
#include "support/server_process.h"

namespace revuzada {
namespace {

using test::ReadFile;
using test::TempDir;

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLogForTest();
        LanguagePack pack;
        pack.strings[IDS_LOG_FILE_FAILED] = "log file %s failed: %d";
        InstallLanguagePack(pack);
        logPath = (dir.path() / "server.log").string();
    }
    void TearDown() override { ResetLogForTest(); }

    TempDir dir;
    std::string logPath;
};

TEST(BuildLogLine, PrefixIsTwentyTwoCharactersAndMessageFollows) {
    struct tm t {};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 3;
    t.tm_sec = 7;
    EXPECT_EQ(BuildLogLine(t, "hello"), "[2024-01-05 09:03:07] hello");
    EXPECT_EQ(BuildLogLine(t, ""), "[2024-01-05 09:03:07] ");
    EXPECT_EQ(BuildLogLine(t, "").size(), kLogPrefixLength);
}

TEST(BuildLogLine, OneLineWhateverTheMessageHolds) {
    struct tm t {};
    const std::string line = BuildLogLine(t, std::string("a\r\nb\x1b[2J\x7f", 10));
    EXPECT_EQ(line.substr(kLogPrefixLength), "a\\x0D\\x0Ab\\x1B[2J\\x7F");
}

TEST(BuildLogLine, MessageIsCutToItsLimitWithoutSplittingACharacter) {
    struct tm t {};
    EXPECT_EQ(BuildLogLine(t, std::string(1001, 'x')).size(), 1023u);
    EXPECT_EQ(BuildLogLine(t, std::string(5000, 'x')).size(), 1023u);
    // 3-byte characters: 333 fit in 999 bytes, the 334th would pass 1001.
    std::string chinese;
    for (int i = 0; i < 400; ++i) chinese += "\xE6\x97\xA5";
    EXPECT_EQ(BuildLogLine(t, chinese).size(), kLogPrefixLength + 999);
    // An escape is never cut in half.
    const std::string line = BuildLogLine(t, std::string(999, 'x') + "\n");
    EXPECT_EQ(line.size(), kLogPrefixLength + 999);
}

TEST_F(EventLogTest, LinesBeforeAttachingGoNowhere) {
    LogEvent("early %d", 1);
    FlushLogList();  // before attaching: touches nothing
    AttachLog(logPath);
    LogEvent("late");
    const auto lines = LogListLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(kLogPrefixLength), "late");
}

TEST_F(EventLogTest, ListOverflowWritesAllLinesInOrderWithCrLf) {
    AttachLog(logPath);
    for (int i = 0; i < 2049; ++i) LogEvent("line %d", i);
    EXPECT_EQ(LogListLines().size(), 2049u);  // 2049 lines fit
    EXPECT_EQ(ReadFile(logPath), "");

    LogEvent("line %d", 2049);  // the next one flushes them first
    const auto lines = LogListLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(kLogPrefixLength), "line 2049");

    const std::string file = ReadFile(logPath);
    std::size_t pos = 0;
    for (int i = 0; i < 2049; ++i) {
        const std::string want = "] line " + std::to_string(i) + "\r\n";
        const auto at = file.find(want, pos);
        ASSERT_NE(at, std::string::npos) << i;
        pos = at + want.size();
    }
    EXPECT_EQ(pos, file.size());
}

TEST_F(EventLogTest, ClearDropsLinesAndDetachWritesTheRestThenFileDirect) {
    AttachLog(logPath);
    LogEvent("cleared");
    ClearLogList();
    LogEvent("kept");
    DetachLogView();
    LogEvent("after view");  // straight to the file while it is open
    CloseLogFile();
    LogEvent("after close");  // nowhere
    const std::string file = ReadFile(logPath);
    EXPECT_EQ(file.find("cleared"), std::string::npos);
    EXPECT_NE(file.find("] kept\r\n"), std::string::npos);
    EXPECT_NE(file.find("] after view\r\n"), std::string::npos);
    EXPECT_EQ(file.find("after close"), std::string::npos);
}

TEST_F(EventLogTest, AppendsAcrossRuns) {
    test::WriteFile(logPath, "earlier run\r\n");
    AttachLog(logPath);
    LogEvent("this run");
    DetachLogView();
    CloseLogFile();
    const std::string file = ReadFile(logPath);
    EXPECT_EQ(file.rfind("earlier run\r\n", 0), 0u);
    EXPECT_NE(file.find("] this run\r\n"), std::string::npos);
}

TEST_F(EventLogTest, UnopenableLogFileIsReportedOnceAndTheListWorks) {
    const std::string missing = (dir.path() / "no-such-dir" / "x.log").string();
    AttachLog(missing);
    LogEvent("next");
    for (int i = 0; i < 2100; ++i) LogEvent("more");  // overflow with no file: nothing breaks
    DetachLogView();
    CloseLogFile();
    ResetLogForTest();
    AttachLog(missing);
    LogEvent("next");
    const auto lines = LogListLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(kLogPrefixLength), "log file " + missing + " failed: 2");
    EXPECT_EQ(lines[1].substr(kLogPrefixLength), "next");
}

TEST_F(EventLogTest, MirrorSeesAppendsAndResets) {
    AttachLog(logPath);
    int notified = 0;
    SetLogListObserver([&] { ++notified; });
    LogEvent("a");
    LogEvent("b");
    auto first = ReadLogList(~0ull, 0);
    EXPECT_TRUE(first.reset);
    ASSERT_EQ(first.lines.size(), 2u);
    LogEvent("c");
    auto second = ReadLogList(first.epoch, 2);
    EXPECT_FALSE(second.reset);
    ASSERT_EQ(second.lines.size(), 1u);
    ClearLogList();
    auto third = ReadLogList(second.epoch, 3);
    EXPECT_TRUE(third.reset);
    EXPECT_TRUE(third.lines.empty());
    EXPECT_EQ(notified, 4);
}

TEST_F(EventLogTest, ViewGoneBeforeAttachingLeavesLinesToTheFile) {
    // The window can close before the TFTP listener attaches the log: its lines must still
    // reach the file, not a list that nobody will ever write out.
    DetachLogView();
    AttachLog(logPath);
    LogEvent("after the view");
    EXPECT_TRUE(LogListLines().empty());
    CloseLogFile();
    EXPECT_NE(ReadFile(logPath).find("] after the view\r\n"), std::string::npos);
}

// Stdout is this process's for the test's length: fd 1 goes to a file, then back.
class StdoutToFile {
public:
    explicit StdoutToFile(const std::string& path) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

TEST_F(EventLogTest, EchoedLinesFromManyThreadsArriveWholeAndInEachThreadsOrder) {
    const std::string echoPath = (dir.path() / "stdout.txt").string();
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    AttachLog(logPath);
    const std::time_t before = std::time(nullptr);
    {
        StdoutToFile redirect(echoPath);
        SetLogEcho(true);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i) LogEvent("worker %d line %d of a transfer", t, i);
            });
        }
        for (auto& thread : threads) thread.join();
        SetLogEcho(false);
    }
    const std::time_t after = std::time(nullptr);

    // Every line whole, stamped with a second of the run, each thread's lines in its order.
    std::istringstream echoed(ReadFile(echoPath));
    std::map<int, int> next;
    std::string line;
    int count = 0;
    while (std::getline(echoed, line)) {
        ++count;
        ASSERT_GE(line.size(), kLogPrefixLength) << line;
        bool stampedInRun = false;
        for (std::time_t second = before; second <= after; ++second) {
            struct tm local {};
            localtime_r(&second, &local);
            stampedInRun |= line.compare(0, kLogPrefixLength, BuildLogLine(local, "")) == 0;
        }
        EXPECT_TRUE(stampedInRun) << line;
        int worker = -1, index = -1;
        char tail[32] = {};
        ASSERT_EQ(std::sscanf(line.c_str() + kLogPrefixLength, "worker %d line %d of a %31s", &worker, &index, tail), 3)
            << line;
        EXPECT_STREQ(tail, "transfer");
        EXPECT_EQ(index, next[worker]++) << line;
    }
    EXPECT_EQ(count, kThreads * kLines);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << t;
}

TEST(LogFilePath, ReplacesOnlyTheFileNamesExtension) {
    EXPECT_EQ(LogFilePathFor("/srv/t.exe"), "/srv/t.log");
    EXPECT_EQ(LogFilePathFor("/a.b/t.x.exe"), "/a.b/t.x.log");
    EXPECT_EQ(LogFilePathFor("/opt/revuzada"), "/opt/revuzada.log");
    EXPECT_EQ(LogFilePathFor("/a.b/revuzada"), "/a.b/revuzada.log");
}

}  // namespace
}  // namespace revuzada
