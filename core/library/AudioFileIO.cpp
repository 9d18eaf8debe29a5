#include "library/AudioFileIO.h"

#include "platform/AudioFileReader.h"
#include "platform/LargeArrays.h"
#include "platform/StereoResampler.h"
#include "platform/WavFileWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace zelvo::AudioFileIO {

namespace {

// Frames read or written per step.
constexpr std::int64_t kChunk = 16384;
// Room reserved beyond the expected length: the last read asks for a whole
// chunk, and a container length that is only an estimate (MP3) rarely makes the
// arrays grow (each growth copies everything decoded so far).
constexpr std::int64_t kHeadroom = kChunk + 8192;
// The most seconds reserved up front for a compressed file. The length comes
// from the file's header, which may claim days of audio in a few kilobytes;
// past this the arrays grow as frames actually arrive.
constexpr double kMaxReservedSeconds = 20.0 * 60.0;
// The longest audio decoded. Past it a file is refused: a header can claim any
// length, and a small file can expand to more than memory holds.
constexpr double kMostSeconds = 4.0 * 60.0 * 60.0;
// The status of a refused format or length (ERANGE, as FFmpeg returns it).
constexpr std::int32_t kOutOfRange = AudioFileReader::kFormatOutOfRange;
// Samples copied between two looks at the stop while an array grows: 4 MB, a
// millisecond or two of copying.
constexpr std::size_t kCopyStep = std::size_t(1) << 20;
// How far short of the length its header states a whole file may decode, in
// file frames. Lossless files decode to exactly that length and a rate
// conversion rounds by a frame or two; a file cut in its bytes ends hundreds of
// frames short or more (a FLAC file loses the whole frame the cut falls in, 4096
// samples).
constexpr std::int64_t kShortfallAllowed = 1024;

// The integer part of a frame count, kept inside int64 (NaN and negatives give 0).
std::int64_t wholeFrames(double x)
{
    if (!(x > 0.0))
        return 0;
    if (x >= 9.0e18)
        return std::numeric_limits<std::int64_t>::max() / 2;
    return std::int64_t(x);
}

// One channel of decoded samples, filled in order. It grows like a vector, but
// new room is left uninitialised (the reader writes every frame it counts) and
// the array goes to the TrackBuffer without a copy: a long track's samples are
// touched once.
class SampleArray {
public:
    std::size_t capacity() const { return capacity_; }
    float* data() { return data_.get(); }
    // Makes room for `n` samples. Growing copies what the array holds, which
    // for an hour of audio takes longer than a stop may wait: the copy goes in
    // steps and gives up, keeping the old array, once `stop` is requested.
    // Returns whether the room is there.
    bool reserve(std::size_t n, const std::stop_token& stop)
    {
        return n <= capacity_ || reallocate(n, stop);
    }
    void resize(std::size_t n)
    {
        if (n > capacity_)
            reallocate(std::max(n, 2 * capacity_), {});
        size_ = n;
    }
    // The array, at least max(size, 1) long; the object is left empty.
    float* release()
    {
        if (!data_)
            reallocate(1, {});
        capacity_ = size_ = 0;
        return data_.release();
    }

private:
    bool reallocate(std::size_t n, const std::stop_token& stop)
    {
        std::unique_ptr<float[]> next(new float[n]);
        preferLargePages(next.get(), n * sizeof(float));
        const std::size_t kept = std::min(size_, n);
        for (std::size_t done = 0; done < kept; done += kCopyStep) {
            if (stop.stop_requested())
                return false;
            std::copy_n(data_.get() + done, std::min(kCopyStep, kept - done), next.get() + done);
        }
        data_ = std::move(next);
        capacity_ = n;
        return true;
    }

    std::unique_ptr<float[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The cut-short error: where the audio ended and where the header says it ends.
AudioFileError cutShort(const std::string& name, double endSeconds, double statedSeconds)
{
    char where[96];
    std::snprintf(where, sizeof where, " (it ends at %.2f s of the %.2f s its header states)", endSeconds,
                  statedSeconds);
    return AudioFileError::os("decode " + name + where, kCutShort);
}

// libsndfile wants a whole rate; a rate it cannot take becomes 0 and fails there.
int fileRateOf(double rate)
{
    return std::isfinite(rate) && rate >= 1.0 && rate <= 10'000'000.0 ? int(std::lround(rate)) : 0;
}

} // namespace

TrackBufferRef decode(const std::filesystem::path& url, double sampleRate, std::optional<Range> range,
                      std::stop_token stop)
{
    const std::string name = url.filename().string();
    AudioFileReader reader;
    if (int status = reader.open(url.string()); status < 0)
        throw AudioFileError::os("open " + name, status);
    if (int status = reader.readFormat(); status == AudioFileReader::kNoAudio)
        throw AudioFileError::empty(url);
    else if (status < 0)
        throw AudioFileError::os("read format", status);
    // What no music file holds is refused before anything is allocated for it.
    const double fileRate = reader.fileRate();
    if (fileRate < AudioFileReader::kLowestRate || fileRate > AudioFileReader::kHighestRate)
        throw AudioFileError::os("check sample rate (" + std::to_string(std::int64_t(fileRate)) + " Hz)", kOutOfRange);
    if (reader.channels() < 1 || reader.channels() > AudioFileReader::kMostChannels)
        throw AudioFileError::os("check channels (" + std::to_string(reader.channels()) + ")", kOutOfRange);
    if (int status = reader.setOutputRate(sampleRate); status < 0)
        throw AudioFileError::os("set client format", status);

    const double ratio = sampleRate / fileRate;
    const std::int64_t stated = reader.statedFrames();
    const std::int64_t cap = wholeFrames(kMostSeconds * sampleRate);
    const auto tooLong = [] { return AudioFileError::os("check length (over 4 hours)", kOutOfRange); };
    // What the whole file decodes to, at most: the container's length plus
    // headroom. A header claiming more than the file's bytes can hold is lying,
    // and the bytes bound it instead.
    const std::int64_t claimed = std::min(reader.lengthFrames(), reader.mostFileFrames());
    const std::int64_t fileLength = wholeFrames(ratio * double(claimed)) + kHeadroom;
    std::int64_t expected = fileLength;
    std::optional<std::int64_t> wanted;
    std::int64_t start = 0; // the first file frame decoded
    if (range) {
        const double lower = range->lower > 0.0 ? range->lower : 0.0;
        start = wholeFrames(lower * fileRate);
        if (int status = reader.seek(start); status < 0)
            throw AudioFileError::os("seek", status);
        wanted = wholeFrames((range->upper - lower) * sampleRate);
        // A range reaching far past the end (an "until the end" upper bound)
        // reserves no more than the file holds.
        expected = std::min(*wanted, fileLength);
    }
    if (std::min(wanted.value_or(fileLength), fileLength) - kHeadroom > cap)
        throw tooLong();

    // Where the file's bytes hold the frames counted (PCM), all of them are
    // reserved: the arrays never grow, and an hour-long record takes its own
    // size in memory and no more. Elsewhere the header may lie.
    if (!reader.mostFileFramesExact())
        expected = std::min(expected, wholeFrames(kMaxReservedSeconds * sampleRate) + kHeadroom);

    const auto stopped = [&] { return AudioFileError::os("decode " + name, kStopped); };
    SampleArray left, right;
    if (!left.reserve(std::size_t(std::max<std::int64_t>(expected, 0)), stop)
        || !right.reserve(left.capacity(), stop))
        throw stopped();
    std::int64_t collected = 0;
    const bool stoppable = stop.stop_possible();
    for (;;) {
        // Given up between two reads: the arrays go with the throw.
        if (stoppable && stop.stop_requested())
            throw stopped();
        // What is reserved is asked for at once: the reader then converts
        // straight into the arrays rather than through its own. A decode that
        // may be stopped asks in steps, each still converted straight in but
        // for the decoded frame that straddles its end.
        std::int64_t ask = std::max<std::int64_t>(kChunk, std::int64_t(left.capacity()) - collected);
        if (stoppable)
            ask = std::min(ask, kStopStep);
        if (wanted) {
            if (collected >= *wanted)
                break;
            ask = std::min(ask, *wanted - collected);
        }
        // Growing never reaches past the cap.
        const auto size = std::size_t(collected + ask);
        if (size > left.capacity()) {
            const auto most = std::size_t(cap + kChunk);
            if (!left.reserve(std::min(std::max(size, 2 * left.capacity()), most), stop)
                || !right.reserve(left.capacity(), stop))
                throw stopped();
        }
        left.resize(size);
        right.resize(size);
        const std::int64_t got = reader.read(left.data() + collected, right.data() + collected, ask);
        if (got < 0)
            throw AudioFileError::os("decode " + name, std::int32_t(got));
        if (got == 0)
            break;
        collected += got;
        if (collected > cap)
            throw tooLong();
    }
    if (collected == 0)
        throw AudioFileError::empty(url);
    // A file that ends clearly before the length its container states was cut
    // (a copy still under way, a broken download); it is refused whole rather
    // than played as a shorter record. A stated length past the cap is a
    // placeholder or a lie, not a record's length: what is there is decoded.
    if (stated > start && ratio * double(stated) <= double(cap)) {
        const double due = ratio * double(stated - start);
        const double owed = wanted ? std::min(double(*wanted), due) : due;
        if (double(collected) < owed - ratio * double(kShortfallAllowed) - 2.0)
            throw cutShort(name, double(start) / fileRate + double(collected) / sampleRate,
                           double(stated) / fileRate);
    }

    float* leftSamples = left.release();
    float* rightSamples = right.release();
    return TrackBufferRef::adopt(TrackBuffer::adopt(leftSamples, rightSamples, collected, sampleRate));
}

void writeWAV(const std::filesystem::path& url, const float* left, const float* right, std::int64_t frames,
              double sampleRate, double fileSampleRate, int bitDepth)
{
    const std::string name = url.filename().string();
    std::error_code ignored;
    std::filesystem::remove(url, ignored);

    WavFileWriter file;
    const int created = file.create(url.string(), fileRateOf(fileSampleRate), bitDepth == 16);
    // A creation that reports success without a file would otherwise lose the
    // audio silently.
    if (created != 0 || !file.isOpen())
        throw AudioFileError::os("create " + name, created);

    StereoResampler converter;
    if (int status = converter.prepare(sampleRate, fileSampleRate); status < 0)
        throw AudioFileError::os("set client format", status);

    frames = std::max<std::int64_t>(frames, 0);
    const std::int64_t target = frames > 0 ? std::llround(double(frames) * fileSampleRate / sampleRate) : 0;
    const std::int64_t room = converter.maxOutput(kChunk) + 16;
    const auto outFrames = static_cast<std::size_t>(room);
    std::vector<float> outLeft(outFrames), outRight(outFrames), interleaved(outFrames * 2);
    std::int64_t written = 0;

    // Writes converted frames up to the target length.
    auto put = [&](const float* l, const float* r, std::int64_t n) {
        n = std::min(n, target - written);
        for (std::int64_t i = 0; i < n; ++i) {
            interleaved[std::size_t(2 * i)] = l[i];
            interleaved[std::size_t(2 * i + 1)] = r[i];
        }
        if (int status = file.write(interleaved.data(), n); status != 0)
            throw AudioFileError::os("write", status);
        written += n;
    };

    if (target > 0) {
        for (std::int64_t offset = 0; offset < frames; offset += kChunk) {
            const std::int64_t n = std::min(kChunk, frames - offset);
            const std::int64_t got = converter.process(left + offset, right + offset, n, outLeft.data(),
                                                       outRight.data(), room);
            if (got < 0)
                throw AudioFileError::os("write", std::int32_t(got));
            put(outLeft.data(), outRight.data(), got);
        }
        // The converter holds back its filter's tail until flushed.
        for (;;) {
            const std::int64_t got = converter.flush(outLeft.data(), outRight.data(), room);
            if (got < 0)
                throw AudioFileError::os("write", std::int32_t(got));
            if (got == 0)
                break;
            put(outLeft.data(), outRight.data(), got);
        }
        // Rounding can leave the converter a frame short of the exact length.
        std::fill(outLeft.begin(), outLeft.end(), 0.0f);
        std::fill(outRight.begin(), outRight.end(), 0.0f);
        while (written < target)
            put(outLeft.data(), outRight.data(), std::min(room, target - written));
    }
    if (int status = file.close(); status != 0)
        throw AudioFileError::os("write", status);
}

void writeWAV(const std::filesystem::path& url, const TrackBuffer& buffer, std::optional<double> fileSampleRate,
              int bitDepth)
{
    writeWAV(url, buffer.left, buffer.right, buffer.frames, buffer.sampleRate,
             fileSampleRate.value_or(buffer.sampleRate), bitDepth);
}

} // namespace zelvo::AudioFileIO
