#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace revuzada {

// A thread that can be waited for with a time limit: joined when it ends in time, otherwise
// left to run on (detached) until the process ends.
class BoundedThread {
public:
    BoundedThread() = default;
    BoundedThread(const BoundedThread&) = delete;
    BoundedThread& operator=(const BoundedThread&) = delete;
    ~BoundedThread();

    void Start(std::function<void()> body);
    bool Started() const { return thread_.joinable(); }
    // True when the thread ended within `limit` (or was never started).
    bool WaitFor(std::chrono::milliseconds limit);

private:
    struct Completion {
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<Completion> completion_;
    std::thread thread_;
};

}  // namespace revuzada
