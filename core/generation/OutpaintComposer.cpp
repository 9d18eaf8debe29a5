#include "generation/OutpaintComposer.h"

#include "library/AudioFileIO.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvo::OutpaintComposer {

namespace {

// Levels at or below this count as silence: no gain is ever derived from them.
constexpr float kSilent = 0.00001f;
// Just below pi in single precision; every crossfade angle uses it.
constexpr float kPi = 3.1415925f;
// Soft limiter: samples above the knee are bent towards the ceiling.
constexpr float kKnee = 0.88f;
constexpr float kCeiling = 0.98f;

// Frames from seconds, rounded half away from zero. Values that are not finite
// or out of range for a frame count are clamped rather than left undefined.
std::int64_t roundFrames(double x)
{
    if (!std::isfinite(x))
        return 0;
    constexpr double limit = 4.0e18;
    return std::int64_t(std::round(std::clamp(x, -limit, limit)));
}

// Frames from seconds, truncated toward zero (same clamping).
std::int64_t wholeFrames(double x)
{
    if (!std::isfinite(x))
        return 0;
    constexpr double limit = 4.0e18;
    return std::int64_t(std::trunc(std::clamp(x, -limit, limit)));
}

double sumSquares(const float* p, std::int64_t n)
{
    // Eight independent lanes let the compiler vectorise; the lanes are summed
    // in double per call, which keeps whole windows precise enough.
    float lane[8] = {};
    std::int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int k = 0; k < 8; ++k)
            lane[k] += p[i + k] * p[i + k];
    }
    double sum = 0;
    for (int k = 0; k < 8; ++k)
        sum += lane[k];
    for (; i < n; ++i)
        sum += double(p[i]) * p[i];
    return sum;
}

float maxMagnitude(const float* p, std::int64_t n)
{
    float lane[8] = {};
    std::int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        for (int k = 0; k < 8; ++k) {
            const float v = std::fabs(p[i + k]);
            lane[k] = v > lane[k] ? v : lane[k];
        }
    }
    float m = 0;
    for (int k = 0; k < 8; ++k)
        m = std::max(m, lane[k]);
    for (; i < n; ++i)
        m = std::max(m, std::fabs(p[i]));
    return m;
}

void scale(float* p, std::int64_t n, float g)
{
    for (std::int64_t i = 0; i < n; ++i)
        p[i] *= g;
}

void scaledCopy(const float* from, float* to, std::int64_t n, float g)
{
    for (std::int64_t i = 0; i < n; ++i)
        to[i] = g * from[i];
}

// Equal-power crossfade angle of step i of x.
inline float angle(std::int64_t i, std::int64_t x)
{
    return (float(i) + 0.5f) / float(x) * kPi * 0.5f;
}

void softLimit(float* samples, std::int64_t frames)
{
    const float k = kCeiling - kKnee; // 0.10000002 in single precision
    for (std::int64_t i = 0; i < frames; ++i) {
        const float v = samples[i];
        const float a = std::fabs(v);
        if (a > kKnee)
            samples[i] = std::copysign(kKnee + k * std::tanh((a - kKnee) / k), v);
    }
}

float matchGain(float target, float level, float lo, float hi)
{
    if (target > kSilent && level > kSilent)
        return std::clamp(target / level, lo, hi);
    return 1.0f;
}

// Linear interpolation between frames j and j + 1 of one channel.
inline float lerp(const float* src, std::int64_t j, float f)
{
    return (1.0f - f) * src[j] + f * src[j + 1];
}

} // namespace

float rms(const TrackBuffer& buffer, std::int64_t from, std::int64_t count)
{
    const std::int64_t n = std::min(buffer.frames - from, count);
    if (n < 1 || from < 0)
        return 0.0f;
    const float l = float(std::sqrt(sumSquares(buffer.left + from, n) / double(n)));
    const float r = float(std::sqrt(sumSquares(buffer.right + from, n) / double(n)));
    return (l + r) * 0.5f;
}

float bodyLevel(const TrackBuffer& buffer, std::int64_t from, std::int64_t count, double sampleRate)
{
    const std::int64_t n = std::min(buffer.frames - from, count);
    const std::int64_t m = std::max<std::int64_t>(n, 0);
    std::int64_t w = wholeFrames(sampleRate * 0.25);
    if (w < 1) {
        if (n < 2 || from < 0)
            return rms(buffer, from, m);
        w = 1;
    } else if (n <= w || from < 0) {
        return rms(buffer, from, m);
    }
    const std::int64_t k = m / w;
    std::vector<float> levels(static_cast<std::size_t>(k));
    for (std::int64_t i = 0; i < k; ++i)
        levels[std::size_t(i)] = rms(buffer, from + i * w, w);
    const std::int64_t pick = std::min(3 * k / 4, k - 1);
    std::nth_element(levels.begin(), levels.begin() + pick, levels.end());
    return levels[std::size_t(pick)];
}

TrackBufferRef mixAhead(const std::vector<Voice>& voices, double seconds, double sampleRate)
{
    const std::int64_t n = std::max<std::int64_t>(roundFrames(seconds * sampleRate), 0);
    TrackBufferRef out(n, sampleRate);
    for (const Voice& voice : voices) {
        if (!(voice.gain > 0.0005f) || !voice.buffer)
            continue;
        const TrackBuffer& src = *voice.buffer;
        const double s = src.sampleRate;
        const double base = voice.position * s;
        const double step = voice.rate * s / sampleRate;
        if (!std::isfinite(base) || !std::isfinite(step))
            continue;
        const double end = double(src.frames);
        for (std::int64_t i = 0; i < n; ++i) {
            const double p = base + double(i) * step;
            if (p >= end)
                break; // the voice has run out
            if (p <= -1.0)
                continue;
            const std::int64_t j = std::int64_t(p); // toward zero
            if (j < 0 || j + 1 >= src.frames)
                continue;
            const float f = float(p - double(j));
            out->left[i] += voice.gain * lerp(src.left, j, f);
            out->right[i] += voice.gain * lerp(src.right, j, f);
        }
    }
    return out;
}

bool measurable(std::int64_t frames, double sampleRate)
{
    const std::int64_t w = wholeFrames(sampleRate * 0.25);
    const std::int64_t windows = wholeFrames(kMinimumMatchSeconds / 0.25);
    return w >= 1 && frames >= w * windows;
}

TrackBufferRef join(const TrackBuffer& room, const TrackBuffer& ahead, float masterGain)
{
    const std::int64_t R = room.frames;
    const std::int64_t A = ahead.frames;
    const double sr = room.sampleRate;
    TrackBufferRef out(R + A, sr);
    std::memcpy(out->left, room.left, std::size_t(R) * sizeof(float));
    std::memcpy(out->right, room.right, std::size_t(R) * sizeof(float));

    // Matching needs a body level of the room; a few windows of it give one
    // window's chance level instead, so a short room leaves the mixer's level.
    const std::int64_t w = wholeFrames(sr * 10);
    const std::int64_t heard = std::min(R, w);
    float g = std::isfinite(masterGain) && masterGain >= 0.0f ? masterGain : 1.0f;
    if (measurable(heard, sr)) {
        const float roomLevel = bodyLevel(room, R - heard, heard, sr);
        const float aheadLevel = bodyLevel(ahead, 0, A, sr);
        g = matchGain(roomLevel, aheadLevel, 0.25f, 4.0f);
    }

    scaledCopy(ahead.left, out->left + R, A, g);
    scaledCopy(ahead.right, out->right + R, A, g);

    // The crossfade follows the room audio: its last x frames stand once as heard
    // and once again fading out over the start of the ahead part.
    const std::int64_t x = std::min({A, R, wholeFrames(sr * 0.05)});
    for (std::int64_t i = 0; i < x; ++i) {
        const float th = angle(i, x);
        const float c = std::cos(th), s = std::sin(th);
        out->left[R + i] = c * room.left[R - x + i] + s * g * ahead.left[i];
        out->right[R + i] = c * room.right[R - x + i] + s * g * ahead.right[i];
    }
    return out;
}

void mixIncoming(const Incoming& incoming, TrackBuffer& target, std::int64_t at, std::int64_t count,
                 double sampleRate)
{
    // Stay inside the target whatever the caller asked for.
    if (at < 0) {
        count += at;
        at = 0;
    }
    count = std::min(count, target.frames - at);
    if (count < 1 || !incoming.buffer)
        return;

    const float before = bodyLevel(target, at, count, sampleRate);
    const std::int64_t h = std::max<std::int64_t>(wholeFrames(sampleRate * 0.5), 1);
    const TrackBuffer& inc = *incoming.buffer;
    const double s = inc.sampleRate;
    const double step = incoming.ratio * s / sampleRate;
    const double base = incoming.position * s;
    if (std::isfinite(base) && std::isfinite(step)) {
        const float span = float(std::max<std::int64_t>(count, 2) - 1);
        const double end = double(inc.frames);
        for (std::int64_t i = 0; i < count; ++i) {
            const double p = base + double(i) * step;
            if (p <= -1.0 || p >= end)
                continue;
            const std::int64_t j = std::int64_t(p);
            if (j < 0 || j + 1 >= inc.frames)
                continue;
            const float f = float(p - double(j));
            const float t = float(i) / span;
            float gain = incoming.from + t * (incoming.to - incoming.from);
            gain *= std::min(float(i) / float(h), 1.0f);
            const float duck = 1.0f - 0.35f * t;
            target.left[at + i] = duck * target.left[at + i] + gain * lerp(inc.left, j, f);
            target.right[at + i] = duck * target.right[at + i] + gain * lerp(inc.right, j, f);
        }
    }

    const float after = bodyLevel(target, at, count, sampleRate);
    if (before > kSilent && after > kSilent) {
        const float c = std::clamp(before / after, 0.5f, 1.5f);
        scale(target.left + at, count, c);
        scale(target.right + at, count, c);
    }
}

TrackBufferRef roomContext(const TrackBuffer& room, const TrackBuffer& take, double position, double seam,
                           double context, std::int64_t margin, const std::optional<Incoming>& incoming)
{
    const double sr = take.sampleRate;
    const std::int64_t C = std::max<std::int64_t>(roundFrames(sr * context), 0);
    margin = std::max<std::int64_t>(margin, 0);
    TrackBufferRef out(C + margin, sr);

    const std::int64_t S = std::clamp<std::int64_t>(roundFrames(sr * seam), 0, take.frames);
    const std::int64_t P = roundFrames(sr * std::max(position, 0.0));
    const std::int64_t ahead = std::min(S - P, C);
    const std::int64_t a = std::max<std::int64_t>(ahead, 0);
    const std::int64_t takeStart = S - a;

    const std::int64_t roomPart = C - a;
    const std::int64_t r = std::min(roomPart, room.frames);
    const std::int64_t roomStart = roomPart - r;

    // The room's level is read from at least the minimum stretch of it, even
    // when only its last few frames go into the context: a tail of a window or
    // two would set the gain by where the beat happened to fall.
    const std::int64_t minimum = roundFrames(sr * kMinimumMatchSeconds);
    const std::int64_t measured = std::min(std::max(r, minimum), room.frames);
    auto roomGain = [&] {
        // Only a take with more than a second ahead is a fair reference.
        if (a <= wholeFrames(sr) || !measurable(measured, sr))
            return 1.0f;
        const float takeLevel = take.frames > 0 ? bodyLevel(take, takeStart, a, sr) : 0.0f;
        const float roomLevel = bodyLevel(room, room.frames - measured, measured, sr);
        return matchGain(takeLevel, roomLevel, 0.5f, 2.0f);
    };

    if (r >= 1) {
        const float g = roomGain();
        scaledCopy(room.left + (room.frames - r), out->left + roomStart, r, g);
        scaledCopy(room.right + (room.frames - r), out->right + roomStart, r, g);
    }

    if (ahead >= 1) {
        std::memcpy(out->left + roomPart, take.left + takeStart, std::size_t(a) * sizeof(float));
        std::memcpy(out->right + roomPart, take.right + takeStart, std::size_t(a) * sizeof(float));
        const std::int64_t fade = wholeFrames(sr * 0.05);
        const std::int64_t x = std::min({a, r, fade});
        if (std::min(r, fade) >= 1) {
            const float g = roomGain();
            for (std::int64_t i = 0; i < x; ++i) {
                const float th = angle(i, x);
                const float c = std::cos(th), s = std::sin(th);
                const std::int64_t q = room.frames - x + i;
                out->left[roomPart + i] = c * g * room.left[q] + s * take.left[takeStart + i];
                out->right[roomPart + i] = c * g * room.right[q] + s * take.right[takeStart + i];
            }
        }
        if (incoming)
            mixIncoming(*incoming, *out, roomPart, a, sr);
    }

    const std::int64_t n = std::min(take.frames - S, margin);
    if (n >= 1) {
        std::memcpy(out->left + C, take.left + S, std::size_t(n) * sizeof(float));
        std::memcpy(out->right + C, take.right + S, std::size_t(n) * sizeof(float));
    }
    return out;
}

TrackBufferRef splice(const TrackBuffer& prefix, double prefixOffset, const TrackBuffer& generated,
                      const ForkPlan& plan, std::optional<double> generatedOrigin, double crossfade,
                      const std::function<void(const SpliceReport&)>& report)
{
    const double sr = prefix.sampleRate;
    // The generated file comes from another process: every index below is
    // clamped so that neither buffer is read outside its frames.
    const std::int64_t S = std::clamp<std::int64_t>(roundFrames(sr * plan.seam), 0, prefix.frames);
    const std::int64_t O = std::clamp<std::int64_t>(roundFrames(sr * prefixOffset), 0, S);
    const std::int64_t G0 = roundFrames(sr * generatedOrigin.value_or(plan.contextStart));
    const std::int64_t gSeam = std::max<std::int64_t>(S - G0, 0);

    const std::int64_t keep = S - O;
    const std::int64_t tail = generated.frames - gSeam;
    const std::int64_t t = std::max<std::int64_t>(tail, 0);
    TrackBufferRef out(keep + t, sr);

    const std::int64_t w = wholeFrames(sr * 30);
    const float sourceLevel = bodyLevel(prefix, std::max<std::int64_t>(S - w, 0), std::min(S, w), sr);
    const float generatedLevel = bodyLevel(generated, gSeam, generated.frames - gSeam, sr);
    float g = matchGain(sourceLevel, generatedLevel, 0.5f, 2.0f);

    std::memcpy(out->left, prefix.left + O, std::size_t(keep) * sizeof(float));
    std::memcpy(out->right, prefix.right + O, std::size_t(keep) * sizeof(float));
    if (tail >= 1) {
        scaledCopy(generated.left + gSeam, out->left + keep, t, g);
        scaledCopy(generated.right + gSeam, out->right + keep, t, g);
    }

    // The generated audio's own frames before the seam are laid over the source's
    // last x frames, aligned on the source timeline; the crossfade ends at the
    // seam. Audio that stops short of the seam has no such frames: no crossfade.
    if (tail >= 0) {
        const std::int64_t x = std::min({gSeam, keep, std::max<std::int64_t>(wholeFrames(sr * crossfade), 0)});
        for (std::int64_t i = 0; i < x; ++i) {
            const float th = angle(i, x);
            const float c = std::cos(th), s = std::sin(th);
            const std::int64_t o = keep - x + i;
            const std::int64_t q = gSeam - x + i;
            out->left[o] = c * out->left[o] + s * g * generated.left[q];
            out->right[o] = c * out->right[o] + s * g * generated.right[q];
        }
    }

    // Second look: the crossfade and a loud intro can leave the continuation off
    // the source's level; correct it when the miss is more than 2 %.
    if (tail >= 1 && sourceLevel > kSilent) {
        const float post = bodyLevel(*out, keep, t, sr);
        if (post > kSilent) {
            const float g2 = std::clamp(g * sourceLevel / post, 0.5f, 2.0f);
            const float c = g2 / g;
            if (std::fabs(c - 1.0f) > 0.02f) {
                scale(out->left + keep, t, c);
                scale(out->right + keep, t, c);
                g = g2;
            }
        }
    }

    softLimit(out->left, out->frames);
    softLimit(out->right, out->frames);

    if (report) {
        SpliceReport r;
        r.gain = g;
        r.sourceRMS = sourceLevel;
        r.generatedRMS = generatedLevel;
        r.tailRMS = bodyLevel(*out, keep, out->frames - keep, sr);
        r.peak = std::max(maxMagnitude(out->left, out->frames), maxMagnitude(out->right, out->frames));
        report(r);
    }
    return out;
}

void writeContext(const TrackBuffer& buffer, const ForkPlan& plan, const std::filesystem::path& path)
{
    const double sr = buffer.sampleRate;
    const std::int64_t start = std::max<std::int64_t>(0, roundFrames(sr * plan.contextStart));
    const std::int64_t count =
        std::min(roundFrames(sr * plan.contextSeconds) + kContextExtraFrames, buffer.frames - start);
    if (count < 1)
        throw AudioFileError::empty(path);
    AudioFileIO::writeWAV(path, buffer.left + start, buffer.right + start, count, sr, kFileSampleRate,
                          kFileBitDepth);
}

void writeTrack(const TrackBuffer& buffer, const std::filesystem::path& path)
{
    AudioFileIO::writeWAV(path, buffer.left, buffer.right, buffer.frames, buffer.sampleRate, kFileSampleRate,
                          kFileBitDepth);
}

std::vector<float> mono(const TrackBuffer& buffer)
{
    std::vector<float> out(std::size_t(std::max<std::int64_t>(buffer.frames, 0)));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = (buffer.left[i] + buffer.right[i]) * 0.5f;
    return out;
}

} // namespace zelvo::OutpaintComposer
