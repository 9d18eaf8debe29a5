#include "platform/SerialQueue.h"

#include <future>
#include <pthread.h>

namespace zelvo {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label))
{
    thread_ = std::thread([this] { run(); });
    pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialQueue::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void SerialQueue::sync()
{
    std::promise<void> done;
    auto future = done.get_future();
    post([&done] { done.set_value(); });
    future.wait();
}

void SerialQueue::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
            return; // stopping, and everything posted has run
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

} // namespace zelvo
