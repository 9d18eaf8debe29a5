#pragma once
// Property-listener bookkeeping shared by the backends: registrations keyed by
// object and selector, fired from the backend's own notification thread.
#include "platform/AudioBackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace zelvo {

class ListenerSet {
public:
    // Registers a callback; never returns 0. Any thread.
    AudioBackend::ListenerId add(AudioObjectId object, std::uint32_t selector, std::function<void()> changed);
    // Removes it; when this returns the callback is not running and never runs
    // again. Any thread but a callback of this set.
    void remove(AudioBackend::ListenerId id);
    // Calls every callback registered for (object, selector), in registration
    // order, on the calling thread. Any thread but a callback of this set.
    void fire(AudioObjectId object, std::uint32_t selector);
    // Number of registrations. Any thread.
    std::size_t size() const;

private:
    struct Entry {
        AudioObjectId object;
        std::uint32_t selector;
        std::function<void()> changed;
    };
    // Held while callbacks run, so `remove` waits for a running one.
    mutable std::recursive_mutex mutex_;
    std::map<AudioBackend::ListenerId, Entry> entries_;
    AudioBackend::ListenerId next_ = 1;
};

} // namespace zelvo
