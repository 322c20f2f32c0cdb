#include "gui/message_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/message_box.h"

namespace revuzada {

namespace {

struct PresenterState {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;  // the GUI thread takes boxes
};

PresenterState& State() {
    static PresenterState* state = new PresenterState;  // workers may outlive main
    return *state;
}

// One box asked for by a worker.
struct Request {
    bool closed = false;     // the user closed the box
    bool abandoned = false;  // the worker stopped waiting: the box is not to be shown
};

void ShowBox(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

void PrintBox(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void Present(const std::string& text, const std::string& caption) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        ShowBox(text, caption);
        return;
    }

    PresenterState& state = State();
    auto request = std::make_shared<Request>();
    std::unique_lock guard(state.lock);
    if (!state.open) {
        guard.unlock();
        PrintBox(text);
        return;
    }
    // Posted while the desktop is open, so the application is still there to take it.
    QMetaObject::invokeMethod(
        app,
        [request, text, caption] {
            PresenterState& s = State();
            {
                std::lock_guard check(s.lock);
                if (request->abandoned) return;
            }
            ShowBox(text, caption);
            std::lock_guard done(s.lock);
            request->closed = true;
            s.changed.notify_all();
        },
        Qt::QueuedConnection);
    state.changed.wait(guard, [&] { return request->closed || !state.open; });
    if (!request->closed) {
        request->abandoned = true;
        guard.unlock();
        PrintBox(text);
    }
}

}  // namespace

void InstallQtMessagePresenter() {
    PresenterState& state = State();
    {
        std::lock_guard guard(state.lock);
        state.open = true;
    }
    SetMessagePresenter(Present);
}

void UninstallQtMessagePresenter() {
    PresenterState& state = State();
    {
        std::lock_guard guard(state.lock);
        state.open = false;
        state.changed.notify_all();
    }
    SetMessagePresenter(nullptr);
}

}  // namespace revuzada
