#pragma once
// Subnormal floating-point values flushed to zero on the calling thread while a
// guard is alive, and the thread's previous mode put back when it goes.
//
// Recursive filters fed silence decay into subnormal numbers and, rounding,
// often settle there for good (a channel's isolator keeps most of its filter
// states subnormal after the deck's sound ends). Many processors take a slow
// path for each arithmetic step on such values, so a channel that went quiet
// can cost many times what a playing one does. Values that small are far below
// anything audible, so the mix engine renders with them flushed: x86 sets the
// flush-to-zero and denormals-are-zero bits of MXCSR, AArch64 the FZ bit of
// FPCR; elsewhere the guard does nothing. Setting and restoring the mode costs
// a few instructions; any thread, no allocation, never waits.
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace zelvo {

class FlushDenormals {
public:
    FlushDenormals() noexcept : saved_(read())
    {
        write(saved_ | kBits);
    }
    ~FlushDenormals() { write(saved_); }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

    // Whether subnormal results flush to zero on this thread now.
    static bool active() noexcept { return kBits != 0 && (read() & kBits) == kBits; }

private:
#if defined(__SSE2__) || defined(_M_X64)
    static constexpr std::uint64_t kBits = 0x8040; // FTZ | DAZ
    static std::uint64_t read() noexcept { return _mm_getcsr(); }
    static void write(std::uint64_t mode) noexcept { _mm_setcsr(unsigned(mode)); }
#elif defined(__aarch64__)
    static constexpr std::uint64_t kBits = std::uint64_t(1) << 24; // FZ
    static std::uint64_t read() noexcept
    {
        std::uint64_t mode;
        asm volatile("mrs %0, fpcr" : "=r"(mode));
        return mode;
    }
    static void write(std::uint64_t mode) noexcept { asm volatile("msr fpcr, %0" : : "r"(mode)); }
#else
    static constexpr std::uint64_t kBits = 0;
    static std::uint64_t read() noexcept { return 0; }
    static void write(std::uint64_t) noexcept {}
#endif

    std::uint64_t saved_;
};

} // namespace zelvo
