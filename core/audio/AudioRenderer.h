#pragma once
// What the output unit plays: the engine side of an AudioIO. The mix engine
// implements it; tests use small generators.
#include <functional>
#include <memory>

namespace zelvo {

class AudioRenderer {
public:
    // Client channels, in order: master left, master right, cue left, cue right.
    static constexpr int kChannels = 4;
    // Largest slice render() is ever asked for.
    static constexpr int kMaxFrames = 4096;

    virtual ~AudioRenderer() = default;

    // Fills kChannels non-interleaved channels with `frames` (1 ... kMaxFrames)
    // frames. Audio thread only.
    virtual void render(int frames, float* const* channels) noexcept = 0;
    // Whether a cue pair is routed to the device; set by AudioIO while opening,
    // before the audio thread starts. Not on the audio thread.
    virtual void setCueEnabled(bool enabled) = 0;
    // Called once the audio thread has stopped for good (AudioIO's teardown), on
    // the thread that tears down: release every buffer still held. Never on the
    // audio thread.
    virtual void releaseBuffers() {}
    // Whether an output's I/O thread may render this now: set by AudioIO just
    // before its unit starts, cleared once the unit stopped and its I/O thread
    // was joined. Never on the audio thread.
    virtual void setRendered(bool rendered) { (void)rendered; }
};

// Makes the engine for a device: its sample rate and the largest slice.
using RendererFactory = std::function<std::unique_ptr<AudioRenderer>(double sampleRate, int maxFrames)>;

} // namespace zelvo
