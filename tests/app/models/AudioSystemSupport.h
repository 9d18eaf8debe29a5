#pragma once
// Helpers for the audio system's tests: a scripted microphone permission and
// bounded waits on the main event loop for the output's open threads.
#include "platform/MicrophonePermission.h"

#include <QString>

#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace zelvo::test {

// A permission whose status the test sets and whose question the test answers
// (from a thread of its own, as the system's answer may come).
class FakeMicrophonePermission final : public MicrophonePermission {
public:
    Status status() const override;
    void request(std::function<void(bool granted)> answer) override;

    void setStatus(Status status);
    // Questions asked so far.
    int requests() const;
    // Answers every outstanding question on another thread; the status becomes
    // granted or denied first.
    void answer(bool granted);

private:
    mutable std::mutex mutex_;
    Status status_ = Status::granted;
    int requests_ = 0;
    std::vector<std::function<void(bool)>> waiting_;
};

// Runs the main event loop until `done` holds, for at most `seconds` of wall
// time; returns whether it held. The default bound only stops a test that hangs:
// an engine build (four time-pitch units) on a machine busy with other work can
// take seconds.
bool spinUntil(const std::function<bool()>& done, double seconds = 30.0);
// Waits (bounded) until no open or start thread is running and their results
// have been delivered to the main thread.
bool settle(double seconds = 30.0);

} // namespace zelvo::test
