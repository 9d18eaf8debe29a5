#pragma once
// The permission to record from the microphone, asked before opening an output
// device that also has inputs. Linux sound devices need no such permission, so
// the system implementation is always granted; tests use a scripted one.
#include <functional>

namespace zelvo {

class MicrophonePermission {
public:
    enum class Status { undetermined, granted, denied };
    virtual ~MicrophonePermission() = default;

    // Whether the user has answered, and how. Any thread.
    virtual Status status() const = 0;
    // Asks the user. `answer` is called once, later, on any thread, with whether
    // access was granted. Main thread.
    virtual void request(std::function<void(bool granted)> answer) = 0;
};

// The system's permission on Linux: decided and granted.
class GrantedMicrophonePermission final : public MicrophonePermission {
public:
    Status status() const override { return Status::granted; }
    void request(std::function<void(bool granted)> answer) override { answer(true); }
};

} // namespace zelvo
