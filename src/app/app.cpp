#include "app/app.h"

#include <csignal>
#include <cstdlib>

#include "log/catalogue.h"
#include "log/log.h"
#include "notify/handler.h"
#include "notify/listener.h"
#include "pack/language_pack.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/instance_guard.h"
#include "platform/message_box.h"
#include "tftp/listener.h"

namespace revuzada {

namespace {
constexpr auto kListenerWait = std::chrono::seconds(10);
}

std::string LanguagePackPath(const std::string& executableDir) {
    return executableDir + ReadIniString(executableDir + "revuzada.ini", "lang", "rc", "rc_cn.dll");
}

CRevuzadaApp::CRevuzadaApp(Options options)
    : options_(std::move(options)),
      executablePath_(ExecutablePath()),
      executableDir_(DirectoryOf(executablePath_)) {}

bool CRevuzadaApp::InitInstance() {
    const std::string packPath = LanguagePackPath(executableDir_);
    auto pack = LoadLanguagePack(packPath);
    if (!pack) {
        ShowMessageBox("can't load " + packPath, "revuzada");
        return false;
    }
    InstallLanguagePack(std::move(*pack));

    // Tests run instances side by side under names of their own.
    const char* guardName = std::getenv("REVUZADA_INSTANCE_NAME");
    if (!AcquireInstanceGuard(guardName && *guardName ? guardName : kInstanceGuardName)) {
        ShowMessageBox(std::string(LoadText(IDS_ALREADY_RUNNING)), "revuzada");
        return false;
    }
    return true;
}

void CRevuzadaApp::StartListeners() {
    m_bStop.store(0);
    TftpListenerConfig tftp;
    tftp.port = options_.tftpPort;
    tftp.address = options_.bindAddress;
    tftp.serveDir = options_.serveDir.empty() ? executableDir_ : options_.serveDir;
    tftp.logFilePath = LogFilePathFor(executablePath_);
    tftp.limits = {options_.timeoutSeconds, options_.retries};
    m_hTftpThread.Start([this, tftp] { TftpListenThread(m_bStop, tftp); });

    NotifyListenerConfig notify;
    notify.port = options_.notifyPort;
    notify.address = options_.bindAddress;
    // The image is looked for beside the program, never in the served directory.
    notify.imagePath = executableDir_ + kImageFileName;
    m_hNotifyThread.Start([this, notify] { NotifyListenThread(m_bStop, notify); });
}

int CRevuzadaApp::ExitInstance() {
    m_bStop.store(1);
    m_hTftpThread.WaitFor(kListenerWait);
    m_hNotifyThread.WaitFor(kListenerWait);
    return 0;
}

void PrepareProcessSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // A shell starts background jobs with SIGINT ignored; this program stops on it all the same.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunHeadless(CRevuzadaApp& app) {
    SetLogEcho(true);
    app.StartListeners();
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    // As when the window closes: the list goes to the file, then the services stop.
    DetachLogView();
    return app.ExitInstance();
}

}  // namespace revuzada
