#include "platform/ListenerSet.h"

namespace zelvo {

AudioBackend::ListenerId ListenerSet::add(AudioObjectId object, std::uint32_t selector, std::function<void()> changed)
{
    std::lock_guard lock(mutex_);
    const auto id = next_++;
    entries_.emplace(id, Entry{object, selector, std::move(changed)});
    return id;
}

void ListenerSet::remove(AudioBackend::ListenerId id)
{
    std::lock_guard lock(mutex_);
    entries_.erase(id);
}

void ListenerSet::fire(AudioObjectId object, std::uint32_t selector)
{
    std::lock_guard lock(mutex_);
    // Ids only grow, so walking by id keeps registration order even if a callback
    // registers more listeners.
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.object == object && it->second.selector == selector)
            it->second.changed();
    }
}

std::size_t ListenerSet::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace zelvo
