#include "ui/instrument/CratePresenters.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/Palette.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvo::crate {

using Source = AppModel::BrowserSource;
using Sort = AppModel::BrowserSort;

namespace {
const QString kDash = QStringLiteral("\u2014");

// A value a C++ integer conversion may take: finite and inside the int range.
bool fitsInt(double value)
{
    return std::isfinite(value) && value > double(std::numeric_limits<int>::min()) &&
           value < double(std::numeric_limits<int>::max());
}
} // namespace

std::optional<QString> analysisLine(const QSet<QUuid>& analyzing, const std::vector<TrackRecord>& tracks)
{
    if (analyzing.isEmpty())
        return std::nullopt;
    qsizetype count = analyzing.size();
    for (const TrackRecord& track : tracks)
        if (!track.analyzed && !analyzing.contains(track.id))
            ++count;
    return QStringLiteral("ANALYZE %1").arg(count);
}

QString trackCount(std::size_t count)
{
    return QStringLiteral("%1 TRACKS").arg(qulonglong(count));
}

std::vector<SourceKey> sourceKeys(Source current)
{
    std::vector<SourceKey> keys;
    for (Source source : {Source::collection, Source::outpaints, Source::recent, Source::queue})
        keys.push_back({source, AppModel::rawValue(source).toUpper(), source == current});
    return keys;
}

bool isRelative(Sort sort)
{
    return sort == Sort::tune || sort == Sort::harmony || sort == Sort::tempo || sort == Sort::intensity;
}

std::vector<SortKey> sortKeys(Sort current)
{
    std::vector<SortKey> keys;
    for (Sort sort : {Sort::added, Sort::title, Sort::bpm, Sort::key, Sort::energy, Sort::tune, Sort::harmony,
                      Sort::tempo, Sort::intensity}) {
        const bool relative = isRelative(sort);
        keys.push_back({sort, AppModel::rawValue(sort), relative ? 54.0 : 44.0, relative, sort == current});
    }
    return keys;
}

SortReadout sortReadout(Sort sort, const std::optional<QString>& referenceTitle)
{
    if (isRelative(sort)) {
        if (!referenceTitle)
            return {QStringLiteral("NOTHING PLAYING"), true, true};
        return {referenceTitle->toUpper(), true, false};
    }
    switch (sort) {
    case Sort::added: return {QStringLiteral("newest first"), false, false};
    case Sort::title: return {QStringLiteral("by name"), false, false};
    case Sort::bpm: return {QStringLiteral("slow to fast"), false, false};
    case Sort::key: return {QStringLiteral("around the wheel"), false, false};
    case Sort::energy: return {QStringLiteral("hardest first"), false, false};
    default: break;
    }
    return {};
}

QString shortenAtWord(const QString& text, const std::function<bool(const QString&)>& fits)
{
    if (fits(text))
        return text;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString ellipsis = QStringLiteral("\u2026");
    for (qsizetype n = words.size() - 1; n >= 1; --n) {
        const QString shorter = words.mid(0, n).join(QLatin1Char(' ')) + ellipsis;
        if (fits(shorter))
            return shorter;
    }
    return fits(ellipsis) ? ellipsis : QString();
}

int cellsWithin(double width, double pitch, int most)
{
    // n cells take (6n − 1) × pitch.
    if (!(pitch > 0) || !std::isfinite(width))
        return 0;
    return std::clamp(int(std::floor((width / pitch + 1) / 6)), 0, std::max(0, most));
}

QString firstCells(const QString& text, int cells)
{
    if (cells <= 0)
        return {};
    const QStringList chars = kit::DotMatrix::characters(kit::DotMatrix::normalize(text));
    return chars.mid(0, cells).join(QString());
}

double sortKeyFloor(double labelWidth, double width, double legible)
{
    if (!std::isfinite(labelWidth) || labelWidth < 0)
        return width;
    return std::min(width, labelWidth * legible + 6);
}

SortBarFit fitSortBar(double width, const std::vector<double>& widths, const std::vector<double>& floors,
                      double fixed, double readout)
{
    SortBarFit fit;
    fit.keys = widths;
    if (!std::isfinite(width))
        width = 0;
    const auto sum = [](const std::vector<double>& v) {
        double total = 0;
        for (double x : v)
            total += x;
        return total;
    };
    const auto roomWith = [&](double keys, double spacing) { return width - fixed - keys - kSortGaps * spacing; };
    const double natural = sum(widths);

    // The spacing gives first.
    const double spare = roomWith(natural, kSortSpacing) - readout;
    if (spare >= 0) {
        fit.room = roomWith(natural, kSortSpacing);
        return fit;
    }
    fit.spacing = std::max(kSortSpacingFloor, kSortSpacing + spare / kSortGaps);
    if (fit.spacing > kSortSpacingFloor) {
        fit.room = readout;
        return fit;
    }

    // Then the keys, by one factor, each held at its floor.
    std::vector<double> floor(widths.size());
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const bool given = i < floors.size() && std::isfinite(floors[i]);
        floor[i] = std::min(widths[i], given ? std::max(0.0, floors[i]) : widths[i]);
    }
    const auto keysAt = [&](double factor) {
        std::vector<double> keys(widths.size());
        for (std::size_t i = 0; i < widths.size(); ++i)
            keys[i] = std::max(floor[i], factor * widths[i]);
        return keys;
    };
    const double want = roomWith(0, kSortSpacingFloor) - readout; // what the keys may take
    if (sum(floor) >= want) {
        fit.keys = floor;
    } else {
        double lo = 0, hi = 1;
        for (int step = 0; step < 40; ++step) {
            const double mid = (lo + hi) / 2;
            (sum(keysAt(mid)) <= want ? lo : hi) = mid;
        }
        fit.keys = keysAt(lo);
    }
    fit.room = std::max(0.0, roomWith(sum(fit.keys), kSortSpacingFloor));
    return fit;
}

EmptyState emptyState(Source source)
{
    if (source == Source::outpaints)
        return {QStringLiteral("NO OUTPAINTS YET"), QStringLiteral("fork deck 1 to make one")};
    return {QStringLiteral("DROP MUSIC HERE"), QStringLiteral("or press import \u00B7 Ctrl+O")};
}

QString tempoCell(const std::optional<double>& bpm, bool analyzing)
{
    if (analyzing)
        return QStringLiteral("\u00B7\u00B7\u00B7");
    if (!bpm || !std::isfinite(*bpm))
        return kDash;
    return QString::asprintf("%.2f", *bpm);
}

QString lengthCell(double seconds)
{
    if (!(seconds > 0) || !fitsInt(seconds))
        return kDash;
    const int whole = int(seconds);
    return QString::asprintf("%d:%02d", whole / 60, whole % 60);
}

QString matchCell(std::optional<double> match)
{
    if (!match || !fitsInt(*match * 100))
        return kDash;
    return QString::number(int(*match * 100));
}

QColor matchColour(std::optional<double> match)
{
    if (!match || !fitsInt(*match * 100))
        return kit::withAlpha(kit::Palette::ash(), 0.5);
    return *match > 0.75 ? kit::Palette::ember() : kit::withAlpha(kit::Palette::bone(), 0.7);
}

QColor keyColour(const MusicalKey& key)
{
    const double hue = double(key.camelotNumber() - 1) / 12.0;
    return key.minor ? QColor::fromHsvF(float(hue), 0.35f, 0.86f) : QColor::fromHsvF(float(hue), 0.5f, 1.0f);
}

int litBars(std::optional<double> energy)
{
    const double e = energy.value_or(0.0);
    if (!std::isfinite(e))
        return 0;
    int lit = 0;
    for (int i = 0; i < 5; ++i)
        lit += e > 0.08 + 0.19 * i;
    return lit;
}

QRectF energyBar(int i, double height)
{
    const double h = 4 + 1.6 * i;
    return QRectF(i * (3 + 1.5), (height - h) / 2, 3, h);
}

void paintEnergyMeter(kit::Canvas& canvas, QPointF origin, double height, int lit)
{
    std::vector<QRectF> on, off;
    for (int i = 0; i < 5; ++i)
        (i < lit ? on : off).push_back(energyBar(i, height).translated(origin));
    if (!on.empty())
        canvas.fillRects(on, kit::withAlpha(kit::Palette::ember(), 0.85));
    if (!off.empty())
        canvas.fillRects(off, kit::withAlpha(kit::Palette::ash(), 0.18));
}

RowCells rowCells(const TrackRecord& track, bool analyzing, std::optional<double> energy,
                  std::optional<double> match)
{
    RowCells cells;
    cells.take = track.outpaint.has_value();
    cells.title = track.title;
    cells.artist = track.artist;
    cells.tempo = tempoCell(track.grid ? std::optional<double>(track.grid->bpm) : std::nullopt, analyzing);
    if (track.key) {
        cells.key = track.key->camelot();
        cells.keyColour = keyColour(*track.key);
    } else {
        cells.key = kDash;
        cells.keyColour = kit::withAlpha(kit::Palette::ash(), 0.5);
    }
    cells.length = lengthCell(track.duration);
    cells.match = matchCell(match);
    cells.matchColour = matchColour(match);
    cells.energyBars = litBars(energy);
    return cells;
}

QueueKey queueKey(bool queued)
{
    if (queued)
        return {QStringLiteral("\u2713"), QStringLiteral("Remove from queue"), true};
    return {QStringLiteral("+"), QStringLiteral("Add to queue"), false};
}

std::vector<MenuItem> menuItems(bool queued, bool take)
{
    using K = MenuItem::Kind;
    std::vector<MenuItem> items{{K::load, QStringLiteral("Load to Deck 1"), 0},
                                {K::load, QStringLiteral("Load to Deck 2 (zelvo-0)"), 1},
                                {K::divider, {}}};
    if (queued) {
        items.push_back({K::moveUp, QStringLiteral("Move Up in Queue")});
        items.push_back({K::moveDown, QStringLiteral("Move Down in Queue")});
        items.push_back({K::dequeue, QStringLiteral("Remove from Queue")});
    } else {
        items.push_back({K::enqueue, QStringLiteral("Add to Queue")});
    }
    if (take)
        items.push_back({K::placeTake, QStringLiteral("Put This Take on Deck 2")});
    items.push_back({K::divider, {}});
    items.push_back({K::reveal, QStringLiteral("Show in Folder")});
    items.push_back({K::remove, QStringLiteral("Remove from Collection")});
    return items;
}

bool compatible(const std::optional<MusicalKey>& deckOne, const std::optional<MusicalKey>& row)
{
    return deckOne && row && row->isCompatible(*deckOne);
}

const std::vector<Column>& columns()
{
    static const std::vector<Column> table{
        {QString(), 10, Qt::AlignHCenter},
        {QStringLiteral("TITLE \u00B7 ARTIST"), 0, Qt::AlignLeft},
        {QStringLiteral("WAVE"), 86, Qt::AlignHCenter},
        {QStringLiteral("NRG"), 26, Qt::AlignLeft},
        {QStringLiteral("BPM"), 48, Qt::AlignRight},
        {QStringLiteral("KEY"), 30, Qt::AlignRight},
        {QStringLiteral("TIME"), 36, Qt::AlignRight},
        {QStringLiteral("MATCH"), 30, Qt::AlignRight},
        {QStringLiteral("LOAD \u00B7 Q"), 80, Qt::AlignHCenter},
    };
    return table;
}

std::vector<std::pair<double, double>> columnSpans(double width)
{
    const std::vector<Column>& cols = columns();
    double fixed = 0;
    for (const Column& c : cols)
        fixed += c.width;
    const double flexible = std::max(0.0, width - 16 - 6 * double(cols.size() - 1) - fixed);
    std::vector<std::pair<double, double>> spans;
    double x = 8;
    for (const Column& c : cols) {
        const double w = c.width > 0 ? c.width : flexible;
        spans.push_back({x, w});
        x += w + 6;
    }
    return spans;
}

} // namespace zelvo::crate
