#include "ui/stage/DeckPanelFaces.h"

#include "ui/kit/Palette.h"
#include "ui/stage/DeckCardPieces.h"

#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace zelvo::stage {

namespace {

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(float(std::clamp(colour.alphaF() * opacity, 0.0, 1.0)));
    return colour;
}

} // namespace

QFont panelFont(double px, QFont::Weight weight, bool mono)
{
    QFont font(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, int(std::lround(px))));
    font.setWeight(weight);
    return font;
}

QString tempoPercentText(double tempoRatio)
{
    const double percent = std::isfinite(tempoRatio) ? (tempoRatio - 1.0) * 100.0 : 0.0;
    return QString::asprintf("%+.2f%%", percent);
}

TransportLamps transportLamps(bool loaded, bool playing, bool cueing)
{
    return TransportLamps{cueing || (loaded && !playing), playing};
}

QString loopBeatsText(double beats)
{
    if (!std::isfinite(beats) || beats <= 0)
        return QStringLiteral("—");
    if (beats >= 1)
        return QString::number(static_cast<long long>(std::min(std::floor(beats), 1e15)));
    const double reciprocal = 1.0 / beats;
    const double whole = std::round(reciprocal);
    if (std::abs(reciprocal - whole) < 1e-6 * reciprocal)
        return QStringLiteral("1/%1").arg(static_cast<long long>(whole));
    // A length like 0.75 or 0.375 is a fraction of a beat, not one over a
    // whole number: show it reduced.
    for (long long den = 2; den <= 128; ++den) {
        const double num = std::round(beats * double(den));
        if (num >= 1 && std::abs(num / double(den) - beats) < 1e-9) {
            const long long g = std::gcd(static_cast<long long>(num), den);
            return QStringLiteral("%1/%2").arg(static_cast<long long>(num) / g).arg(den / g);
        }
    }
    return QStringLiteral("1/%1").arg(static_cast<long long>(std::min(whole, 1e15)));
}

// ---- Jog display

JogCentre jogCentre(const JogInput& in)
{
    JogCentre out;
    const double tempo = in.gridBpm * in.ratio;
    out.tempo = std::isfinite(tempo) && tempo > 0 ? QString::asprintf("%.1f", tempo) : QStringLiteral("—");
    if (in.key)
        out.key = in.key->shifted(in.keyShift).camelot();
    const double position = in.hasVoice ? in.position : 0;
    const double duration = in.hasVoice ? in.duration : 0;
    if (std::isfinite(duration) && duration > 0) {
        const double remaining = std::max(duration - (std::isfinite(position) ? position : 0), 0.0);
        out.remaining = QStringLiteral("-") + DeckCard::clock(remaining);
        out.remainingUrgent = remaining < 30 && in.playing;
    }
    return out;
}

double jogQtAngle(double fraction)
{
    return 90.0 - fraction * 360.0;
}

QPainterPath jogRing(QPointF c, double radius, double a, double b)
{
    QPainterPath path;
    const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    path.arcMoveTo(box, jogQtAngle(a));
    path.arcTo(box, jogQtAngle(a), -(b - a) * 360.0);
    return path;
}

double jogSpokeDegrees(double position)
{
    const double p = std::isfinite(position) ? position : 0;
    return std::fmod(p, 1.8) / 1.8 * 360.0 - 90.0;
}

void paintJog(kit::Canvas& canvas, QSizeF size, const JogInput& in)
{
    using namespace kit;
    const double r = std::min(size.width(), size.height()) / 2;
    if (!(r > 10))
        return;
    const QPointF c(size.width() / 2, size.height() / 2);
    const double p = in.hasVoice && std::isfinite(in.position) ? in.position : 0;
    const double cue = in.hasVoice && std::isfinite(in.cuePoint) ? in.cuePoint : 0;
    const double d = std::max(in.hasVoice && std::isfinite(in.duration) ? in.duration : 0, 0.001);
    const auto stroke = [&](double radius, double a, double b, const QColor& colour, double width) {
        canvas.strokePath(jogRing(c, radius, a, b), QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    };

    // The face and the track ring never move: drawn once per size and kept.
    canvas.drawCached(QStringLiteral("jog.face:%1").arg(r), QRectF(QPointF(0, 0), size), 0, [&](kit::Canvas& into) {
        QPainterPath face;
        face.addEllipse(c, r - 4, r - 4);
        QRadialGradient gradient(c, r);
        gradient.setColorAt(0, Stage::inkHigh());
        gradient.setColorAt(1, Stage::ink());
        into.fillPath(face, gradient);
        into.strokePath(jogRing(c, r - 3, 0, 1), QPen(Stage::line(), 4, Qt::SolidLine, Qt::FlatCap));
    });

    if (in.loaded) {
        const double progress = std::clamp(p / d, 0.0, 1.0);
        if (progress > 0)
            stroke(r - 3, 0, progress, in.isAI ? Stage::bone() : Stage::rbBlue(), 4);
        if (in.seam && std::isfinite(*in.seam) && *in.seam < d) {
            const double from = std::max(*in.seam / d, 0.0);
            canvas.save();
            canvas.setBlend(QPainter::CompositionMode_Screen);
            stroke(r - 1.5, from, 1, withOpacity(Stage::ghostRed(), 0.6), 1.5);
            stroke(r - 4.5, from, 1, withOpacity(Stage::ghostCyan(), 0.6), 1.5);
            canvas.restore();
        }
        const double q = cue / d;
        stroke(r - 3, q - 0.004, q + 0.004, Stage::rbAmber(), 8);
        const double theta = jogSpokeDegrees(p) * M_PI / 180.0;
        const QPointF dir(std::cos(theta), std::sin(theta));
        QPainterPath spoke;
        spoke.moveTo(c + 0.62 * r * dir);
        spoke.lineTo(c + (r - 10) * dir);
        QPen pen(Stage::paper(), 3, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        canvas.strokePath(spoke, pen);
    }
    if (in.jogTouched) {
        QPainterPath ring;
        ring.addEllipse(c, r - 1, r - 1);
        canvas.strokePath(ring, QPen(Stage::paper(), 2));
    }
}

void paintJogCentre(kit::Canvas& canvas, QSizeF size, const JogCentre& centre)
{
    using namespace kit;
    // Fonts and line heights are made once: the centre is drawn up to 60 times a second.
    static const QFont tempoFont = panelFont(22, QFont::Bold, true);
    static const QFont keyFont = panelFont(11, QFont::Bold, true);
    static const QFont clockFont = panelFont(10, QFont::DemiBold, true);
    static const double h1 = QFontMetricsF(tempoFont).height(), h2 = QFontMetricsF(keyFont).height(),
                        h3 = QFontMetricsF(clockFont).height();
    const double total = h1 + 2 + h2 + 2 + h3;
    double y = (size.height() - total) / 2;
    const int flags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
    canvas.drawText(QRectF(0, y, size.width(), h1), centre.tempo, tempoFont, Stage::paper(), flags);
    y += h1 + 2;
    if (!centre.key.isEmpty())
        canvas.drawText(QRectF(0, y, size.width(), h2), centre.key, keyFont, Stage::rbGreen(), flags);
    y += h2 + 2;
    if (!centre.remaining.isEmpty())
        canvas.drawText(QRectF(0, y, size.width(), h3), centre.remaining, clockFont,
                        centre.remainingUrgent ? Stage::rbRed() : Stage::bone(), flags);
}

// ---- Pad mirror

QString padChipText(PadMode mode)
{
    switch (mode) {
    case PadMode::hotCue:
        return QStringLiteral("cue");
    case PadMode::padFX:
        return QStringLiteral("fx");
    case PadMode::beatJump:
        return QStringLiteral("jump");
    case PadMode::ai:
        return QStringLiteral("zelvo-0");
    case PadMode::key:
        return QStringLiteral("key");
    case PadMode::beatLoop:
        return QStringLiteral("loop");
    }
    return {};
}

PadChipLook padChipLook(PadMode chip, PadMode current)
{
    using namespace kit;
    if (chip == current)
        return PadChipLook{Stage::ink(), Stage::bone(), 0};
    const bool model = chip == PadMode::ai;
    return PadChipLook{model ? Stage::paper() : Stage::ash(), Stage::ink(), model ? 0.8 : 0.0};
}

PadLook padLook(bool lit, PadMode mode)
{
    using namespace kit;
    if (!lit)
        return PadLook{Stage::ink(), Stage::bone()};
    return PadLook{mode == PadMode::ai ? Stage::paper() : Stage::signal(), Stage::ink()};
}

double padAge(const std::optional<PadHitStamp>& hit, int deck, int pad, double uptime)
{
    if (!hit || hit->deck != deck || hit->pad != pad)
        return 9.0;
    return uptime - hit->stamp;
}

double padFlash(double age)
{
    if (!std::isfinite(age))
        return 0;
    return std::clamp(1.0 - age / 0.35, 0.0, 1.0);
}

bool padFlashing(const std::optional<PadHitStamp>& hit, int deck, double uptime)
{
    return hit && hit->deck == deck && uptime - hit->stamp < 0.4;
}

} // namespace zelvo::stage
