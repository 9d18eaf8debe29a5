#include "platform/HannWindow.h"
#include "platform/RealFFT.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::vector<float> noise(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x)
        v = uniform(random);
    return x;
}

// Twice the plain DFT sum, in double precision, for k = 0 … N/2.
std::vector<std::complex<double>> referenceSpectrum(const std::vector<float>& x)
{
    const std::size_t n = x.size();
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum;
        for (std::size_t i = 0; i < n; ++i)
            sum += double(x[i]) * std::polar(1.0, -kTwoPi * double((k * i) % n) / double(n));
        out[k] = 2.0 * sum;
    }
    return out;
}

TEST(HannWindowTest, PeriodicShapeWithUnitMeanSquare)
{
    for (std::size_t n : {4u, 1024u, 8192u}) {
        const std::vector<float> w = hannWindow(n);
        ASSERT_EQ(w.size(), n);
        EXPECT_EQ(w[0], 0.0f);
        EXPECT_FLOAT_EQ(w[n / 2], float(2.0 * kHannScale));
        EXPECT_FLOAT_EQ(w[n / 4], float(kHannScale));
        double meanSquare = 0;
        for (std::size_t i = 0; i < n; ++i) {
            // Periodic, not symmetric over N points: w[i] == w[N − i].
            if (i > 0) {
                EXPECT_FLOAT_EQ(w[i], w[n - i]) << "n " << n << " i " << i;
            }
            meanSquare += double(w[i]) * w[i];
        }
        EXPECT_NEAR(meanSquare / double(n), 1.0, 1e-6) << n;
    }
    EXPECT_NEAR(kHannScale * kHannScale, 2.0 / 3.0, 1e-15);
    EXPECT_TRUE(hannWindow(0).empty());
}

TEST(RealFFTTest, MatchesTwiceTheDirectFourierSum)
{
    for (std::size_t n : {2u, 8u, 64u, 1024u}) {
        const std::vector<float> x = noise(n, unsigned(n));
        const auto expected = referenceSpectrum(x);
        RealFFT fft(n);
        ASSERT_TRUE(fft.isValid());
        EXPECT_EQ(fft.size(), n);
        EXPECT_EQ(fft.binCount(), n / 2);

        std::vector<std::complex<float>> spectrum(n / 2 + 1);
        std::vector<float> mags(n / 2), powers(n / 2);
        ASSERT_TRUE(fft.spectrum(x, {}, spectrum));
        ASSERT_TRUE(fft.magnitudes(x, {}, mags));
        ASSERT_TRUE(fft.powers(x, {}, powers));
        // Single precision: errors grow like sqrt(N) × the largest values' eps.
        const double tolerance = 1e-5 * double(n);
        for (std::size_t k = 0; k <= n / 2; ++k) {
            EXPECT_NEAR(spectrum[k].real(), expected[k].real(), tolerance) << n << " bin " << k;
            EXPECT_NEAR(spectrum[k].imag(), expected[k].imag(), tolerance) << n << " bin " << k;
            if (k < n / 2) {
                EXPECT_NEAR(mags[k], std::abs(expected[k]), tolerance) << n << " bin " << k;
                EXPECT_NEAR(powers[k], std::norm(expected[k]), tolerance * (std::abs(expected[k]) + 1) * 2)
                    << n << " bin " << k;
            }
        }
    }
}

TEST(RealFFTTest, SinesLandInTheirBinAtTheDoubledScale)
{
    for (std::size_t n : {1024u, 8192u}) {
        RealFFT fft(n);
        std::vector<float> mags(fft.binCount());
        for (std::size_t bin : {1u, 7u, 100u, unsigned(n / 2 - 1)}) {
            const double amplitude = 0.5;
            std::vector<float> x(n);
            for (std::size_t i = 0; i < n; ++i)
                x[i] = float(amplitude * std::sin(kTwoPi * double(bin * i % n) / double(n)));
            ASSERT_TRUE(fft.magnitudes(x, {}, mags));
            // A sine of amplitude A at bin k: plain DFT A·N/2, so A·N here.
            EXPECT_NEAR(mags[bin], amplitude * double(n), 1e-4 * double(n)) << n << " bin " << bin;
            for (std::size_t k = 0; k < mags.size(); ++k) {
                if (k != bin) {
                    EXPECT_LT(mags[k], 1e-3 * double(n)) << n << " bin " << bin << " leaks into " << k;
                }
            }
        }
        // DC of level c reads 2·c·N in bin 0.
        const std::vector<float> dc(n, 0.25f);
        ASSERT_TRUE(fft.magnitudes(dc, {}, mags));
        EXPECT_NEAR(mags[0], 2.0 * 0.25 * double(n), 1e-3);
    }
}

TEST(RealFFTTest, HannWindowedSineGivesTheWindowScaleInItsBinAndHalfBeside)
{
    const std::size_t n = 1024, bin = 40;
    RealFFT fft(n);
    const std::vector<float> window = hannWindow(n);
    std::vector<float> x(n), windowed(n), mags(n / 2), direct(n / 2);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = float(std::sin(kTwoPi * double(bin * i) / double(n)));
        windowed[i] = x[i] * window[i];
    }
    ASSERT_TRUE(fft.magnitudes(x, window, mags));
    EXPECT_NEAR(mags[bin], kHannScale * double(n), 0.05);
    EXPECT_NEAR(mags[bin - 1], kHannScale * double(n) / 2, 0.05);
    EXPECT_NEAR(mags[bin + 1], kHannScale * double(n) / 2, 0.05);
    EXPECT_LT(mags[bin + 2], 0.05);
    // The window argument is exactly a multiplication of the input.
    ASSERT_TRUE(fft.magnitudes(windowed, {}, direct));
    EXPECT_EQ(std::memcmp(mags.data(), direct.data(), mags.size() * sizeof(float)), 0);
}

TEST(RealFFTTest, ParsevalHoldsAtTheDoubledScale)
{
    const std::size_t n = 8192;
    const std::vector<float> x = noise(n, 7);
    RealFFT fft(n);
    std::vector<std::complex<float>> spectrum(n / 2 + 1);
    ASSERT_TRUE(fft.spectrum(x, {}, spectrum));
    double energy = 0;
    for (float v : x)
        energy += double(v) * v;
    // Σx² = (1/N)·Σ|D|² over all N bins; with X = 2D and the real signal's
    // mirrored bins counted twice: (|X0|² + |X_{N/2}|² + 2·Σ_{0<k<N/2}|X_k|²) / 4N.
    double spectral = std::norm(std::complex<double>(spectrum[0])) + std::norm(std::complex<double>(spectrum[n / 2]));
    for (std::size_t k = 1; k < n / 2; ++k)
        spectral += 2.0 * std::norm(std::complex<double>(spectrum[k]));
    spectral /= 4.0 * double(n);
    EXPECT_NEAR(spectral / energy, 1.0, 1e-5);
}

TEST(RealFFTTest, RejectsSizesItCannotPlanAndSpansOfTheWrongLength)
{
    for (std::size_t n : {0u, 1u, 3u, 1000u, 6144u, (1u << 24) + 0u}) {
        RealFFT fft(n);
        EXPECT_EQ(fft.isValid(), n == (1u << 24)) << n;
    }
    RealFFT invalid(1000);
    std::vector<float> samples(1000, 1.0f), out(500, -1.0f);
    EXPECT_FALSE(invalid.magnitudes(samples, {}, out));
    EXPECT_EQ(invalid.size(), 0u);
    EXPECT_EQ(out[0], -1.0f);

    RealFFT fft(16);
    std::vector<float> x(16, 1.0f), window(16, 1.0f), mags(8, -1.0f);
    EXPECT_FALSE(fft.magnitudes(std::span(x).first(15), {}, mags));
    EXPECT_FALSE(fft.magnitudes(x, std::span(window).first(8), mags));
    EXPECT_FALSE(fft.magnitudes(x, {}, std::span(mags).first(7)));
    std::vector<std::complex<float>> spectrum(8);
    EXPECT_FALSE(fft.spectrum(x, {}, spectrum)); // needs N/2 + 1
    EXPECT_EQ(mags[0], -1.0f);
    EXPECT_TRUE(fft.magnitudes(x, window, mags));
    EXPECT_FLOAT_EQ(mags[0], 32.0f);

    // A moved-from transform is empty; the moved-to one works.
    RealFFT moved = std::move(fft);
    EXPECT_FALSE(fft.isValid()); // NOLINT(bugprone-use-after-move)
    EXPECT_FALSE(fft.magnitudes(x, {}, mags));
    EXPECT_TRUE(moved.magnitudes(x, {}, mags));
}

TEST(RealFFTTest, ThreadsSharingAPlanGetTheSameBitsAsOneThread)
{
    // Every thread plans its sizes at the same moment (first use in this
    // process), then transforms many frames; all must match a later
    // single-threaded run bit for bit.
    const std::vector<std::size_t> sizes = {1024, 8192, 4096};
    constexpr int kThreads = 8;
    constexpr int kFrames = 24;
    const std::vector<float> signal = noise(8192 + kFrames * 256, 11);
    std::vector<std::vector<float>> results(kThreads);
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const std::size_t n = sizes[std::size_t(t) % sizes.size()];
                RealFFT fft(n);
                const std::vector<float> window = hannWindow(n);
                std::vector<float> mags(n / 2);
                for (int f = 0; f < kFrames; ++f) {
                    if (!fft.magnitudes(std::span(signal).subspan(std::size_t(f) * 256, n), window, mags))
                        return;
                    results[std::size_t(t)].insert(results[std::size_t(t)].end(), mags.begin(), mags.end());
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        const std::size_t n = sizes[std::size_t(t) % sizes.size()];
        RealFFT fft(n);
        const std::vector<float> window = hannWindow(n);
        std::vector<float> mags(n / 2), expected;
        for (int f = 0; f < kFrames; ++f) {
            ASSERT_TRUE(fft.magnitudes(std::span(signal).subspan(std::size_t(f) * 256, n), window, mags));
            expected.insert(expected.end(), mags.begin(), mags.end());
        }
        ASSERT_EQ(results[std::size_t(t)].size(), expected.size()) << "thread " << t;
        EXPECT_EQ(std::memcmp(results[std::size_t(t)].data(), expected.data(), expected.size() * sizeof(float)), 0)
            << "thread " << t;
    }
}

} // namespace
} // namespace zelvo
