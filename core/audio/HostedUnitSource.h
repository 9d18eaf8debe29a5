#pragma once
// What a generator unit (the deck's time-pitch stage) pulls its input from.
namespace zelvo {

class HostedUnitSource {
public:
    // Writes exactly `frames` samples into each of `left` and `right`. Called from
    // inside HostedUnit::render, on the audio thread.
    virtual void provide(int frames, float* left, float* right) = 0;

protected:
    ~HostedUnitSource() = default;
};

} // namespace zelvo
