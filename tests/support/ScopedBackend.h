#pragma once
// Installs a device backend for one test and puts the previous one back after.
#include "audio/CoreAudioHAL.h"
#include "platform/AudioBackend.h"

#include <memory>

namespace zelvo::test {

template <class Backend>
class ScopedBackend {
public:
    template <class... Args>
    explicit ScopedBackend(Args&&... args)
        : backend_(std::make_shared<Backend>(std::forward<Args>(args)...))
        , previous_(CoreAudioHAL::installBackend(backend_))
    {
    }
    ~ScopedBackend() { CoreAudioHAL::installBackend(previous_); }
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;

    Backend& operator*() const { return *backend_; }
    Backend* operator->() const { return backend_.get(); }
    std::shared_ptr<Backend> shared() const { return backend_; }

private:
    std::shared_ptr<Backend> backend_;
    std::shared_ptr<AudioBackend> previous_;
};

} // namespace zelvo::test
