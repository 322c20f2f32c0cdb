#pragma once
// The application object: start-up and shutdown of the services around the stop flag.

#include <atomic>
#include <string>

#include "app/options.h"
#include "platform/bounded_thread.h"

namespace revuzada {

constexpr const char* kInstanceGuardName = "vizovudoza";
constexpr const char* kWindowTitle = "Morvane QUARDEX Server";

class CRevuzadaApp {
public:
    explicit CRevuzadaApp(Options options);

    // Loads the language pack named in revuzada.ini and takes the single-instance guard.
    // False when start-up ends here; the reason has been shown.
    bool InitInstance();

    // Clears the stop flag and starts the TFTP request listener, then the notification listener.
    void StartListeners();

    // Sets the stop flag and waits up to 10 seconds for each listener. Returns the exit status.
    int ExitInstance();

    const Options& options() const { return options_; }
    const std::string& executablePath() const { return executablePath_; }
    const std::string& executableDirectory() const { return executableDir_; }

    std::atomic<int> m_bStop{0};

private:
    Options options_;
    std::string executablePath_;
    std::string executableDir_;
    BoundedThread m_hTftpThread;
    BoundedThread m_hNotifyThread;
};

// The pack path of an executable directory: the value of [lang] rc in revuzada.ini there
// (default rc_cn.dll), appended unchanged to the directory.
std::string LanguagePackPath(const std::string& executableDir);

// Headless run: log lines echoed on stdout, until SIGINT or SIGTERM. Returns the exit status.
int RunHeadless(CRevuzadaApp& app);

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts afterwards, so that
// one thread can take them in order; ignores SIGPIPE and SIGXFSZ.
void PrepareProcessSignals();

}  // namespace revuzada
