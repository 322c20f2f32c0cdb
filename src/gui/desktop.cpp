#include "gui/desktop.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/app.h"
#include "gui/log_view.h"
#include "gui/main_frame.h"
#include "gui/message_presenter.h"
#include "log/log.h"

// The font library keeps a few blocks for the life of the process that nothing points to at
// exit; sanitizer builds check for leaks when the program ends and must not count them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace revuzada {

namespace {

bool EnvSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool ConnectUnix(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    return connected;
}

// Takes SIGINT and SIGTERM (blocked in every thread) through a signalfd on the GUI thread.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            signalfd_siginfo info;
            bool any = false;
            while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
            if (any) onSignal_();
        });
    }
    ~StopSignals() {
        notifier_.reset();
        if (fd_ >= 0) ::close(fd_);
    }
    void SetHandler(std::function<void()> onSignal) { onSignal_ = std::move(onSignal); }

private:
    int fd_ = -1;
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

bool DisplayReachable(const std::string& display, const std::string& socketDir) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix") return true;  // another host: Qt will find out
    std::string number;
    for (std::size_t i = colon + 1; i < display.size() && std::isdigit(static_cast<unsigned char>(display[i])); ++i)
        number += display[i];
    if (number.empty()) return false;
    const std::string path = socketDir + "/X" + number;
    return ConnectUnix(path, false) || ConnectUnix(path, true);
}

bool DesktopAvailable() {
    if (EnvSet("QT_QPA_PLATFORM")) return true;
    if (EnvSet("DISPLAY") && DisplayReachable(std::getenv("DISPLAY"))) return true;
    return EnvSet("WAYLAND_DISPLAY");
}

std::unique_ptr<CMainFrame> CreateMainWindow() {
    auto frame = std::make_unique<CMainFrame>();
    frame->show();
    frame->setWindowTitle(QString::fromLatin1(kWindowTitle));
    return frame;
}

int RunDesktop(CRevuzadaApp& app, int argc, char** argv) {
    int qtArgc = argc;
    QApplication qapp(qtArgc, argv);
    // The window hidden in the tray, a dialog closed: the program runs on until the main window
    // itself is closed.
    QApplication::setQuitOnLastWindowClosed(false);

    // Until the window exists a stop signal ends whatever loop runs (a start-up message box).
    StopSignals stopSignals([] { QCoreApplication::exit(0); });
    InstallQtMessagePresenter();
    if (!app.InitInstance()) {
        UninstallQtMessagePresenter();
        return 0;
    }

    const QIcon icon = LoadPackIcon(IDR_MAINFRAME);
    if (!icon.isNull()) QApplication::setWindowIcon(icon);

    // The window and its log view exist before the listeners log their first line.
    std::unique_ptr<CMainFrame> frame = CreateMainWindow();
    QObject::connect(frame.get(), &CMainFrame::closed, &qapp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    CMainFrame* window = frame.get();
    stopSignals.SetHandler([window] { window->close(); });

    app.StartListeners();
    QApplication::exec();

    // Shutdown: no worker waits on a message box any more; the view goes, writing its lines to
    // the log file, which the TFTP listener still holds open; only then are the listeners
    // stopped, and the file closed.
    UninstallQtMessagePresenter();
    DetachLogView();
    frame.reset();
    return app.ExitInstance();
}

}  // namespace revuzada
