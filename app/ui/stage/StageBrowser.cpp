#include "ui/stage/StageBrowser.h"

#include "generation/OutpaintModel.h"
#include "library/LibraryStore.h"
#include "platform/Scheduler.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/kit/RowPointer.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/StageField.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StageSides.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zelvo {

using Source = AppModel::BrowserSource;
using Sort = AppModel::BrowserSort;
using namespace kit;
using stage::RowHit;
using stage::RowMenuItem;
using stage::StageRowGeometry;
using stage::StageRowLook;
using stage::kStageRowHeight;
using stage::fitsReference;
using stage::paintStageRow;
using stage::stageRowGeometry;
using stage::stageRowHelp;
using stage::stageRowHit;
using stage::stageRowLook;
using stage::stageRowMenu;

namespace browser {

std::vector<Tab> tabs(Source current)
{
    std::vector<Tab> out;
    for (Source source : {Source::collection, Source::outpaints, Source::recent, Source::queue})
        out.push_back({source, AppModel::rawValue(source).toLower(), source == current});
    return out;
}

QString sortHint(Sort sort)
{
    switch (sort) {
    case Sort::added: return QStringLiteral("newest first");
    case Sort::title: return QStringLiteral("by name");
    case Sort::bpm: return QStringLiteral("slow to fast");
    case Sort::key: return QStringLiteral("around the wheel");
    case Sort::energy: return QStringLiteral("hardest first");
    case Sort::tune: return QStringLiteral("sounds like it");
    case Sort::tempo: return QStringLiteral("same tempo");
    case Sort::intensity: return QStringLiteral("hits the same");
    case Sort::harmony: return QStringLiteral("in key with it");
    }
    return {};
}

std::vector<Chip> chips(Sort current)
{
    std::vector<Chip> out;
    for (Sort sort : {Sort::added, Sort::bpm, Sort::key, Sort::energy, Sort::tune, Sort::harmony, Sort::tempo,
                      Sort::intensity})
        out.push_back({sort, AppModel::rawValue(sort).toLower(), sortHint(sort), sort == current});
    return out;
}

EmptyText emptyText(Source source)
{
    if (source == Source::outpaints)
        return {QStringLiteral("no zelvo-0 takes yet"), QStringLiteral("fork deck 1 to make one")};
    return {QStringLiteral("drop music here"), QStringLiteral("or press import")};
}

} // namespace browser

namespace {

// A source tab: its name in the stage's system font, heavy and light when current.
class TabKey final : public QAbstractButton {
public:
    TabKey(const QString& text, QWidget* parent) : QAbstractButton(parent)
    {
        setText(text);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
    }
    void setCurrent(bool current)
    {
        if (current_ == current)
            return;
        current_ = current;
        setProperty("current", current);
        updateGeometry();
        update();
    }
    bool current() const { return current_; }
    QFont font13() const { return stage::stageRowFont(13, current_ ? QFont::Black : QFont::Medium, false); }
    QSize sizeHint() const override
    {
        return {int(std::ceil(QFontMetricsF(font13()).horizontalAdvance(text()))) + 1, 28};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        PainterCanvas canvas(painter);
        canvas.drawText(QRectF(rect()), text(), font13(), current_ ? Stage::paper() : Stage::ash(),
                        int(Qt::AlignLeft | Qt::AlignVCenter) | Qt::TextSingleLine);
    }

private:
    bool current_ = false;
};

// A sort chip: a monospaced word on a capsule, inverted when current.
class ChipKey final : public QAbstractButton {
public:
    ChipKey(const QString& text, const QString& help, QWidget* parent) : QAbstractButton(parent)
    {
        setText(text);
        setToolTip(help);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(sizeHint());
    }
    void setCurrent(bool current)
    {
        if (current_ == current)
            return;
        current_ = current;
        setProperty("current", current);
        update();
    }
    bool current() const { return current_; }
    static const QFont& chipFont()
    {
        static const QFont font = stage::stageRowFont(9.5, QFont::Medium, true);
        return font;
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(chipFont());
        return {int(std::ceil(metrics.horizontalAdvance(text()) + 16)), int(std::ceil(metrics.height() + 8))};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        PainterCanvas canvas(painter);
        const QRectF r(rect());
        QPainterPath capsule;
        capsule.addRoundedRect(r, r.height() / 2, r.height() / 2);
        canvas.fillPath(capsule, current_ ? Stage::bone() : Stage::inkHigh());
        canvas.drawText(r, text(), chipFont(), current_ ? Stage::ink() : withAlpha(Stage::bone(), 0.8),
                        int(Qt::AlignCenter) | Qt::TextSingleLine);
    }

private:
    bool current_ = false;
};

// The rounded box around the search field with its magnifier.
class SearchBox final : public QWidget {
public:
    explicit SearchBox(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        PainterCanvas canvas(painter);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath box;
        box.addRoundedRect(r, 7, 7);
        canvas.fillPath(box, Stage::ink());
        canvas.strokePath(box, QPen(Stage::line(), 1));
        stage::paintSymbol(canvas, QStringLiteral("magnifyingglass"), QRectF(10, (height() - 11) / 2.0, 11, 11),
                           Stage::ash());
    }
};

constexpr double kScrollSeconds = 0.12;

double easeOut(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return 1 - (1 - t) * (1 - t);
}

} // namespace

// --- The list.

StageBrowserList::StageBrowserList(AppModel& model, kit::UiEnv env, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model), env_(env), rows_(model, 90, 14, [this] { afterRead(); })
{
    setObjectName(QStringLiteral("stageBrowser.list"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    viewport()->setMouseTracking(false);
    verticalScrollBar()->setSingleStep(int(kStageRowHeight));
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));

    connect(&model_, &AppModel::selectedTrackChanged, this, &StageBrowserList::selectionChanged);
    rows_.readNow();
}

StageBrowserList::~StageBrowserList()
{
    stopAnimation();
}

void StageBrowserList::setSides(const stage::StageSides* sides)
{
    if (sides_)
        disconnect(sides_, nullptr, this, nullptr);
    sides_ = sides;
    if (sides_)
        connect(sides_, &stage::StageSides::layoutChanged, viewport(), qOverload<>(&QWidget::update));
    viewport()->update();
}

void StageBrowserList::setOutpaint(OutpaintModel* outpaint)
{
    outpaint_ = outpaint;
}

int StageBrowserList::deckCount() const
{
    const bool four = sides_ ? sides_->fourDecks() : model_.controller().fourDecks();
    return four ? 4 : 2;
}

int StageBrowserList::leftDeck() const
{
    const int deck = sides_ ? sides_->leftDeck() : model_.controller().activeDeck(0);
    return std::clamp(deck, 0, AppModel::kDecks - 1);
}

void StageBrowserList::rebuildNow()
{
    rows_.readNow();
}

void StageBrowserList::afterRead()
{
    updateRange();
    viewport()->update();
    if (scrollQueued_) {
        scrollQueued_ = false;
        scrollToSelection();
    }
}

void StageBrowserList::updateRange()
{
    const int content = int(records().size()) * int(kStageRowHeight);
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, std::max(0, content - viewport()->height()));
}

void StageBrowserList::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateRange();
}

int StageBrowserList::scrollOffset() const
{
    return verticalScrollBar()->value();
}

QRect StageBrowserList::rowRect(int row) const
{
    return QRect(0, row * int(kStageRowHeight) - scrollOffset(), viewport()->width(), int(kStageRowHeight));
}

int StageBrowserList::rowAt(QPoint point) const
{
    const int y = point.y() + scrollOffset();
    if (y < 0 || point.x() < 0 || point.x() >= viewport()->width())
        return -1;
    const int row = y / int(kStageRowHeight);
    return row < int(records().size()) ? row : -1;
}

RowHit StageBrowserList::hitAt(QPoint point, int row) const
{
    const StageRowGeometry geometry = stageRowGeometry(viewport()->width(), deckCount());
    return stageRowHit(geometry, QPointF(point) - QPointF(rowRect(row).topLeft()));
}

StageRowLook StageBrowserList::lookOf(int row)
{
    const TrackRecord& record = records().at(std::size_t(row));
    const std::optional<TrackRecord>& reference = rows_.reference();
    const bool selected = model_.selectedTrack() == record.id;
    return stageRowLook(record, selected, fitsReference(record, reference), model_.matchScore(record, reference),
                        rows_.isQueued(record.id), deckCount());
}

void StageBrowserList::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    const int width = viewport()->width();
    if (records().empty()) {
        const browser::EmptyText text = browser::emptyText(model_.browserSource());
        const QFont title = stage::stageRowFont(18, QFont::Black, false);
        const TextLine line = stageText(text.line, 8.5, Stage::ash());
        const double titleHeight = QFontMetricsF(title).height();
        const QSizeF lineSize = line.size();
        const double top = (viewport()->height() - titleHeight - 6 - lineSize.height()) / 2;
        canvas.drawText(QRectF(0, top, width, titleHeight), text.title, title, Stage::ash(),
                        int(Qt::AlignCenter) | Qt::TextSingleLine);
        line.draw(canvas, QPointF((width - lineSize.width()) / 2, top + titleHeight + 6));
        return;
    }
    const StageRowGeometry geometry = stageRowGeometry(width, deckCount());
    const int offset = scrollOffset();
    const int first = std::max(0, offset / int(kStageRowHeight));
    const int last = std::min(int(records().size()) - 1, (offset + viewport()->height()) / int(kStageRowHeight));
    const double ratio = devicePixelRatioF();
    for (int row = first; row <= last; ++row) {
        const StageRowLook look = lookOf(row);
        canvas.save();
        canvas.translate(QPointF(0, row * kStageRowHeight - offset));
        paintStageRow(canvas, look, geometry, waveOf(records()[std::size_t(row)]), badge_, ratio);
        canvas.restore();
        ++rowsPainted_;
    }
}

// --- Pointer.

void StageBrowserList::press(int row, const RowHit& hit)
{
    const TrackRecord record = records().at(std::size_t(row));
    switch (hit.kind) {
    case RowHit::Kind::deck:
        model_.load(record.id, hit.deck);
        break;
    case RowHit::Kind::queue:
        if (rows_.isQueued(record.id))
            model_.dequeue(record.id);
        else
            model_.enqueue(record.id);
        break;
    case RowHit::Kind::row:
        model_.setSelectedTrack(record.id);
        break;
    }
}

void StageBrowserList::mousePressEvent(QMouseEvent* event)
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
    // The row selects at once; its buttons act on release over them.
    if (pressHit_.kind == RowHit::Kind::row)
        press(row, pressHit_);
}

void StageBrowserList::mouseMoveEvent(QMouseEvent* event)
{
    dragPressedRow(this, pressAt_, *event, [this] { return mimeFor(rows_.rowOf(pressId_)); });
}

void StageBrowserList::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressAt_)
        return;
    const QPoint at = event->position().toPoint();
    const RowHit hit = pressHit_;
    const QUuid id = pressId_;
    pressAt_.reset();
    // The button acts when released over itself on the same record (the list
    // may have been read again in between).
    const int row = rowAt(at);
    if (hit.kind != RowHit::Kind::row && row >= 0 && records()[std::size_t(row)].id == id && hitAt(at, row) == hit)
        press(row, hit);
}

void StageBrowserList::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    const int row = rowAt(at);
    if (row < 0)
        return;
    const RowHit hit = hitAt(at, row);
    if (hit.kind != RowHit::Kind::row) {
        // A quick second click on a button is another click of it.
        pressAt_ = at;
        pressId_ = records()[std::size_t(row)].id;
        pressHit_ = hit;
        return;
    }
    const QUuid id = records()[std::size_t(row)].id;
    model_.setSelectedTrack(id);
    model_.load(id, leftDeck());
}

void StageBrowserList::contextMenuEvent(QContextMenuEvent* event)
{
    const int row = rowAt(event->pos());
    if (row < 0)
        return;
    if (std::unique_ptr<QMenu> menu = menuFor(row))
        menu->exec(event->globalPos());
}

bool StageBrowserList::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos());
        const QString text = row < 0 ? QString() : stageRowHelp(lookOf(row), hitAt(help->pos(), row));
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

std::unique_ptr<QMenu> StageBrowserList::menuFor(int row)
{
    if (row < 0 || row >= int(records().size()))
        return nullptr;
    const TrackRecord record = records()[std::size_t(row)];
    return itemMenu(this, QStringLiteral("stageBrowser.menu"), stageRowMenu(lookOf(row)),
                    [record](StageBrowserList& list, const RowMenuItem& item) { list.act(item, record); });
}

void StageBrowserList::act(const RowMenuItem& item, const TrackRecord& record)
{
    using K = RowMenuItem::Kind;
    switch (item.kind) {
    case K::load:
        model_.load(record.id, item.deck);
        break;
    case K::enqueue:
        model_.enqueue(record.id);
        break;
    case K::dequeue:
        model_.dequeue(record.id);
        break;
    case K::placeTake:
        if (outpaint_)
            outpaint_->placeTake(record, TrackBufferRef(), nullptr);
        break;
    case K::reveal:
        if (env_.desktop)
            env_.desktop->revealFile(record.path);
        break;
    case K::remove:
        model_.library().remove({record.id});
        break;
    case K::divider:
        break;
    }
}

std::unique_ptr<QMimeData> StageBrowserList::mimeFor(int row) const
{
    return rows_.mimeFor(row);
}

// --- Scrolling to the selection.

void StageBrowserList::selectionChanged()
{
    viewport()->update();
    if (!model_.selectedTrack())
        return;
    if (rows_.readQueued())
        scrollQueued_ = true;
    else
        scrollToSelection();
}

void StageBrowserList::scrollToSelection()
{
    const std::optional<QUuid>& id = model_.selectedTrack();
    if (!id)
        return;
    const int row = rows_.rowOf(*id);
    if (row < 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    const double centre = (row + 0.5) * kStageRowHeight - viewport()->height() / 2.0;
    const double target = std::clamp(centre, double(bar->minimum()), double(bar->maximum()));
    stopAnimation();
    if (env_.snapshotMode || !env_.scheduler || !env_.liveClock || LiveSchedule::frozen() ||
        std::lround(target) == bar->value()) {
        bar->setValue(int(std::lround(target)));
        return;
    }
    animFrom_ = bar->value();
    animTo_ = target;
    animStart_ = env_.scheduler->uptime();
    animation_ = env_.liveClock->subscribe(60, [this](double) {
        const double t = (env_.scheduler->uptime() - animStart_) / kScrollSeconds;
        verticalScrollBar()->setValue(int(std::lround(animFrom_ + (animTo_ - animFrom_) * easeOut(t))));
        if (t >= 1)
            stopAnimation();
    });
}

void StageBrowserList::stopAnimation()
{
    if (animation_ && env_.liveClock)
        env_.liveClock->unsubscribe(animation_);
    animation_ = 0;
}

// --- The panel.

StageBrowser::StageBrowser(AppModel& model, kit::UiEnv env, bool expanded, QWidget* parent)
    : QWidget(parent), model_(model), env_(env), expanded_(expanded)
{
    setObjectName(QStringLiteral("stageBrowser"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("stageBrowser.header"));
    auto* row = new QHBoxLayout(header_);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(14);
    for (const browser::Tab& tab : browser::tabs(model_.browserSource())) {
        auto* key = new TabKey(tab.text, header_);
        key->setObjectName(QStringLiteral("stageBrowser.tab.") + tab.text);
        const Source source = tab.source;
        tabKeys_.push_back({key, int(source)});
        connect(key, &QAbstractButton::clicked, this, [this, source] { model_.setBrowserSource(source); });
        row->addWidget(key);
    }

    auto* box = new SearchBox(header_);
    box->setObjectName(QStringLiteral("stageBrowser.searchBox"));
    box->setFixedHeight(28);
    box->setMaximumWidth(300);
    auto* boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(10 + 11 + 6, 0, 10, 0);
    // The field may read its binding while the panel is being taken down (its
    // focus leaves then): the binding holds the state root, which outlives it.
    AppModel* app = &model_;
    search_ = new stage::StageField(
        env_, [app] { return app->browserQuery(); }, [app](const QString& text) { app->setBrowserQuery(text); },
        QStringLiteral("search · title, artist or 8a"), 11, box);
    search_->setObjectName(QStringLiteral("stageBrowser.search"));
    boxRow->addWidget(search_);
    row->addWidget(box, 1);
    row->addStretch(0);

    auto* sorts = new QWidget(header_);
    sorts->setObjectName(QStringLiteral("stageBrowser.sorts"));
    auto* sortRow = new QHBoxLayout(sorts);
    sortRow->setContentsMargins(0, 0, 0, 0);
    sortRow->setSpacing(4);
    const std::vector<browser::Chip> chips = browser::chips(model_.browserSort());
    for (int i = 0; i < int(chips.size()); ++i) {
        const browser::Chip& chip = chips[std::size_t(i)];
        if (i == browser::kPlainChips) {
            auto* fits = new StageLabel(env_, QStringLiteral("fits"), 8, Stage::ash(), sorts);
            sortRow->addSpacing(6 - 4);
            sortRow->addWidget(fits);
        }
        auto* key = new ChipKey(chip.text, chip.help, sorts);
        key->setObjectName(QStringLiteral("stageBrowser.chip.") + chip.text);
        const Sort sort = chip.sort;
        chipKeys_.push_back({key, int(sort)});
        connect(key, &QAbstractButton::clicked, this, [this, sort] { model_.setBrowserSort(sort); });
        sortRow->addWidget(key);
    }
    row->addWidget(sorts);

    auto* import = new stage::StageKey(env_, QStringLiteral("plus"), QStringLiteral("import"), false,
                                       QStringLiteral("add files or folders"), [this] { model_.importPanel(); },
                                       header_);
    import->setObjectName(QStringLiteral("stageBrowser.importKey"));
    row->addWidget(import);
    column->addWidget(header_);
    column->addSpacing(1); // the divider, painted
    list_ = new StageBrowserList(model_, env_, this);
    column->addWidget(list_, 1);

    connect(&model_, &AppModel::browserSourceChanged, this, &StageBrowser::refreshHeader);
    connect(&model_, &AppModel::browserSortChanged, this, &StageBrowser::refreshHeader);
    connect(&model_, &AppModel::browserQueryChanged, search_, &stage::StageField::refresh);
    refreshHeader();

    AudioDrop::attach(
        this, env_,
        [this](const QList<QUrl>& adapters) {
            QStringList paths;
            for (const QUrl& url : adapters)
                paths.append(url.toLocalFile());
            if (!paths.isEmpty())
                model_.installAdapters(paths);
        },
        [this](const QList<QUrl>& urls) { return !stage::importAdded(model_.library(), urls).empty(); });
    setExpanded(expanded);
}

void StageBrowser::refreshHeader()
{
    for (const auto& [key, source] : tabKeys_)
        static_cast<TabKey*>(key)->setCurrent(source == int(model_.browserSource()));
    for (const auto& [key, sort] : chipKeys_)
        static_cast<ChipKey*>(key)->setCurrent(sort == int(model_.browserSort()));
}

bool StageBrowser::dropUrls(const QList<QUrl>& urls)
{
    if (AudioDrop* drop = findChild<AudioDrop*>(QString(), Qt::FindDirectChildrenOnly))
        return drop->drop(urls);
    return !stage::importAdded(model_.library(), urls).empty();
}

void StageBrowser::setExpanded(bool expanded)
{
    expanded_ = expanded;
    setMinimumHeight(expanded ? 260 : 150);
}

void StageBrowser::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    stage::paintStagePanel(canvas, QRectF(rect()), false);
    canvas.fillRect(QRectF(0, header_->geometry().bottom() + 1, width(), 1), Stage::line());
}

} // namespace zelvo
