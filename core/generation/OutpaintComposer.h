#pragma once
// The audio side of generation: context files for the model server, contexts
// built from several sources, the splice of a finished continuation onto what
// was playing, and the mono fold for waveforms.
//
// Stateless and synchronous: every function touches only the buffers it is
// given and the file it is told to write, allocates its result, and may run on
// any thread except the audio thread. Counts are frames, times seconds.
#include "generation/ForkPlan.h"
#include "library/TrackBuffer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo::OutpaintComposer {

// One deck's upcoming audio for an offline mix.
struct Voice {
    TrackBufferRef buffer; // the deck's loaded track
    double position = 0;   // seconds into `buffer` of the first sample to mix
    double rate = 1;       // source seconds per output second (tempo ratio)
    float gain = 1;        // the channel's linear gain as the engine would apply it
};

// A record mixed into a room context, with a linear gain ramp.
struct Incoming {
    TrackBufferRef buffer;
    double position = 0; // seconds into `buffer` where the mixed stretch begins
    double ratio = 1;    // source seconds per output second
    float from = 0;      // gain at the stretch's first frame
    float to = 0;        // gain at its last frame
};

// Levels measured by a splice.
struct SpliceReport {
    float gain = 1;         // gain finally applied to the generated audio
    float sourceRMS = 0;    // body level of the source's last 30 s before the seam
    float generatedRMS = 0; // body level of the generated audio from the seam, before gain
    float tailRMS = 0;      // body level of the result after the seam
    float peak = 0;         // largest magnitude of the whole result, both channels
};

// Frames of headroom written past a context window, so the server's reader
// never ends exactly on the seam.
inline constexpr std::int64_t kContextExtraFrames = 2048;

// The rate and sample depth of every file written for the model server.
inline constexpr double kFileSampleRate = 44100.0;
inline constexpr int kFileBitDepth = 16;

// Writes the plan's context window plus kContextExtraFrames (at the buffer's
// rate) as 44.1 kHz 16-bit stereo WAV, converted from the buffer's rate. The
// file starts exactly at the context start: the server's frame 0 stands for it.
// Throws AudioFileError (`empty`, and no file touched, when the window holds no
// frames). Any thread.
void writeContext(const TrackBuffer& buffer, const ForkPlan& plan, const std::filesystem::path& path);
// Writes the whole buffer as 44.1 kHz 16-bit stereo WAV; an empty buffer gives a
// file without frames. Throws AudioFileError. Any thread.
void writeTrack(const TrackBuffer& buffer, const std::filesystem::path& path);

// A chain context of `context` seconds plus `margin` frames at the take's rate:
// the room's tail, the take from the playhead to the seam, then `margin` frames
// of the take after the seam; `incoming` is mixed over the take part. A negative
// playhead counts as 0. The room's tail is brought to the take's level when
// more than a second of take lies ahead; the room's level is then measured over
// at least kMinimumMatchSeconds of the room (its whole length when shorter, and
// no matching when that is not `measurable`). Any thread.
TrackBufferRef roomContext(const TrackBuffer& room, const TrackBuffer& take, double position, double seam,
                           double context, std::int64_t margin, const std::optional<Incoming>& incoming);
// Mixes the voices' next `seconds` at `sampleRate`, reading each at its own rate
// with linear interpolation; voices at or below a gain of 0.0005 are skipped.
// Sums are neither limited nor normalised. Any thread.
TrackBufferRef mixAhead(const std::vector<Voice>& voices, double seconds, double sampleRate);
// The least heard audio a body level is measured from before anything is
// matched to it: 16 whole 250 ms windows. Below it the upper quartile is one
// window or a few, so a beat that alternates loud and quiet decides it.
inline constexpr double kMinimumMatchSeconds = 4.0;

// True when `frames` at `sampleRate` hold kMinimumMatchSeconds of whole 250 ms
// windows. Any thread.
bool measurable(std::int64_t frames, double sampleRate);

// The heard audio followed by the mixed-ahead audio, with a 50 ms equal-power
// crossfade at the join. The ahead part is brought to the body level of the
// last 10 s heard when the room is `measurable`; a shorter room leaves it at
// the level the mixer gives it, scaled only by `masterGain` (the gain the
// master applies after the channels, which the ahead mix leaves out).
// Any thread.
TrackBufferRef join(const TrackBuffer& room, const TrackBuffer& ahead, float masterGain = 1.0f);
// The source from `prefixOffset` to the plan's seam, then the generated audio
// from the seam on, level-matched, crossfaded over `crossfade` seconds before the
// seam and soft-limited. Generated frame 0 stands for `generatedOrigin` (default
// the plan's context start). `report`, when set, is called once before return.
// Never reads outside either buffer, whatever the file held. Any thread.
TrackBufferRef splice(const TrackBuffer& prefix, double prefixOffset, const TrackBuffer& generated,
                      const ForkPlan& plan, std::optional<double> generatedOrigin, double crossfade,
                      const std::function<void(const SpliceReport&)>& report = {});
// (left + right) / 2 per frame. Any thread.
std::vector<float> mono(const TrackBuffer& buffer);

// Mean of the two channels' RMS over [from, from + count) clipped to the buffer;
// 0 when nothing is left or `from` is negative. Any thread.
float rms(const TrackBuffer& buffer, std::int64_t from, std::int64_t count);
// The level used for matching: the upper quartile of 250 ms window levels over
// the stretch (plain rms for a stretch of one window or less). Any thread.
float bodyLevel(const TrackBuffer& buffer, std::int64_t from, std::int64_t count, double sampleRate);
// Mixes `incoming` into target[at, at + count), ducking what is there and
// restoring roughly the stretch's former level afterwards. Any thread.
void mixIncoming(const Incoming& incoming, TrackBuffer& target, std::int64_t at, std::int64_t count,
                 double sampleRate);

} // namespace zelvo::OutpaintComposer
