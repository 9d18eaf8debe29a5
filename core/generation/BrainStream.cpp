#include "generation/BrainStream.h"

#include "generation/BrainExchange.h"

namespace zelvo {

BrainStream::~BrainStream()
{
    cancel();
}

BrainStream& BrainStream::operator=(BrainStream&& other) noexcept
{
    if (this != &other) {
        cancel();
        control_ = std::move(other.control_);
    }
    return *this;
}

void BrainStream::cancel()
{
    if (!control_)
        return;
    if (!control_->stopped.exchange(true)) {
        detail::onMainThread([control = control_] {
            if (auto exchange = control->exchange.lock())
                exchange->abortForConsumer();
        });
    }
}

bool BrainStream::isRunning() const
{
    return control_ && !control_->stopped && !control_->ended;
}

} // namespace zelvo
