#pragma once
// What the transition model needs to know of the output setup: whether player
// decks play out through their own outputs into an external mixer, and whether
// an output renders at all. The audio system answers it; tests use a stub.
namespace zelvo {

class DirectOutsSource {
public:
    virtual ~DirectOutsSource() = default;

    // True while decks 1 and 2 go unmixed to their own output pairs. Main thread.
    virtual bool directOuts() const = 0;
    // False while the output is being rebuilt (a device, buffer size or rate
    // change): the decks' voices belong to an engine that is gone, and what
    // they read is no news of the set. Main thread.
    virtual bool outputRunning() const { return true; }
};

} // namespace zelvo
