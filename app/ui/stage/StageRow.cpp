#include "ui/stage/StageRow.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/StageKeys.h"

#include <QFontMetricsF>
#include <QPainterPath>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

using namespace kit;

constexpr double kPad = 14;
constexpr double kSpacing = 12;
constexpr double kDot = 6;
constexpr double kWaveWidth = 90;
constexpr double kWaveHeight = 14;
constexpr double kTempoWidth = 46;
constexpr double kKeyWidth = 30;
constexpr double kLengthWidth = 38;
constexpr double kMatchWidth = 26;
constexpr double kButtonWidth = 22;
constexpr double kButtonHeight = 20;
constexpr double kButtonSpacing = 3;
const QString kDash = QStringLiteral("—");

QRectF centred(double x, double width, double height)
{
    return {x, (kStageRowHeight - height) / 2, width, height};
}

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void drawCell(Canvas& canvas, const QRectF& rect, const QString& text, const QFont& font, const QColor& colour,
              Qt::Alignment align)
{
    if (text.isEmpty() || rect.width() <= 0)
        return;
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    canvas.drawText(rect, shown, font, colour, int(align | Qt::AlignVCenter) | Qt::TextSingleLine);
}

const QFont& cellFont()
{
    static const QFont font = stageRowFont(11, QFont::DemiBold, true);
    return font;
}

} // namespace

QFont stageRowFont(double size, QFont::Weight weight, bool mono)
{
    QFont font(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, int(std::lround(size))));
    font.setWeight(weight);
    return font;
}

QString rowLength(double seconds)
{
    // Whole seconds must fit the clock's integer: a hand-edited collection may
    // hold any finite number, and converting one beyond the range is undefined.
    if (!(seconds > 0) || !(seconds < double(std::numeric_limits<int>::max())))
        return kDash;
    const int whole = int(seconds);
    return QString::asprintf("%d:%02d", whole / 60, whole % 60);
}

QString rowMatch(std::optional<double> match)
{
    if (!match)
        return {};
    const double percent = std::trunc(*match * 100);
    if (!std::isfinite(percent) || std::fabs(percent) > double(std::numeric_limits<int>::max()))
        return {};
    return QString::number(int(percent));
}

QColor keyColour(const MusicalKey& key)
{
    const double hue = double(key.camelotNumber() - 1) / 12.0;
    return key.minor ? QColor::fromHsvF(float(hue), 0.32f, 0.86f) : QColor::fromHsvF(float(hue), 0.45f, 0.98f);
}

bool fitsReference(const TrackRecord& track, const std::optional<TrackRecord>& reference)
{
    return reference && track.key && reference->key && track.key->isCompatible(*reference->key);
}

StageRowLook stageRowLook(const TrackRecord& track, bool selected, bool fits, std::optional<double> match,
                          bool queued, int decks)
{
    StageRowLook look;
    look.selected = selected;
    look.fits = fits;
    look.take = track.outpaint.has_value();
    look.queued = queued;
    look.decks = decks;
    look.title = track.title;
    look.artist = track.artist;
    look.tempo = track.grid && std::isfinite(track.grid->bpm) ? QString::asprintf("%.1f", track.grid->bpm) : kDash;
    if (track.key) {
        look.key = track.key->camelot();
        look.keyColour = keyColour(*track.key);
    } else {
        look.key = kDash;
        look.keyColour = Stage::ash();
    }
    look.length = rowLength(track.duration);
    look.match = rowMatch(match);
    look.matchColour = !look.match.isEmpty() && *match > 0.75 ? Stage::signal() : Stage::ash();
    return look;
}

StageRowGeometry stageRowGeometry(double width, int decks)
{
    StageRowGeometry g;
    double x = kPad;
    g.dot = centred(x, kDot, kDot);
    x += kDot + kSpacing;
    const double buttons = decks * (kButtonWidth + kButtonSpacing) + kButtonWidth;
    double right = width - kPad;
    double left = right - buttons;
    for (int i = 0; i < decks; ++i)
        g.decks.push_back(centred(left + i * (kButtonWidth + kButtonSpacing), kButtonWidth, kButtonHeight));
    g.queue = centred(left + decks * (kButtonWidth + kButtonSpacing), kButtonWidth, kButtonHeight);
    const auto place = [&](double cellWidth, double height) {
        right = left - kSpacing;
        left = right - cellWidth;
        return centred(left, cellWidth, height);
    };
    g.match = place(kMatchWidth, kStageRowHeight);
    g.length = place(kLengthWidth, kStageRowHeight);
    g.key = place(kKeyWidth, kStageRowHeight);
    g.tempo = place(kTempoWidth, kStageRowHeight);
    g.wave = place(kWaveWidth, kWaveHeight);
    g.name = QRectF(x, 0, std::max(0.0, left - kSpacing - x), kStageRowHeight);
    return g;
}

RowHit stageRowHit(const StageRowGeometry& geometry, QPointF point)
{
    for (int i = 0; i < int(geometry.decks.size()); ++i)
        if (geometry.decks[std::size_t(i)].contains(point))
            return {RowHit::Kind::deck, i};
    if (geometry.queue.contains(point))
        return {RowHit::Kind::queue, -1};
    return {};
}

QString stageRowHelp(const StageRowLook& look, const RowHit& hit)
{
    switch (hit.kind) {
    case RowHit::Kind::deck:
        return QStringLiteral("load on deck %1").arg(hit.deck + 1);
    case RowHit::Kind::queue:
        return look.queued ? QStringLiteral("remove from the queue") : QStringLiteral("add to the queue");
    case RowHit::Kind::row:
        break;
    }
    return {};
}

std::vector<RowMenuItem> stageRowMenu(const StageRowLook& look)
{
    using K = RowMenuItem::Kind;
    std::vector<RowMenuItem> items;
    for (int i = 0; i < look.decks; ++i)
        items.push_back({K::load, QStringLiteral("Load on Deck %1").arg(i + 1), i});
    items.push_back({K::divider, {}});
    if (look.queued)
        items.push_back({K::dequeue, QStringLiteral("Remove from Queue")});
    else
        items.push_back({K::enqueue, QStringLiteral("Add to Queue")});
    if (look.take)
        items.push_back({K::placeTake, QStringLiteral("Put This Take on Deck 2")});
    items.push_back({K::divider, {}});
    items.push_back({K::reveal, QStringLiteral("Show in Folder")});
    items.push_back({K::remove, QStringLiteral("Remove from Collection")});
    return items;
}

void paintStageRow(Canvas& canvas, const StageRowLook& look, const StageRowGeometry& g, const MiniWaveBars* wave,
                   Ghosts& badge, double pixelRatio)
{
    const double width = g.queue.right() + kPad;
    if (look.selected) {
        canvas.fillRect(QRectF(0, 0, width, kStageRowHeight), withAlpha(Stage::bone(), 0.09));
        canvas.fillRect(QRectF(0, 0, 2, kStageRowHeight), Stage::paper());
    }
    QPainterPath dot;
    dot.addEllipse(g.dot);
    canvas.fillPath(dot, look.fits ? Stage::signal() : Stage::line());

    // Name block: badge, title, artist, spacing 6; the title keeps its width first.
    double x = g.name.left();
    const double end = g.name.right();
    if (look.take && end - x > 0) {
        static const QFont badgeFont = stageRowFont(9, QFont::Medium, true);
        static const QString text = QStringLiteral("zelvo-0");
        const double w = QFontMetricsF(badgeFont).horizontalAdvance(text) + 8;
        const QRectF rect(x, (kStageRowHeight - 14) / 2, w, 14);
        badge.paint(canvas, rect, 1, 0.6, 0, pixelRatio, [w](QPainter& painter, QSizeF size) {
            PainterCanvas content(painter);
            content.fillPath(rounded(QRectF(QPointF(0, 0), size), 3), Stage::bone());
            content.drawText(QRectF(0, 0, w, size.height()), text, badgeFont, Stage::ink(),
                             int(Qt::AlignCenter) | Qt::TextSingleLine);
        });
        x += w + 6;
    }
    const QFont titleFont = stageRowFont(13, look.selected ? QFont::Bold : QFont::Medium, false);
    const double titleWidth = std::min(QFontMetricsF(titleFont).horizontalAdvance(look.title), end - x);
    drawCell(canvas, QRectF(x, 0, titleWidth, kStageRowHeight), look.title, titleFont,
             look.selected ? Stage::paper() : Stage::bone(), Qt::AlignLeft);
    x += titleWidth + 6;
    static const QFont artistFont = stageRowFont(10.5, QFont::Medium, true);
    drawCell(canvas, QRectF(x, 0, end - x, kStageRowHeight), look.artist, artistFont, Stage::ash(), Qt::AlignLeft);

    if (wave)
        paintMiniWave(canvas, g.wave.topLeft(), *wave, 0.8);

    const QFont& font = cellFont();
    drawCell(canvas, g.tempo, look.tempo, font, Stage::bone(), Qt::AlignRight);
    drawCell(canvas, g.key, look.key, font, look.keyColour, Qt::AlignRight);
    drawCell(canvas, g.length, look.length, font, Stage::bone(), Qt::AlignRight);
    drawCell(canvas, g.match, look.match, font, look.matchColour, Qt::AlignRight);

    static const QFont deckFont = stageRowFont(10, QFont::Medium, true);
    for (int i = 0; i < int(g.decks.size()); ++i) {
        const QRectF& rect = g.decks[std::size_t(i)];
        canvas.fillPath(rounded(rect, 5), Stage::inkHigh());
        canvas.drawText(rect, QString::number(i + 1), deckFont, Stage::bone(),
                        int(Qt::AlignCenter) | Qt::TextSingleLine);
    }
    canvas.fillPath(rounded(g.queue, 5), look.queued ? Stage::bone() : Stage::inkHigh());
    paintSymbol(canvas, look.queued ? QStringLiteral("checkmark") : QStringLiteral("plus"),
                g.queue.adjusted(6, 5, -6, -5), look.queued ? Stage::ink() : Stage::bone());
}

} // namespace zelvo::stage
