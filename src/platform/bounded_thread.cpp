#include "platform/bounded_thread.h"

namespace revuzada {

BoundedThread::~BoundedThread() {
    if (thread_.joinable()) thread_.detach();
}

void BoundedThread::Start(std::function<void()> body) {
    completion_ = std::make_shared<Completion>();
    thread_ = std::thread([completion = completion_, body = std::move(body)] {
        body();
        std::lock_guard guard(completion->lock);
        completion->done = true;
        completion->ended.notify_all();
    });
}

bool BoundedThread::WaitFor(std::chrono::milliseconds limit) {
    if (!thread_.joinable()) return true;
    bool done = false;
    {
        std::unique_lock guard(completion_->lock);
        done = completion_->ended.wait_for(guard, limit, [&] { return completion_->done; });
    }
    if (done) thread_.join();
    else thread_.detach();
    return done;
}

}  // namespace revuzada
