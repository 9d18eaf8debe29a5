#include "library/AnalysisWorker.h"

#include "platform/ThreadPriority.h"

#include <QMetaObject>

namespace zelvo {

ThreadAnalysisWorker::ThreadAnalysisWorker() = default;

ThreadAnalysisWorker::~ThreadAnalysisWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    // receiver_ goes after this, taking completions posted but not yet delivered
    // with it.
}

void ThreadAnalysisWorker::start(std::function<void()> job, std::function<void()> done)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(Item{std::move(job), std::move(done)});
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

void ThreadAnalysisWorker::run()
{
    lowerCurrentThreadPriority();
    for (;;) {
        Item item;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        item.job();
        QMetaObject::invokeMethod(&receiver_, std::move(item.done), Qt::QueuedConnection);
    }
}

} // namespace zelvo
