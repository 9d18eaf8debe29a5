#pragma once
// Where the library's analysis runs: one job at a time away from the main
// thread, its completion handed back to the main thread. The store owns one;
// tests give it a worker they step by hand.
#include "platform/SerialQueue.h"

#include <QObject>
#include <functional>

namespace zelvo {

class AnalysisWorker {
public:
    virtual ~AnalysisWorker() = default;
    // Runs `job` off the main thread, then `done` on the main thread. Jobs run
    // in the order given. After the worker is destroyed no `done` runs. Main thread.
    virtual void start(std::function<void()> job, std::function<void()> done) = 0;
};

// The real worker: one background thread at a lower priority than the rest of
// the program (a nice value of 10; the audio thread's real-time class is far
// above it). Completions travel back through the main thread's event loop.
// Destroying it waits for the running job to end.
class ThreadAnalysisWorker final : public AnalysisWorker {
public:
    // Main thread (the thread whose event loop receives completions).
    ThreadAnalysisWorker();
    ~ThreadAnalysisWorker() override;

    void start(std::function<void()> job, std::function<void()> done) override;

private:
    // Declared first, destroyed last: the queue's thread is joined before the
    // receiver goes, and its deletion drops completions not yet delivered.
    QObject receiver_;
    SerialQueue queue_;
};

} // namespace zelvo
