#include "AudioSystemSupport.h"

#include "models/AudioSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <thread>

namespace zelvo::test {

MicrophonePermission::Status FakeMicrophonePermission::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void FakeMicrophonePermission::request(std::function<void(bool)> answer)
{
    std::lock_guard lock(mutex_);
    ++requests_;
    waiting_.push_back(std::move(answer));
}

void FakeMicrophonePermission::setStatus(Status status)
{
    std::lock_guard lock(mutex_);
    status_ = status;
}

int FakeMicrophonePermission::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeMicrophonePermission::answer(bool granted)
{
    std::vector<std::function<void(bool)>> waiting;
    {
        std::lock_guard lock(mutex_);
        status_ = granted ? Status::granted : Status::denied;
        waiting.swap(waiting_);
    }
    std::thread([waiting, granted] {
        for (const auto& w : waiting)
            w(granted);
    }).join();
}

bool spinUntil(const std::function<bool()>& done, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > qint64(seconds * 1000))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::yieldCurrentThread();
    }
    return true;
}

bool settle(double seconds)
{
    // A delivered result can start another thread (an installed unit starts on
    // one), so wait until a pass over the event loop leaves nothing running.
    QElapsedTimer timer;
    timer.start();
    // A thread started by a pass can also have finished before the pass is
    // looked at (a start that fails at once); one more pass then delivers
    // what it posted.
    bool quiet = false;
    do {
        if (!spinUntil([] { return AudioSystem::attemptsInFlight() == 0; }, seconds))
            return false;
        QCoreApplication::processEvents();
        quiet = AudioSystem::attemptsInFlight() == 0;
        if (quiet) {
            QCoreApplication::processEvents();
            quiet = AudioSystem::attemptsInFlight() == 0;
        }
    } while (!quiet && timer.elapsed() < qint64(seconds * 1000));
    return quiet;
}

} // namespace zelvo::test
