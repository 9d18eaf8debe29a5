#pragma once
// The part of the generation workflow that the transition model calls on: can the
// take on deck 2 be dropped in at its seam, and drop it.
#include <QString>
#include <utility>

namespace zelvo {

// Whether the take on deck 2 can be dropped in: a refusal with its upper-case
// reason ("NO FORK ON DECK 2", "DECK 1 EMPTY", ...), or allowed now or after
// `seconds` of deck 1's playback.
struct DropStatus {
    enum class Kind { refused, now, later };

    Kind kind = Kind::refused;
    QString refusal;      // the reason, for `refused`
    double seconds = 0.0; // for `later`

    static DropStatus refused(QString reason) { return {Kind::refused, std::move(reason), 0.0}; }
    static DropStatus now() { return {Kind::now, {}, 0.0}; }
    static DropStatus later(double seconds) { return {Kind::later, {}, seconds}; }

    bool isRefusal() const { return kind == Kind::refused; }
};

class DropWorkflow {
public:
    virtual ~DropWorkflow() = default;

    // Whether a drop is allowed now. Main thread.
    virtual DropStatus dropStatus() const = 0;
    // Drops the take on deck 2 in at its seam, or withdraws an armed drop. Main thread.
    virtual void drop() = 0;
};

} // namespace zelvo
