#include "audio/BeatFX.h"

#include "audio/GainLaws.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace zelvo {

std::optional<BeatFXKind> beatFXKindFromRaw(std::int64_t raw) noexcept
{
    if (raw < 0 || raw > 3)
        return std::nullopt;
    return BeatFXKind(int(raw));
}

std::string_view label(BeatFXKind kind) noexcept
{
    switch (kind) {
    case BeatFXKind::echo: return "ECHO";
    case BeatFXKind::roll: return "ROLL";
    case BeatFXKind::flanger: return "FLANGER";
    case BeatFXKind::reverb: return "REVERB";
    }
    return "ECHO";
}

double beatSecondsFor(double bpm) noexcept
{
    if (!(bpm > 40.0) || !std::isfinite(bpm))
        return 1.5;
    return 60.0 / bpm;
}

namespace {
std::size_t rollSlots(double sampleRate)
{
    const double n = 8.0 * sampleRate;
    if (!(n >= 1.0) || n > double(std::numeric_limits<int>::max()))
        return 0;
    return std::size_t(n);
}
} // namespace

BeatFX::BeatFX(double rate)
    : echoL(8.0, rate)
    , echoR(8.0, rate)
    , rollL(rollSlots(rate), 0.0)
    , rollR(rollSlots(rate), 0.0)
    , flangeL(0.03, rate)
    , flangeR(0.03, rate)
    , sampleRate(rate)
    , wet(0.0f, 30.0f, float(rate))
{
}

bool BeatFX::atRest(BeatFXKind kind, bool on) const noexcept
{
    if (on || wet.value != 0.0f)
        return false;
    switch (kind) {
    case BeatFXKind::echo: return echoL.atRest() && echoR.atRest();
    case BeatFXKind::roll: return !rollCaptured && rollWrite == 0;
    case BeatFXKind::flanger: return false;
    case BeatFXKind::reverb: return true;
    }
    return false;
}

void BeatFX::tick(double& left, double& right, BeatFXKind kind, bool on, double beats, double bpm,
                  double level) noexcept
{
    if (!(beats > 0.0) || !std::isfinite(beats))
        beats = beatFractions.front();
    const double beatSeconds = beatSecondsFor(bpm);
    const double w = wet.next(on ? float(level) : 0.0f);

    switch (kind) {
    case BeatFXKind::echo: {
        const double t = std::min(beatSeconds * beats, 7.9);
        const double dL = echoL.read(t);
        const double dR = echoR.read(t);
        // The send follows the knob itself, not the smoothed wet level, so the
        // repeats keep decaying by 0.62 after the effect is switched off.
        const double sendL = on ? left * level : 0.0;
        const double sendR = on ? right * level : 0.0;
        echoL.write(dL * 0.62 + sendL);
        echoR.write(dR * 0.62 + sendR);
        left += dL;
        right += dR;
        break;
    }
    case BeatFXKind::roll: {
        if (!on) {
            rollCaptured = false;
            rollWrite = 0;
            break;
        }
        const std::size_t rollFrames = rollL.size();
        if (rollFrames == 0)
            break;
        if (!rollCaptured) {
            // The length follows the tempo while capturing; compared in double so
            // a huge length never reaches an integer conversion.
            const double wanted = beatSeconds * beats * sampleRate;
            std::size_t n = wanted < double(rollFrames) ? std::size_t(wanted) : rollFrames;
            std::size_t length = n <= 63 ? 64 : n;
            length = std::min(length, rollFrames);
            // The length can shrink below what was already captured when the
            // tempo rises mid-capture: the capture then simply ends.
            if (rollWrite < length) {
                rollL[rollWrite] = left;
                rollR[rollWrite] = right;
                ++rollWrite;
            }
            if (rollWrite >= length) {
                rollCaptured = true;
                rollLength = length;
                rollRead = 0;
            }
            break;
        }
        const std::size_t idx = rollRead;
        left = rollL[idx] * w + (1.0 - w) * left;
        right = rollR[idx] * w + (1.0 - w) * right;
        if (++rollRead >= rollLength)
            rollRead = 0;
        break;
    }
    case BeatFXKind::flanger: {
        const double period = beatSeconds * beats * 4.0;
        phase += 1.0 / (period * sampleRate);
        if (phase >= 1.0)
            phase -= std::floor(phase);
        const double d = (std::sin(2.0 * std::numbers::pi * phase) * 0.5 + 0.5) * 0.0055 + 0.0012;
        const double dL = flangeL.read(d);
        const double dR = flangeR.read(1.05 * d);
        flangeL.write(dL * 0.7 + left);
        flangeR.write(dR * 0.7 + right);
        left = dL * w + (1.0 - 0.5 * w) * left;
        right = dR * w + (1.0 - 0.5 * w) * right;
        break;
    }
    case BeatFXKind::reverb:
        break;
    }
}

} // namespace zelvo
