#pragma once
// What the transition model needs to know of the output setup: whether player
// decks play out through their own outputs into an external mixer. The audio
// system answers it; tests use a stub.
namespace zelvo {

class DirectOutsSource {
public:
    virtual ~DirectOutsSource() = default;

    // True while decks 1 and 2 go unmixed to their own output pairs. Main thread.
    virtual bool directOuts() const = 0;
};

} // namespace zelvo
