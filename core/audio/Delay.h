#pragma once
// A circular delay line with linearly interpolated fractional reads, sized once
// at construction. Owned by one thread (the audio thread in the engine).
#include <cstddef>
#include <vector>

namespace zelvo {

class Delay {
public:
    // Room for `maxSeconds` at `sampleRate` plus four guard slots (at least four
    // slots in all). Allocates: not on the audio thread.
    Delay(double maxSeconds, double sampleRate);

    // The sample written `seconds` ago, measured from the slot about to be
    // written: a read before the write of the same tick returns what was written
    // that many samples earlier. The delay is held within 1 … count − 2 samples; a
    // negative or non-finite time reads the shortest delay. Owner's thread.
    double read(double seconds) const noexcept;
    // Stores the next sample and advances. Owner's thread.
    void write(double x) noexcept
    {
        buffer_[index_] = x;
        if (++index_ == buffer_.size())
            index_ = 0;
        if (x != 0.0)
            zeroRun_ = 0;
        else if (zeroRun_ < buffer_.size())
            ++zeroRun_;
    }
    // Zeroes the contents. Owner's thread.
    void clear() noexcept;
    // Whether every slot holds exactly zero (the last `count` writes were zero,
    // or the line was cleared since), so every read gives zero. Owner's thread.
    bool atRest() const noexcept { return zeroRun_ >= buffer_.size(); }

    // Number of slots. Any thread.
    std::size_t count() const noexcept { return buffer_.size(); }
    double sampleRate() const noexcept { return sampleRate_; }

private:
    std::vector<double> buffer_;
    std::size_t index_ = 0;
    // Zero writes in a row since the last non-zero one, at most `count`.
    std::size_t zeroRun_ = 0;
    double sampleRate_;
};

} // namespace zelvo
