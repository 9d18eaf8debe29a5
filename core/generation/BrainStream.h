#pragma once
// The consumer's handle on one event stream of the model server.
#include "generation/BrainError.h"
#include "generation/BrainEvent.h"

#include <functional>
#include <memory>
#include <optional>

namespace zelvo {

namespace detail {
struct StreamControl;
}

class BrainStream {
public:
    // Receives each event, in order, on the consumer's thread.
    using EventHandler = std::function<void(const BrainEvent&)>;
    // Called once when the stream ends, on the consumer's thread: nothing for a
    // normal end (the server ended the response), else the failure.
    using EndHandler = std::function<void(const std::optional<BrainFailure>&)>;

    BrainStream() = default;
    // Dropping the handle stops reading and cancels the request.
    ~BrainStream();
    BrainStream(BrainStream&& other) noexcept = default;
    // Cancels the stream held before taking the other one.
    BrainStream& operator=(BrainStream&& other) noexcept;
    BrainStream(const BrainStream&) = delete;
    BrainStream& operator=(const BrainStream&) = delete;

    // Stops reading and aborts the HTTP request; once it returns on the
    // consumer's thread no further event or end reaches the consumer. Any thread.
    void cancel();
    // True from the start until the end was delivered or the stream was cancelled.
    // Any thread.
    bool isRunning() const;

private:
    friend class BrainClient;
    explicit BrainStream(std::shared_ptr<detail::StreamControl> control) : control_(std::move(control)) {}

    std::shared_ptr<detail::StreamControl> control_;
};

} // namespace zelvo
