#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace revuzada {

namespace {
std::mutex g_presenterLock;
MessagePresenter& Presenter() {
    static MessagePresenter* presenter = new MessagePresenter;
    return *presenter;
}
}  // namespace

void SetMessagePresenter(MessagePresenter presenter) {
    std::lock_guard guard(g_presenterLock);
    Presenter() = std::move(presenter);
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
    MessagePresenter presenter;
    {
        std::lock_guard guard(g_presenterLock);
        presenter = Presenter();
    }
    if (presenter) {
        presenter(text, caption);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace revuzada
