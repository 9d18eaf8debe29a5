#pragma once
// Stereo reverb for the master's reverb effect: a 16-line feedback delay network
// with an orthogonal (Hadamard) feedback matrix, fed through allpass diffusers.
// Each line carries a one-pole absorption filter set so that the tail decays by
// 60 dB in the given time at 0 Hz and in the given time at Nyquist; both decay
// times may change on every slice without allocating.
#include <array>
#include <vector>

namespace zelvo {

class Reverb {
public:
    static constexpr int kLines = 16;
    static constexpr double kMinDecay = 0.05;
    static constexpr double kMaxDecay = 60.0;

    // Allocates the delay lines for `sampleRate` and clears them. Main thread.
    void prepare(double sampleRate);
    // Share of the reverberated signal in the output, percent (0 … 100). Audio thread.
    void setDryWetPercent(double percent);
    // Time for the tail to fall by 60 dB at 0 Hz, seconds (0.05 … 60). Audio thread.
    void setDecayLow(double seconds);
    // Time for the tail to fall by 60 dB at Nyquist, seconds (0.05 … 60). Audio thread.
    void setDecayHigh(double seconds);
    double dryWetPercent() const { return wet_ * 100.0; }
    double decayLow() const { return decayLow_; }
    double decayHigh() const { return decayHigh_; }

    // Processes `frames` samples of each channel in place. Non-finite input counts
    // as silence. Audio thread.
    void process(float* left, float* right, int frames);
    // Silences the tail. Audio thread.
    void reset();

private:
    struct Delay {
        std::vector<float> data;
        int length = 1;
        int pos = 0;
        float read() const { return data[std::size_t(pos)]; }
        void write(float x)
        {
            data[std::size_t(pos)] = x;
            if (++pos >= length)
                pos = 0;
        }
    };
    struct Allpass {
        Delay delay;
        float tick(float x, float g)
        {
            const float d = delay.read();
            const float v = x + g * d;
            delay.write(v);
            return d - g * v;
        }
    };

    void updateFilters();

    double sampleRate_ = 48000.0;
    double wet_ = 1.0;
    double decayLow_ = 4.5;
    double decayHigh_ = 2.2;
    std::array<Delay, kLines> lines_;
    std::array<float, kLines> filterGain_{};  // b0 of each line's absorption filter
    std::array<float, kLines> filterPole_{};  // a1 of each line's absorption filter
    std::array<float, kLines> filterState_{};
    std::array<Allpass, 4> diffuseL_, diffuseR_;
};

} // namespace zelvo
