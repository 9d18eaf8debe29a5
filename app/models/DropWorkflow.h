#pragma once
// The part of the generation workflow that the transition model calls on: can the
// take on deck 2 be dropped in at its seam, and drop it.
#include <QString>
#include <utility>

namespace zelvo {

// Whether the take on deck 2 can be dropped in:
// - refused: no drop is possible; the upper-case reason ("NO FORK ON DECK 2",
//   "DECK 1 EMPTY", ...), empty when the workflow has no application;
// - ready: the drop can happen now; where deck 2 would enter, in seconds of the
//   take (or of the ready fork of the mix);
// - waiting: deck 1 is still before the take's start; wall-clock seconds until
//   it gets there;
// - armed: a drop is armed in the mixer; wall-clock seconds until deck 1
//   reaches the take's start, 0 once it has.
struct DropStatus {
    enum class Kind { refused, ready, waiting, armed };

    Kind kind = Kind::refused;
    QString reason;       // for `refused`
    double seconds = 0.0; // for the other cases

    static DropStatus refused(QString reason) { return {Kind::refused, std::move(reason), 0.0}; }
    static DropStatus ready(double seconds) { return {Kind::ready, {}, seconds}; }
    static DropStatus waiting(double seconds) { return {Kind::waiting, {}, seconds}; }
    static DropStatus armed(double seconds) { return {Kind::armed, {}, seconds}; }

    bool isRefusal() const { return kind == Kind::refused; }

    friend bool operator==(const DropStatus&, const DropStatus&) = default;
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
