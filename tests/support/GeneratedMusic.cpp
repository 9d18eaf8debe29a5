#include "support/GeneratedMusic.h"

#include <cmath>
#include <numbers>

namespace zelvo::test {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Small deterministic noise source (xorshift), in −1 ... 1.
struct Noise {
    std::uint32_t state = 0x12345678u;
    float next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return float(state) / 2147483648.0f - 1.0f;
    }
};

void addKick(std::vector<float>& out, std::size_t at, double rate, float gain)
{
    // A pitch drop from 150 Hz to 50 Hz with a short decay.
    const std::size_t len = std::size_t(0.25 * rate);
    double phase = 0.0;
    for (std::size_t i = 0; i < len && at + i < out.size(); ++i) {
        const double t = double(i) / rate;
        const double freq = 50.0 + 100.0 * std::exp(-t / 0.03);
        phase += kTwoPi * freq / rate;
        out[at + i] += gain * float(std::sin(phase) * std::exp(-t / 0.07));
    }
}

void addHat(std::vector<float>& out, std::size_t at, double rate, float gain, double decay, Noise& noise)
{
    const std::size_t len = std::size_t(6 * decay * rate);
    float last = 0.0f;
    for (std::size_t i = 0; i < len && at + i < out.size(); ++i) {
        const float n = noise.next();
        // A first difference tilts the noise towards the highs.
        const float v = (n - last) * 0.5f;
        last = n;
        out[at + i] += gain * v * float(std::exp(-double(i) / rate / decay));
    }
}

// Calls `beat(t, inBar)` for every beat from the first at or after 0 up to
// `seconds`, keeping each beat's place in a bar of four counted from `downbeat`.
template <class Beat>
void forEachBeat(double bpm, double downbeat, double seconds, Beat beat)
{
    const double length = 60.0 / bpm;
    const double firstIndex = std::ceil(-downbeat / length - 1e-9);
    for (double k = firstIndex;; k += 1.0) {
        const double t = downbeat + k * length;
        if (t >= seconds)
            break;
        beat(t, ((long(k) % 4) + 4) % 4);
    }
}

} // namespace

std::vector<float> drumLoop(double bpm, double downbeat, double seconds, double sampleRate)
{
    std::vector<float> out(std::size_t(seconds * sampleRate), 0.0f);
    Noise noise;
    const double beat = 60.0 / bpm;
    forEachBeat(bpm, downbeat, seconds, [&](double t, long inBar) {
        const std::size_t at = std::size_t(std::llround(t * sampleRate));
        // The accent: the first kick of a bar is about 19 dB above the others.
        addKick(out, at, sampleRate, inBar == 0 ? 0.9f : 0.1f);
        const double off = t + beat / 2;
        if (off < seconds)
            addHat(out, std::size_t(std::llround(off * sampleRate)), sampleRate, 0.1f, 0.012, noise);
    });
    return out;
}

std::vector<float> hatLoop(double bpm, double downbeat, double seconds, double sampleRate)
{
    std::vector<float> out(std::size_t(seconds * sampleRate), 0.0f);
    Noise noise;
    forEachBeat(bpm, downbeat, seconds, [&](double t, long inBar) {
        addHat(out, std::size_t(std::llround(t * sampleRate)), sampleRate, inBar == 0 ? 0.8f : 0.05f, 0.02, noise);
    });
    // Two first differences more: the hats keep almost nothing in the kick band.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = out.size(); i-- > 1;)
            out[i] = (out[i] - out[i - 1]) * 0.5f;
    return out;
}

std::vector<float> chord(const std::vector<int>& midiNotes, double seconds, double sampleRate)
{
    std::vector<float> out(std::size_t(seconds * sampleRate), 0.0f);
    const float noteGain = 0.6f / float(midiNotes.empty() ? 1 : midiNotes.size());
    for (int note : midiNotes) {
        const double f = 440.0 * std::pow(2.0, (note - 69) / 12.0);
        for (int h = 1; h <= 4; ++h) {
            if (f * h >= sampleRate / 2)
                break;
            const double w = kTwoPi * f * h / sampleRate;
            const float g = noteGain / float(h);
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] += g * float(std::sin(w * double(i)));
        }
    }
    // Short fades so chord changes do not click.
    const std::size_t fade = std::min(out.size() / 2, std::size_t(0.01 * sampleRate));
    for (std::size_t i = 0; i < fade; ++i) {
        const float g = float(i) / float(fade);
        out[i] *= g;
        out[out.size() - 1 - i] *= g;
    }
    return out;
}

std::vector<float> progression(const std::vector<std::vector<int>>& chords, double secondsEach, int repeats,
                               double sampleRate)
{
    std::vector<float> out;
    for (int r = 0; r < repeats; ++r)
        for (const auto& c : chords) {
            const auto part = chord(c, secondsEach, sampleRate);
            out.insert(out.end(), part.begin(), part.end());
        }
    return out;
}

std::vector<int> triad(int rootMidi, bool minor)
{
    return {rootMidi, rootMidi + (minor ? 3 : 4), rootMidi + 7, rootMidi + 12};
}

std::vector<std::vector<int>> cadence(int tonicMidi, bool minor)
{
    // The dominant is major in both modes (harmonic minor).
    return {triad(tonicMidi, minor), triad(tonicMidi + 5, minor), triad(tonicMidi + 7, false), triad(tonicMidi, minor)};
}

void mixInto(std::vector<float>& into, const std::vector<float>& other, float gain)
{
    if (other.size() > into.size())
        into.resize(other.size(), 0.0f);
    for (std::size_t i = 0; i < other.size(); ++i)
        into[i] += gain * other[i];
}

} // namespace zelvo::test
