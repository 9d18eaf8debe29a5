#include "platform/RealFFT.h"

#include <fftw3.h>

#include <bit>
#include <cmath>
#include <map>
#include <mutex>

namespace zelvo {

struct RealFFT::Plan {
    fftwf_plan plan;
};

namespace {

// Only FFTW's execute functions may run concurrently; its planner, allocator
// and everything else must be called by one thread at a time. The thread-safe
// planner is a separate library we do not link, so we hold this lock instead.
std::mutex& fftwLock()
{
    static std::mutex lock;
    return lock;
}

constexpr std::size_t kMaxSize = std::size_t(1) << 24;

// The shared plan for size n, made on first use. Plans are never destroyed:
// there is one per size the analysis uses, and objects anywhere may hold them.
// Called with fftwLock() held.
const RealFFT::Plan* planFor(std::size_t n)
{
    static auto* plans = new std::map<std::size_t, RealFFT::Plan*>();
    if (const auto it = plans->find(n); it != plans->end())
        return it->second;

    // Plan on FFTW-aligned arrays, so that every object's fftwf_malloc buffers
    // share the plan's alignment, as fftwf_execute_dft_r2c requires.
    // FFTW_ESTIMATE neither times nor touches the arrays: the same plan on
    // every run.
    float* in = fftwf_alloc_real(n);
    fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
    RealFFT::Plan* plan = nullptr;
    if (in && out) {
        if (fftwf_plan p = fftwf_plan_dft_r2c_1d(int(n), in, out, FFTW_ESTIMATE))
            plan = new RealFFT::Plan{p};
    }
    fftwf_free(in);
    fftwf_free(out);
    if (plan)
        plans->emplace(n, plan);
    return plan;
}

} // namespace

RealFFT::RealFFT(std::size_t n)
    : n_(n)
{
    if (n < 2 || n > kMaxSize || !std::has_single_bit(n))
        return;
    std::lock_guard guard(fftwLock());
    const Plan* plan = planFor(n);
    if (!plan)
        return;
    input_ = fftwf_alloc_real(n);
    output_ = reinterpret_cast<float*>(fftwf_alloc_complex(n / 2 + 1));
    if (!input_ || !output_) {
        fftwf_free(input_);
        fftwf_free(output_);
        input_ = output_ = nullptr;
        return;
    }
    plan_ = plan;
}

RealFFT::~RealFFT()
{
    release();
}

RealFFT::RealFFT(RealFFT&& other) noexcept
    : n_(other.n_)
    , plan_(other.plan_)
    , input_(other.input_)
    , output_(other.output_)
{
    other.plan_ = nullptr;
    other.input_ = other.output_ = nullptr;
}

RealFFT& RealFFT::operator=(RealFFT&& other) noexcept
{
    if (this != &other) {
        release();
        n_ = other.n_;
        plan_ = other.plan_;
        input_ = other.input_;
        output_ = other.output_;
        other.plan_ = nullptr;
        other.input_ = other.output_ = nullptr;
    }
    return *this;
}

void RealFFT::release()
{
    if (!input_ && !output_)
        return;
    std::lock_guard guard(fftwLock());
    fftwf_free(input_);
    fftwf_free(output_);
    input_ = output_ = nullptr;
    plan_ = nullptr;
}

bool RealFFT::transform(std::span<const float> samples, std::span<const float> window)
{
    if (!plan_ || samples.size() != n_ || (!window.empty() && window.size() != n_))
        return false;
    if (window.empty()) {
        for (std::size_t i = 0; i < n_; ++i)
            input_[i] = samples[i];
    } else {
        for (std::size_t i = 0; i < n_; ++i)
            input_[i] = samples[i] * window[i];
    }
    // The new-array execute is the one FFTW call that is safe on a shared plan
    // from several threads at once.
    fftwf_execute_dft_r2c(plan_->plan, input_, reinterpret_cast<fftwf_complex*>(output_));
    return true;
}

bool RealFFT::magnitudes(std::span<const float> samples, std::span<const float> window, std::span<float> out)
{
    if (out.size() != n_ / 2 || !transform(samples, window))
        return false;
    for (std::size_t k = 0; k < out.size(); ++k) {
        // Doubling is exact in binary floating point, so scaling before or after
        // the square root gives the same bits.
        const float re = 2.0f * output_[2 * k];
        const float im = 2.0f * output_[2 * k + 1];
        out[k] = std::sqrt(re * re + im * im);
    }
    return true;
}

bool RealFFT::powers(std::span<const float> samples, std::span<const float> window, std::span<float> out)
{
    if (out.size() != n_ / 2 || !transform(samples, window))
        return false;
    for (std::size_t k = 0; k < out.size(); ++k) {
        const float re = 2.0f * output_[2 * k];
        const float im = 2.0f * output_[2 * k + 1];
        out[k] = re * re + im * im;
    }
    return true;
}

bool RealFFT::spectrum(std::span<const float> samples, std::span<const float> window,
                       std::span<std::complex<float>> out)
{
    if (out.size() != n_ / 2 + 1 || !transform(samples, window))
        return false;
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = {2.0f * output_[2 * k], 2.0f * output_[2 * k + 1]};
    return true;
}

} // namespace zelvo
