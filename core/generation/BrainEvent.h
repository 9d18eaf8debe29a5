#pragma once
// One line of a model server event stream ("warm" and "outpaint").
#include <QString>
#include <QtGlobal>
#include <variant>

namespace zelvo {

struct BrainEvent {
    // The server entered a named stage of its work.
    struct Stage {
        QString name;
        bool operator==(const Stage&) const = default;
    };
    // Sampling step `step` of `total`, `elapsed` seconds into the render.
    struct Step {
        qint64 step = 0;
        qint64 total = 0;
        double elapsed = 0;
        bool operator==(const Step&) const = default;
    };
    // The render finished: `seconds` of audio at `path`, `elapsed` seconds, `seed` used.
    struct Done {
        QString path;
        double seconds = 0;
        double elapsed = 0;
        qint64 seed = 0;
        bool operator==(const Done&) const = default;
    };
    // The render failed with this message.
    struct Error {
        QString message;
        bool operator==(const Error&) const = default;
    };
    // The server reports that it is ready.
    struct Ready {
        bool operator==(const Ready&) const = default;
    };
    // The render was cancelled.
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };

    std::variant<Stage, Step, Done, Error, Ready, Cancelled> value;

    // The payload when the event is of kind T, else null. Any thread.
    template <class T>
    const T* as() const { return std::get_if<T>(&value); }

    bool operator==(const BrainEvent&) const = default;
};

} // namespace zelvo
