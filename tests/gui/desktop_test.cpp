// The desktop around the window: whether a display is reachable, message boxes asked for by
// workers, and the built program run with its window as a user would, stopped by a signal.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <future>

#include "gui/desktop.h"
#include "gui/message_presenter.h"
#include "gui_fixture.h"
#include "platform/message_box.h"

namespace revuzada::test {
namespace {

// A listening Unix socket at `path`, as an X server has.
class FakeXServer {
public:
    explicit FakeXServer(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
    }
    ~FakeXServer() { ::close(fd_); }

private:
    int fd_;
};

TEST(DisplayReachable, LocalDisplaysNeedAServerOnTheirSocket) {
    TempDir sockets;
    FakeXServer server((sockets.path() / "X42").string());
    const std::string dir = sockets.path().string();
    struct Case {
        const char* display;
        bool reachable;
    };
    for (const Case c : {Case{":42", true}, Case{":42.0", true}, Case{"unix:42", true},
                         Case{":43", false}, Case{"", false}, Case{":", false},
                         Case{"garbage", false}, Case{"otherhost:0", true}}) {
        EXPECT_EQ(DisplayReachable(c.display, dir), c.reachable) << c.display;
    }
}

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override { InstallQtMessagePresenter(); }
    void TearDown() override { UninstallQtMessagePresenter(); }
};

TEST_F(MessageBoxes, AWorkersBoxIsShownByTheGuiThreadAndTheWorkerWaitsForIt) {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ShowMessageBox("Cannot open the TFTP port.", "msg");
        returned = true;
    });
    OnceModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        EXPECT_FALSE(returned.load());  // still waiting while the box is open
        box->button(QMessageBox::Ok)->click();
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(caption, "msg");
    EXPECT_EQ(text, "Cannot open the TFTP port.");
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST_F(MessageBoxes, ClosingTheDesktopLetsAWaitingWorkerGoAndShowsNothingLater) {
    // The GUI thread is busy shutting down and runs no events: the worker must not wait on.
    auto done = std::async(std::launch::async, [] { ShowMessageBox("late", "msg"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    UninstallQtMessagePresenter();
    EXPECT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);

    InstallQtMessagePresenter();
    QApplication::processEvents();  // the abandoned request shows no box
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Runs the built program with its window (offscreen) from a directory of its own.
class WindowedProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ServerProcess::Install(dir.path(), {.ini = "[lang]\nrc=rc_en.dll\n"});
    }
    std::vector<std::string> Args() const {
        return {"--bind", "127.0.0.1", "--tftp-port", std::to_string(tftpPort),
                "--notify-port", std::to_string(notifyPort)};
    }
    // The program holds the port once its TFTP listener runs.
    bool WaitForPortTaken() const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (!HeldUdpPort(tftpPort).held()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    TempDir dir;
    std::uint16_t tftpPort = FreeUdpPort();
    std::uint16_t notifyPort = FreeUdpPort();
};

TEST_F(WindowedProgram, StopSignalsCloseTheWindowAndItsLinesReachTheLogFile) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ServerProcess server(dir.path(), Args());
        ASSERT_TRUE(WaitForPortTaken()) << server.Stderr();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto start = std::chrono::steady_clock::now();
        server.Signal(signal);
        EXPECT_EQ(server.WaitExit(std::chrono::seconds(5)), 0) << server.Stderr();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(server.Stderr().find("headless"), std::string::npos) << server.Stderr();
        EXPECT_EQ(server.Stdout(), "");  // windowed: the lines are in the view, not on stdout
    }
    // Each run's address line was held by the view and written out when it closed.
    const std::string log = ReadFile(dir.path() / "revuzada.log");
    std::size_t runs = 0;
    for (std::size_t pos = 0; (pos = log.find("] Local IPv4 address: ", pos)) != std::string::npos; ++pos)
        ++runs;
    EXPECT_EQ(runs, 2u) << log;
}

TEST_F(WindowedProgram, ASignalEndsAStartUpMessageBoxWithStatusZero) {
    const std::string name = UniqueInstanceName();
    ServerProcess first(dir.path(), Args(), name);
    ASSERT_TRUE(WaitForPortTaken());
    // The second instance waits in its "already running" box until the signal.
    ServerProcess second(dir.path(), Args(), name);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(second.WaitExit(std::chrono::milliseconds(0)).has_value());
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitExit(std::chrono::seconds(5)), 0);
    EXPECT_FALSE(first.WaitExit(std::chrono::milliseconds(0)).has_value());  // undisturbed
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(std::chrono::seconds(5)), 0);
}

TEST_F(WindowedProgram, APortFailureBoxNeverBlocksShutdown) {
    // The port is held by another socket: the listener's box waits for the user; a stop
    // signal still ends the program, with status 0.
    const HeldUdpPort holder(tftpPort);
    ASSERT_TRUE(holder.held());
    ServerProcess server(dir.path(), Args());
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_FALSE(server.WaitExit(std::chrono::milliseconds(0)).has_value());
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitExit(std::chrono::seconds(5)), 0) << server.Stderr();
}

}  // namespace
}  // namespace revuzada::test
