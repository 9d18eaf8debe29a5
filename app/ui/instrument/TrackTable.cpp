#include "ui/instrument/TrackTable.h"

#include "generation/OutpaintModel.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/RowPointer.h"
#include "ui/kit/ThemeViews.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace zelvo {

using namespace kit;

namespace {

// The load keys' and the queue key's boxes inside the last column, in row points.
QRectF keyBox(double columnX, int key)
{
    // Three keys (24, 24, 20 wide) with 3 between, centred in 80 points.
    const double total = 24 + 3 + 24 + 3 + 20;
    const double x0 = columnX + (80 - total) / 2;
    const double xs[3] = {x0, x0 + 27, x0 + 54};
    return QRectF(xs[key], (TrackTable::kRow - 16) / 2, key == 2 ? 20 : 24, 16);
}

// `a` colour-multiplied by `b`, channel by channel.
QColor multiplied(const QColor& a, const QColor& b)
{
    return QColor::fromRgbF(a.redF() * b.redF(), a.greenF() * b.greenF(), a.blueF() * b.blueF(), a.alphaF() * b.alphaF());
}

QFont rowFont()
{
    static const QFont font = [] {
        QFont f = monoFont(10.5);
        f.setWeight(QFont::Medium);
        return f;
    }();
    return font;
}

void paintKey(Canvas& canvas, const QRectF& box, const QString& label, double size, bool inverted)
{
    QPainterPath shape;
    shape.addRoundedRect(box, 2, 2);
    canvas.fillPath(shape, inverted ? Palette::bone() : Palette::raised());
    if (!inverted) {
        QPainterPath inner;
        inner.addRoundedRect(box.adjusted(0.25, 0.25, -0.25, -0.25), 2, 2);
        canvas.strokePath(inner, QPen(Palette::edge(), 0.5));
    }
    canvas.drawText(box, label, condensedBoldFont(size), inverted ? Palette::inkDeep() : Palette::bone(),
                    int(Qt::AlignCenter) | Qt::TextSingleLine);
}

} // namespace

TrackTable::TrackTable(AppModel& model, kit::UiEnv env, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model), env_(env), rows_(model, 86, 16, [this] { afterRead(); })
{
    setObjectName(QStringLiteral("browser.table"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&model_.library(), &LibraryStore::analyzingChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&model_, &AppModel::selectedTrackChanged, viewport(), qOverload<>(&QWidget::update));
    rows_.readNow();
}

double TrackTable::scale() const
{
    const double s = env_.scale();
    return s > 0 ? s : 1.0;
}

void TrackTable::rebuildNow()
{
    rows_.readNow();
}

void TrackTable::afterRead()
{
    ++reads_;
    const std::optional<TrackRecord>& deckOne = model_.deck(0).track();
    deckOneKey_ = deckOne ? deckOne->key : std::nullopt;
    if (env_.snapshotMode) {
        // A still render paints at once: fetch the waveforms it shows first.
        for (std::size_t i = 0; i < records().size() && i < std::size_t(kSnapshotRows); ++i)
            rows_.waveOf(records()[i]);
    }
    updateRange();
    viewport()->update();
    emit listRead();
}

void TrackTable::updateRange()
{
    const int body = std::max(0, viewport()->height() - int(std::lround(kHeader * scale())));
    const int content = int(std::lround(double(records().size()) * kRow * scale()));
    QScrollBar* bar = verticalScrollBar();
    bar->setSingleStep(int(std::lround(kRow * scale())));
    bar->setPageStep(body);
    bar->setRange(0, env_.snapshotMode ? 0 : std::max(0, content - body));
}

void TrackTable::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateRange();
}

QRect TrackTable::rowRect(int row) const
{
    const double s = scale();
    const double top = kHeader * s + row * kRow * s - verticalScrollBar()->value();
    return QRectF(0, top, viewport()->width(), kRow * s).toAlignedRect();
}

int TrackTable::rowAt(QPoint point) const
{
    const double s = scale();
    const double y = point.y() - kHeader * s + verticalScrollBar()->value();
    if (point.y() < kHeader * s || y < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return -1;
    const int row = int(y / (kRow * s));
    const int count = int(records().size());
    const int rows = env_.snapshotMode ? std::min(kSnapshotRows, count) : count;
    return row < rows ? row : -1;
}

int TrackTable::hitAt(QPoint point, int row) const
{
    const double s = scale();
    const QPointF local = (QPointF(point) - QPointF(0, rowRect(row).top())) / s;
    const auto spans = crate::columnSpans(viewport()->width() / s);
    for (int key = 0; key < 3; ++key)
        if (keyBox(spans[8].first, key).contains(local))
            return key + 1;
    return 0;
}

crate::RowCells TrackTable::cellsOf(int row) const
{
    const TrackRecord& record = records().at(std::size_t(row));
    const std::optional<TrackMetrics> metrics = model_.library().metrics(record.id);
    return crate::rowCells(record, model_.library().analyzing().contains(record.id),
                           metrics ? std::optional<double>(metrics->energy) : std::nullopt,
                           model_.matchScore(record, rows_.reference()));
}

void TrackTable::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    const double s = scale();
    canvas.scale(s, s);
    const double width = viewport()->width() / s;
    const double height = viewport()->height() / s;
    const auto spans = crate::columnSpans(width);
    const std::vector<crate::Column>& cols = crate::columns();

    // Header.
    canvas.fillRect(QRectF(0, 0, width, kHeader), withAlpha(Palette::panel(), 0.5));
    for (std::size_t c = 0; c < cols.size(); ++c) {
        if (cols[c].title.isEmpty())
            continue;
        const TextLine line = silkText(cols[c].title, 7, Palette::ash(), 1.1);
        const QSizeF size = line.size();
        double x = spans[c].first;
        if (cols[c].align & Qt::AlignRight)
            x += spans[c].second - size.width();
        else if (cols[c].align & Qt::AlignHCenter)
            x += (spans[c].second - size.width()) / 2;
        line.draw(canvas, QPointF(x, (kHeader - size.height()) / 2));
    }

    if (records().empty()) {
        const crate::EmptyState empty = crate::emptyState(model_.browserSource());
        DotMatrix::Look look;
        look.text = empty.title;
        look.pitch = 2.2;
        look.color = Palette::glow();
        look.dim = true;
        look.aberration = true;
        const QSizeF titleSize = DotMatrix::size(look);
        const TextLine line = silkText(empty.line, 8, Palette::ash(), 1.1);
        const QSizeF lineSize = line.size();
        const double top = kHeader + (height - kHeader - titleSize.height() - 8 - lineSize.height()) / 2;
        canvas.save();
        canvas.translate(QPointF((width - titleSize.width()) / 2, top));
        DotMatrix::draw(canvas, look);
        canvas.restore();
        line.draw(canvas, QPointF((width - lineSize.width()) / 2, top + titleSize.height() + 8));
        return;
    }

    const double offset = verticalScrollBar()->value() / s;
    int first = std::max(0, int(offset / kRow));
    int last = std::min(int(records().size()) - 1, int((offset + height - kHeader) / kRow));
    if (env_.snapshotMode) {
        first = 0;
        last = std::min(int(records().size()), kSnapshotRows) - 1;
    }
    canvas.clip([&] {
        QPainterPath body;
        body.addRect(QRectF(0, kHeader, width, height - kHeader));
        return body;
    }());
    const QFont font = rowFont();
    const std::optional<QUuid>& selectedId = model_.selectedTrack();
    for (int row = first; row <= last; ++row) {
        const TrackRecord& record = records()[std::size_t(row)];
        const crate::RowCells cells = cellsOf(row);
        const bool selected = selectedId == record.id;
        const bool queued = rows_.isQueued(record.id);
        const double y = kHeader + row * kRow - (env_.snapshotMode ? 0 : offset);
        canvas.save();
        canvas.translate(QPointF(0, y));
        if (selected)
            canvas.fillRect(QRectF(0, 0, width, kRow), withAlpha(Palette::bone(), 0.1));
        canvas.fillRect(QRectF(0, kRow - 0.5, width, 0.5), withAlpha(Palette::edge(), 0.3));
        const QColor text = selected ? Palette::paper() : withAlpha(Palette::bone(), 0.85);
        const int v = int(Qt::AlignVCenter) | Qt::TextSingleLine;

        // 1: compatibility dot.
        const bool fits = crate::compatible(deckOneKey_, record.key);
        QPainterPath dot;
        dot.addEllipse(QRectF(spans[0].first + 2.5, (kRow - 5) / 2, 5, 5));
        if (fits)
            canvas.shadow(dot, withAlpha(Palette::glow(), 0.55), 3, QPointF());
        canvas.fillPath(dot, fits ? Palette::glow() : withAlpha(Palette::ash(), 0.2));

        // 2: badge, title, artist.
        double x = spans[1].first;
        const double titleEnd = spans[1].first + spans[1].second;
        if (cells.take) {
            const QFont badgeFont = condensedBoldFont(8);
            const double w = QFontMetricsF(badgeFont).horizontalAdvance(QStringLiteral("ZELVO-0")) + 6;
            QPainterPath badge;
            badge.addRoundedRect(QRectF(x, (kRow - 11) / 2, w, 11), 2, 2);
            // Its colour fringes: the badge times red 1 point left and times
            // cyan 1 point right, screened at 0.6 behind it.
            canvas.setBlend(QPainter::CompositionMode_Screen);
            canvas.fillPath(badge.translated(-1, 0), withAlpha(multiplied(Palette::bone(), Palette::red()), 0.6));
            canvas.fillPath(badge.translated(1, 0), withAlpha(multiplied(Palette::bone(), Palette::cyan()), 0.6));
            canvas.setBlend(QPainter::CompositionMode_SourceOver);
            canvas.fillPath(badge, Palette::bone());
            canvas.drawText(QRectF(x, 0, w, kRow), QStringLiteral("ZELVO-0"), badgeFont, Palette::inkDeep(),
                            int(Qt::AlignCenter) | Qt::TextSingleLine);
            x += w + 5;
        }
        const QFontMetricsF fm(font);
        const QString title = fm.elidedText(cells.title, Qt::ElideRight, std::max(0.0, titleEnd - x));
        canvas.drawText(QRectF(x, 0, std::max(0.0, titleEnd - x), kRow), title, font, text, int(Qt::AlignLeft) | v);
        x += fm.horizontalAdvance(title) + 5;
        if (!cells.artist.isEmpty() && x < titleEnd) {
            const QString artist = fm.elidedText(cells.artist, Qt::ElideRight, titleEnd - x);
            canvas.drawText(QRectF(x, 0, titleEnd - x, kRow), artist, font, withAlpha(Palette::bone(), 0.5),
                            int(Qt::AlignLeft) | v);
        }

        // 3: miniature waveform; 4: energy.
        const MiniWaveBars* wave = waveOf(record);
        const QPointF waveAt(spans[2].first, (kRow - 16) / 2);
        if (wave)
            paintMiniWave(canvas, waveAt, *wave, miniWaveOpacity(true));
        crate::paintEnergyMeter(canvas, QPointF(spans[3].first, 0), kRow, cells.energyBars);

        // 5 to 8: tempo, key, time, match.
        const auto cell = [&](int c, const QString& s, const QColor& colour) {
            canvas.drawText(QRectF(spans[std::size_t(c)].first, 0, spans[std::size_t(c)].second, kRow), s, font,
                            colour, int(Qt::AlignRight) | v);
        };
        cell(4, cells.tempo, text);
        cell(5, cells.key, cells.keyColour);
        cell(6, cells.length, text);
        cell(7, cells.match, cells.matchColour);

        // 9: load and queue keys.
        const crate::QueueKey q = crate::queueKey(queued);
        paintKey(canvas, keyBox(spans[8].first, 0), QStringLiteral("1"), 9, false);
        paintKey(canvas, keyBox(spans[8].first, 1), QStringLiteral("2"), 9, false);
        paintKey(canvas, keyBox(spans[8].first, 2), q.label, 10, q.inverted);
        canvas.restore();
    }
}

// --- Pointer.

void TrackTable::pressKey(int row, int hit)
{
    const QUuid id = records().at(std::size_t(row)).id;
    if (hit == 1 || hit == 2)
        model_.load(id, hit - 1);
    else if (hit == 3)
        rows_.isQueued(id) ? model_.dequeue(id) : model_.enqueue(id);
}

void TrackTable::mousePressEvent(QMouseEvent* event)
{
    pressAt_.reset();
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    const int row = rowAt(at);
    if (row < 0)
        return;
    pressAt_ = at;
    pressId_ = records()[std::size_t(row)].id;
    pressHit_ = hitAt(at, row);
    if (pressHit_ == 0)
        model_.setSelectedTrack(pressId_);
}

void TrackTable::mouseMoveEvent(QMouseEvent* event)
{
    dragPressedRow(this, pressAt_, *event, [this] { return mimeFor(rows_.rowOf(pressId_)); });
}

void TrackTable::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressAt_)
        return;
    pressAt_.reset();
    const QPoint at = event->position().toPoint();
    const int row = rowAt(at);
    if (pressHit_ != 0 && row >= 0 && records()[std::size_t(row)].id == pressId_ && hitAt(at, row) == pressHit_)
        pressKey(row, pressHit_);
}

void TrackTable::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    const int row = rowAt(at);
    if (row < 0)
        return;
    const int hit = hitAt(at, row);
    pressId_ = records()[std::size_t(row)].id;
    if (hit != 0) {
        // A quick second click on a key is another click of it.
        pressAt_ = at;
        pressHit_ = hit;
        return;
    }
    model_.setSelectedTrack(pressId_);
    model_.load(pressId_, 0);
}

void TrackTable::contextMenuEvent(QContextMenuEvent* event)
{
    if (std::unique_ptr<QMenu> menu = menuFor(rowAt(event->pos())))
        menu->exec(event->globalPos());
}

bool TrackTable::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos());
        if (row >= 0 && hitAt(help->pos(), row) == 3)
            QToolTip::showText(help->globalPos(),
                               crate::queueKey(rows_.isQueued(records()[std::size_t(row)].id)).help, viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

std::unique_ptr<QMenu> TrackTable::menuFor(int row)
{
    if (row < 0 || row >= int(records().size()))
        return nullptr;
    const TrackRecord record = records()[std::size_t(row)];
    return itemMenu(this, QStringLiteral("browser.menu"),
                    crate::menuItems(rows_.isQueued(record.id), record.outpaint.has_value()),
                    [record](TrackTable& table, const crate::MenuItem& item) { table.act(item, record); });
}

void TrackTable::act(const crate::MenuItem& item, const TrackRecord& record)
{
    using K = crate::MenuItem::Kind;
    switch (item.kind) {
    case K::load: model_.load(record.id, item.deck); break;
    case K::enqueue: model_.enqueue(record.id); break;
    case K::moveUp: model_.moveInQueue(record.id, -1); break;
    case K::moveDown: model_.moveInQueue(record.id, 1); break;
    case K::dequeue: model_.dequeue(record.id); break;
    case K::placeTake:
        if (outpaint_)
            outpaint_->placeTake(record, TrackBufferRef(), nullptr);
        break;
    case K::reveal:
        if (env_.desktop && !env_.snapshotMode)
            env_.desktop->revealFile(record.path);
        break;
    case K::remove: model_.library().remove({record.id}); break;
    case K::divider: break;
    }
}

std::unique_ptr<QMimeData> TrackTable::mimeFor(int row) const
{
    return rows_.mimeFor(row);
}

} // namespace zelvo
