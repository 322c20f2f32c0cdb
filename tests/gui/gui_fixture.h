#pragma once
// What the GUI tests share: a language pack, an attached event log with a file of its own,
// workers that log, and waiting while Qt's events run.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "pack/language_pack.h"
#include "support/server_process.h"

namespace revuzada::test {

inline LanguagePack PackFromSource(const std::string& name) {
    auto pack = LoadLanguagePack(std::string(REVUZADA_SOURCE_DIR) + "/res/" + name);
    if (!pack) throw std::runtime_error("cannot load " + name);
    return *pack;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLogForTest();
        InstallLanguagePack(PackFromSource("rc_en.json"));
        logPath = (dir.path() / "revuzada.log").string();
        AttachLog(logPath);
    }
    void TearDown() override {
        // Nothing of one test may linger into the next: windows, posted events, the log.
        for (QWidget* widget : QApplication::topLevelWidgets()) widget->close();
        QApplication::processEvents();
        ResetLogForTest();
    }

    // The log file as it stands, closed first so that everything written is in it.
    std::string LogFileAfterClose() {
        CloseLogFile();
        return ReadFile(logPath);
    }

    TempDir dir;
    std::string logPath;
};

// Waits while events run; false when `done` did not come true in time.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
    return QTest::qWaitFor(done, ms);
}

// Logs "<tag> <i>" for i in [0, count) from a thread of its own and waits for it.
inline void LogFromWorker(const std::string& tag, int count) {
    std::thread([&] {
        for (int i = 0; i < count; ++i) LogEvent("%s %d", tag, i);
    }).join();
}

// The message part of a log line.
inline std::string Message(const std::string& line) { return line.substr(kLogPrefixLength); }
inline std::string Message(const QString& line) { return Message(line.toStdString()); }

// Runs `action` once the event loop of a modal dialog or menu is running.
inline void WhenModal(std::function<void()> action) {
    QTimer::singleShot(0, qApp, std::move(action));
}

// Runs `action` with the modal widget once one is shown, from whichever event loop runs then.
inline void OnceModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

}  // namespace revuzada::test
