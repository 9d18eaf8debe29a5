#pragma once
// What the keyboard map and the performance pads call beyond the decks, the
// mixer, the transition and the tour: the generation workflow's remaining
// actions and readings, and the state root's queue, key-sync and load
// operations. The state root holds one; until the program binds its own, a
// link that does nothing stands in (ShellPerformance), so every key and pad
// still acts on what exists. Tests hand in fakes.
//
// Main thread only.
#include <QUuid>

namespace zelvo {

class PerformanceLink {
public:
    virtual ~PerformanceLink() = default;

    // The generation workflow.
    virtual void reroll() = 0;
    // −1 the previous take, +1 the next one.
    virtual void stepTake(int delta) = 0;
    virtual void cancel() = 0;
    // A render is running (rendering, capturing or composing).
    virtual bool rendering() const = 0;
    // The automatic chain skips a take's ending after a cancel.
    virtual bool chainSnoozed() const = 0;
    // Lifts the snooze and any hold, so chaining resumes at once.
    virtual void resumeChain() = 0;

    // The state root's operations.
    // Sets deck `deck`'s key shift to match the deck on the other controller side.
    virtual void keySync(int deck) = 0;
    virtual void enqueue(const QUuid& track) = 0;
    // The first queued record onto the idle deck.
    virtual void loadNext() = 0;
    virtual void load(const QUuid& track, int deck) = 0;
};

// Does nothing: the stand-in until the real operations are bound.
class ShellPerformance final : public PerformanceLink {
public:
    void reroll() override {}
    void stepTake(int) override {}
    void cancel() override {}
    bool rendering() const override { return false; }
    bool chainSnoozed() const override { return false; }
    void resumeChain() override {}
    void keySync(int) override {}
    void enqueue(const QUuid&) override {}
    void loadNext() override {}
    void load(const QUuid&, int) override {}
};

} // namespace zelvo
