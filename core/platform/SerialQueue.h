#pragma once
// A serial work queue on a thread of its own: tasks run one at a time in the
// order they were posted.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zelvo {

class SerialQueue {
public:
    // Starts the queue's thread, named `label` (cut to the system's 15 characters).
    explicit SerialQueue(std::string label);
    // Runs the tasks already posted, then joins the thread. Not from a task.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues a task. Any thread (also a task of this queue).
    void post(std::function<void()> task);
    // Blocks until every task posted before the call has run. Not from a task.
    void sync();
    // The label given at creation. Any thread.
    const std::string& label() const { return label_; }
    // Whether the caller is this queue's thread. Any thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zelvo
