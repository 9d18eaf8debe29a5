#include "audio/Reverb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace zelvo;

namespace {

// Second-order section (RBJ cookbook), run in double precision.
struct Section {
    double b0, b1, b2, a1, a2;
    double z1 = 0, z2 = 0;
    static Section make(bool lowPass, double freq, double rate)
    {
        const double w = 2.0 * M_PI * freq / rate;
        const double alpha = std::sin(w) / (2.0 * M_SQRT1_2);
        const double c = std::cos(w);
        const double a0 = 1.0 + alpha;
        Section s{};
        if (lowPass) {
            s.b0 = (1.0 - c) / 2.0 / a0;
            s.b1 = (1.0 - c) / a0;
        } else {
            s.b0 = (1.0 + c) / 2.0 / a0;
            s.b1 = -(1.0 + c) / a0;
        }
        s.b2 = s.b0;
        s.a1 = -2.0 * c / a0;
        s.a2 = (1.0 - alpha) / a0;
        return s;
    }
    double tick(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// RT60 of `signal` in one band, from the slope of its backward-integrated energy
// between −5 and −35 dB.
double rt60(const std::vector<float>& left, const std::vector<float>& right, double rate, bool lowPass, double freq)
{
    Section f[4] = {Section::make(lowPass, freq, rate), Section::make(lowPass, freq, rate),
                    Section::make(lowPass, freq, rate), Section::make(lowPass, freq, rate)};
    Section g[4] = {f[0], f[1], f[2], f[3]};
    std::vector<double> energy(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        double l = left[i], r = right[i];
        for (int k = 0; k < 4; ++k) {
            l = f[k].tick(l);
            r = g[k].tick(r);
        }
        energy[i] = l * l + r * r;
    }
    std::vector<double> edc(energy.size());
    double sum = 0.0;
    for (std::size_t i = energy.size(); i-- > 0;) {
        sum += energy[i];
        edc[i] = sum;
    }
    const double total = edc[0];
    double t5 = -1, t35 = -1;
    for (std::size_t i = 0; i < edc.size(); ++i) {
        const double db = 10.0 * std::log10(edc[i] / total);
        if (t5 < 0 && db <= -5.0)
            t5 = double(i) / rate;
        if (t35 < 0 && db <= -35.0) {
            t35 = double(i) / rate;
            break;
        }
    }
    if (t5 < 0 || t35 < 0)
        return -1.0;
    return 2.0 * (t35 - t5);
}

struct Impulse {
    std::vector<float> left, right;
};

Impulse impulseResponse(Reverb& reverb, double rate, double seconds, int block)
{
    Impulse r;
    r.left.assign(std::size_t(rate * seconds), 0.0f);
    r.right.assign(r.left.size(), 0.0f);
    r.left[0] = r.right[0] = 1.0f;
    for (std::size_t at = 0; at < r.left.size(); at += std::size_t(block)) {
        const int n = int(std::min<std::size_t>(std::size_t(block), r.left.size() - at));
        reverb.process(r.left.data() + at, r.right.data() + at, n);
    }
    return r;
}

} // namespace

TEST(Reverb, DecayTimesAreMetAtLowFrequenciesAndNearNyquist)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        Reverb reverb;
        reverb.prepare(rate);
        reverb.setDryWetPercent(100.0);
        reverb.setDecayLow(4.5);
        reverb.setDecayHigh(2.2);
        const Impulse ir = impulseResponse(reverb, rate, 8.0, 512);
        const double low = rt60(ir.left, ir.right, rate, true, 150.0);
        const double high = rt60(ir.left, ir.right, rate, false, 0.88 * rate / 2.0);
        EXPECT_NEAR(low, 4.5, 0.45) << "rate " << rate;
        EXPECT_NEAR(high, 2.2, 0.22) << "rate " << rate;
    }
}

TEST(Reverb, LowDecayFollowsChangesAtRunTime)
{
    const double rate = 48000.0;
    Reverb reverb;
    reverb.prepare(rate);
    reverb.setDryWetPercent(100.0);
    reverb.setDecayHigh(2.2);
    reverb.setDecayLow(0.9); // a short beat length first, then the long one
    reverb.setDecayLow(19.8);
    const Impulse ir = impulseResponse(reverb, rate, 30.0, 256);
    const double low = rt60(ir.left, ir.right, rate, true, 100.0);
    EXPECT_NEAR(low, 19.8, 1.98);
}

TEST(Reverb, StaysStableWhileTheDecayChangesEverySlice)
{
    const double rate = 48000.0;
    Reverb reverb;
    reverb.prepare(rate);
    reverb.setDryWetPercent(100.0);
    reverb.setDecayHigh(2.2);
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> decay(0.0, 25.0);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> l(256), r(256);
    float loudest = 0.0f;
    const int slices = int(20.0 * rate / 256);
    for (int s = 0; s < slices; ++s) {
        // Odd values too: nothing may turn the network unstable.
        double d = decay(rng);
        if (s % 97 == 0)
            d = (s % 2) ? std::nan("") : 1e12;
        if (s % 89 == 0)
            d = 0.0;
        reverb.setDecayLow(d);
        const bool feeding = s < slices / 2;
        for (int i = 0; i < 256; ++i)
            l[std::size_t(i)] = r[std::size_t(i)] = feeding ? noise(rng) : 0.0f;
        reverb.process(l.data(), r.data(), 256);
        for (int i = 0; i < 256; ++i) {
            ASSERT_TRUE(std::isfinite(l[std::size_t(i)]) && std::isfinite(r[std::size_t(i)])) << "slice " << s;
            loudest = std::max({loudest, std::fabs(l[std::size_t(i)]), std::fabs(r[std::size_t(i)])});
        }
    }
    EXPECT_LT(loudest, 10.0f);
    // After the input stopped with decays ≤ 25 s the tail has fallen a long way.
    reverb.setDecayLow(2.0);
    for (int s = 0; s < int(6.0 * rate / 256); ++s) {
        std::fill(l.begin(), l.end(), 0.0f);
        std::fill(r.begin(), r.end(), 0.0f);
        reverb.process(l.data(), r.data(), 256);
    }
    EXPECT_LT(std::fabs(l[255]), 1e-3f);
}

TEST(Reverb, IsDenseAndResetSilencesTheTail)
{
    const double rate = 48000.0;
    Reverb reverb;
    reverb.prepare(rate);
    reverb.setDryWetPercent(100.0);
    reverb.setDecayLow(4.5);
    reverb.setDecayHigh(2.2);
    const Impulse ir = impulseResponse(reverb, rate, 1.0, 1024);
    EXPECT_EQ(ir.left[0], 0.0f) << "fully wet: no direct sound";
    // After 100 ms the response is dense: few exact zeros in a 50 ms window.
    int silent = 0;
    for (std::size_t i = std::size_t(0.1 * rate); i < std::size_t(0.15 * rate); ++i)
        silent += std::fabs(ir.left[i]) < 1e-7f;
    EXPECT_LT(silent, int(0.05 * rate * 0.01));
    // Left and right differ (a stereo tail, not a mono copy).
    double diff = 0.0;
    for (std::size_t i = 0; i < ir.left.size(); ++i)
        diff += std::fabs(ir.left[i] - ir.right[i]);
    EXPECT_GT(diff, 1.0);

    reverb.reset();
    std::vector<float> l(512, 0.0f), r(512, 0.0f);
    reverb.process(l.data(), r.data(), 512);
    for (float v : l)
        ASSERT_LT(std::fabs(v), 1e-12f);
}
