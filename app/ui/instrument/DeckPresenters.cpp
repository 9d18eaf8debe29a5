#include "ui/instrument/DeckPresenters.h"

#include "state/AppModel.h"

#include <QPointF>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

namespace zelvo::deckface {

int clampInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(INT_MAX))
        return INT_MAX;
    if (value <= double(INT_MIN))
        return INT_MIN;
    return int(value);
}

int characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString timeString(double t)
{
    if (!std::isfinite(t))
        return QStringLiteral("--:--.-");
    const int whole = clampInt(t);
    const int m = whole / 60;
    const int s = whole - 60 * m;
    const int d = clampInt((t - std::floor(t)) * 10);
    return QString::asprintf("%02d:%02d.%d", m, s, d);
}

QString keyText(const std::optional<MusicalKey>& key, int keyShift)
{
    if (!key)
        return QStringLiteral("KEY --");
    return QStringLiteral("KEY ") + shiftedKeyText(*key, keyShift, QStringLiteral(" "));
}

HeaderFace header(const HeaderInput& in)
{
    HeaderFace f;
    f.deckLabel = in.isAI ? QStringLiteral("DECK 2 · ZELVO-0") : QStringLiteral("DECK %1 · HUMAN").arg(in.index + 1);
    if (in.master)
        f.badges << QStringLiteral("MASTER");
    if (in.sync)
        f.badges << QStringLiteral("SYNC");
    if (in.loopActive)
        f.badges << QStringLiteral("LOOP");

    f.title = in.loading ? QStringLiteral("LOADING…") : in.title.value_or(QStringLiteral("NO TRACK"));
    f.titleScrolls = characterCount(f.title) >= kMarqueeAt;
    f.subIsError = in.error.has_value();
    f.subLine = in.error ? *in.error : in.artist;

    const double playing = in.bpm * in.ratio;
    f.bpm = std::isfinite(playing) && playing > 0 ? QString::asprintf("%6.2f", std::min(playing, 999.99))
                                                   : QStringLiteral("---.--");
    const double offset = (in.ratio - 1.0) * 100.0;
    f.pitch = std::isfinite(offset) ? QString::asprintf("%+5.1f%%", std::clamp(offset, -999.9, 999.9))
                                    : QStringLiteral(" --.-%");
    f.range = tempoRangeKey(in.range);

    const double value = in.showRemaining ? std::max(in.duration - in.position, 0.0) : in.position;
    f.clock = (in.showRemaining ? QStringLiteral("-") : QStringLiteral(" ")) + timeString(value);
    f.key = keyText(in.key, in.keyShift);
    f.clockMode = in.showRemaining ? QStringLiteral("REMAIN") : QStringLiteral("ELAPSED");
    return f;
}

TransportLamps transport(bool loaded, bool playing, bool cueing, bool atCue)
{
    TransportLamps l;
    l.cueLit = cueing || (loaded && !playing);
    l.cueBlink = loaded && !playing && !atCue && !cueing;
    l.playLit = playing || cueing;
    return l;
}

std::array<ModeKey, 4> modeRow(PadMode cur, bool shift, DeckFlags flags)
{
    if (shift)
        return {{{QStringLiteral("slip"), flags.slip},
                 {QStringLiteral("quantize"), flags.quantize},
                 {QStringLiteral("vinyl"), flags.vinyl},
                 {QStringLiteral("key shift"), cur == PadMode::key}}};
    return {{{QStringLiteral("Hot Cue"), cur == PadMode::hotCue},
             {QStringLiteral("Pad FX"), cur == PadMode::padFX},
             {cur == PadMode::beatLoop ? QStringLiteral("Loop") : QStringLiteral("Beat Jump"),
              cur == PadMode::beatJump || cur == PadMode::beatLoop},
             {cur == PadMode::key ? QStringLiteral("Key") : QStringLiteral("ZELVO-0"),
              cur == PadMode::ai || cur == PadMode::key}}};
}

ModePress modePress(int key, PadMode cur, bool shift)
{
    using K = ModePress::Kind;
    if (shift) {
        switch (key) {
        case 0:
            return {K::slip, cur};
        case 1:
            return {K::quantize, cur};
        case 2:
            return {K::vinyl, cur};
        default:
            return {K::setMode, cur == PadMode::key ? PadMode::ai : PadMode::key};
        }
    }
    static constexpr std::array<PadMode, 4> modes{PadMode::hotCue, PadMode::padFX, PadMode::beatJump, PadMode::ai};
    return {K::setMode, modes[std::size_t(std::clamp(key, 0, 3))]};
}

int partnerDeck(int index, const std::function<int(int)>& activeDeck)
{
    switch (index) {
    case 0:
        return 1;
    case 1:
        return 0;
    case 2:
        return activeDeck ? activeDeck(1) : 1;
    default:
        return activeDeck ? activeDeck(0) : 0;
    }
}

QString cueTime(double seconds)
{
    const int s = clampInt(std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0);
    return QString::asprintf("%d:%02d", s / 60, s % 60);
}

QString loopLength(double beats)
{
    if (beats >= 1)
        return QString::number(clampInt(beats));
    return QStringLiteral("1/") + QString::number(clampInt(std::round(1.0 / beats)));
}

std::array<PadFace, 8> grid(const GridInput& in)
{
    std::array<PadFace, 8> pads;
    for (int i = 0; i < 8; ++i) {
        PadFace& p = pads[std::size_t(i)];
        p.lit = in.lit[std::size_t(i)];
        switch (in.mode) {
        case PadMode::hotCue:
            p.label = QString(QChar(u'A' + i));
            p.sublabel = p.lit ? cueTime(in.hotCues[std::size_t(i)]) : QStringLiteral("—");
            p.releases = true;
            break;
        case PadMode::padFX:
            p.label = QString::fromUtf8(AppModel::padFX[std::size_t(i)].caption);
            p.sublabel = QString::fromUtf8(AppModel::padFX[std::size_t(i)].sublabel);
            p.releases = true;
            break;
        case PadMode::beatJump:
            p.label = (i < 4 ? QStringLiteral("◀ ") : QStringLiteral("▶ "))
                      + QString::number(clampInt(AppModel::padJumps[std::size_t(i % 4)]));
            p.sublabel = i < 4 ? QStringLiteral("back") : QStringLiteral("fwd");
            p.lit = false; // a jump is momentary: never lit here
            break;
        case PadMode::ai:
            p.label = AppModel::aiPads[std::size_t(i)].label;
            p.sublabel = AppModel::aiPads[std::size_t(i)].sublabel;
            break;
        case PadMode::key:
            if (i == 3) {
                p.label = QStringLiteral("K.Sync");
                if (in.keyShift != 0)
                    p.sublabel = QStringLiteral("back to ") + (in.ownKey ? in.ownKey->camelot() : QStringLiteral("key"));
                else if (in.partnerKey)
                    p.sublabel = QStringLiteral("to ") + in.partnerKey->shifted(in.partnerShift).camelot();
                else
                    p.sublabel = QStringLiteral("no key yet");
            } else if (i == 7) {
                p.label = QStringLiteral("Lock");
                p.sublabel = QStringLiteral("master tempo");
            } else {
                const int semis = i - 3;
                p.label = (semis > 0 ? QStringLiteral("+") : QString()) + QString::number(semis);
                p.sublabel = QStringLiteral("semitone");
            }
            break;
        case PadMode::beatLoop:
            p.label = loopLength(AppModel::padLoops[std::size_t(i)]);
            p.sublabel = QStringLiteral("beat loop");
            break;
        }
    }
    return pads;
}

QString beatLabel(double beats)
{
    if (!std::isfinite(beats) || beats <= 0)
        return QStringLiteral("--");
    if (beats >= 1)
        return QString::number(clampInt(beats));
    return QStringLiteral("1/") + QString::number(clampInt(std::round(1.0 / beats)));
}

LoopFace loopRow(const LoopInput& in)
{
    LoopFace f;
    const bool s = in.shift;
    f.in = {s ? QStringLiteral("½×") : QStringLiteral("In"), QStringLiteral("in"), QStringLiteral("½ loop"),
            in.loopSet && !in.loopActive};
    f.out = {s ? QStringLiteral("2×") : QStringLiteral("Out"), QStringLiteral("out"), QStringLiteral("2× loop"),
             in.loopActive};
    f.autoLoop = {s ? QStringLiteral("Reloop") : beatLabel(in.autoLoopBeats) + QStringLiteral(" Beat"),
                  QStringLiteral("auto loop"), QStringLiteral("reloop/exit"), in.loopActive};
    f.sync = {s ? QStringLiteral("Master") : QStringLiteral("Sync"), QStringLiteral("beat sync"),
              QStringLiteral("master"), s ? in.master : in.sync};
    f.jumpLegend = QStringLiteral("jump ")
                   + (std::isfinite(in.beatJumpBeats) ? QString::number(clampInt(in.beatJumpBeats))
                                                      : QStringLiteral("--"));
    return f;
}

double nextJumpSize(double beats, int direction)
{
    if (!std::isfinite(beats))
        beats = 4;
    return direction < 0 ? std::max(beats * 0.5, 1.0) : std::min(beats * 2.0, 32.0);
}

JogGeometry jogGeometry(double size)
{
    const double R = size / 2;
    const double Rp = R - 16;
    return {size / 2, size / 2, R, Rp, Rp / 2};
}

double platterAngle(double position, double secondsPerTurn)
{
    if (!std::isfinite(position) || !(secondsPerTurn > 0))
        return 0;
    return std::fmod(position / secondsPerTurn, 1.0) * 2 * std::numbers::pi;
}

int progressStrokes(double position, double duration)
{
    if (!(duration > 0) || !std::isfinite(position))
        return 0;
    const double progress = position / duration;
    int n = 0;
    for (int k = 0; k < 60; ++k)
        n += double(k) / 60.0 < progress;
    return n;
}

QString jogCaption(bool hasVoice, bool vinylOn, bool playing)
{
    if (hasVoice && !vinylOn)
        return QStringLiteral("CDJ");
    return playing ? QStringLiteral("VINYL") : QStringLiteral("SEARCH");
}

std::vector<JogCommand> JogGesture::sample(QPointF p, double time, bool hasVoice)
{
    std::vector<JogCommand> out;
    const double a = std::atan2(p.y(), p.x());
    if (!lastAngle_) {
        touchingTop_ = std::hypot(p.x(), p.y()) < 0.4 * size_;
        if (touchingTop_ && hasVoice)
            out.push_back({JogCommand::Kind::touch, 0, true});
        lastAngle_ = a;
        lastTime_ = time;
        return out;
    }
    double d = a - *lastAngle_;
    if (d > std::numbers::pi)
        d -= 2 * std::numbers::pi;
    if (d < -std::numbers::pi)
        d += 2 * std::numbers::pi;
    lastAngle_ = a;
    const double dt = lastTime_ ? time - *lastTime_ : 0.0;
    lastTime_ = time;
    if (!hasVoice)
        return out;
    if (touchingTop_)
        out.push_back({JogCommand::Kind::scrub, d / (2 * std::numbers::pi) * secondsPerTurn_, false});
    else
        out.push_back({JogCommand::Kind::bend, std::clamp(d / std::max(dt, 1.0 / 240.0) * 0.02, -0.5, 0.5), false});
    return out;
}

std::vector<JogCommand> JogGesture::end(bool hasVoice)
{
    std::vector<JogCommand> out;
    if (touchingTop_ && hasVoice)
        out.push_back({JogCommand::Kind::touch, 0, false});
    touchingTop_ = false;
    lastAngle_.reset();
    return out;
}

bool JogSender::flush(const Send& send)
{
    if (carriedScrub_ != 0.0) {
        if (!send({JogCommand::Kind::scrub, carriedScrub_, false}))
            return true;
        carriedScrub_ = 0;
    }
    if (releaseWaiting_) {
        if (!send({JogCommand::Kind::touch, 0, false}))
            return true;
        releaseWaiting_ = false;
    }
    return false;
}

bool JogSender::deliver(const std::vector<JogCommand>& commands, const Send& send)
{
    for (const JogCommand& c : commands) {
        switch (c.kind) {
        case JogCommand::Kind::touch:
            if (c.down) {
                // A new touch while the last release still waits: the voice
                // never saw the hand leave, so it is touched already.
                if (releaseWaiting_) {
                    releaseWaiting_ = false;
                    break;
                }
                if (!flush(send))
                    send(c); // a refused touch only loses the hold; the scrubs still move the track
            } else if (flush(send) || !send(c)) {
                releaseWaiting_ = true;
            }
            break;
        case JogCommand::Kind::scrub: {
            const double total = carriedScrub_ + c.value;
            carriedScrub_ = 0;
            if (!send({JogCommand::Kind::scrub, total, false}))
                carriedScrub_ = total;
            break;
        }
        case JogCommand::Kind::bend:
            if (!flush(send))
                send(c);
            break;
        }
    }
    return waiting();
}

} // namespace zelvo::deckface
