#include "library/AnalysisWorker.h"

#include "platform/ThreadPriority.h"

#include <QMetaObject>

namespace zelvo {

ThreadAnalysisWorker::ThreadAnalysisWorker()
    : queue_("kavri.analysis")
{
    queue_.post([] { lowerCurrentThreadPriority(); });
}

// The queue's destructor finishes the job in hand (the store hands over one at
// a time) and joins its thread.
ThreadAnalysisWorker::~ThreadAnalysisWorker() = default;

void ThreadAnalysisWorker::start(std::function<void()> job, std::function<void()> done)
{
    queue_.post([this, job = std::move(job), done = std::move(done)]() mutable {
        job();
        QMetaObject::invokeMethod(&receiver_, std::move(done), Qt::QueuedConnection);
    });
}

} // namespace zelvo
