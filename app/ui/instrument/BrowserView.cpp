#include "ui/instrument/BrowserView.h"

#include "state/AppModel.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/instrument/TrackTable.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/VFDField.h"
#include "ui/stage/StageKeys.h"

#include <QPainterPath>

namespace zelvo {

using namespace kit;
using Sort = AppModel::BrowserSort;
using Source = AppModel::BrowserSource;

namespace {
constexpr double kSourceWidth = 96;
constexpr double kSearchRow = 26;
} // namespace

// --- Sort bar.

namespace {
constexpr double kSortReadoutPitch = 1.1;
constexpr int kSortReadoutCells = 16;

TextLine sortCaption(const QString& text)
{
    return silkText(text, 6.5, Palette::ash(), 1.2);
}

QSizeF readoutTitleSize(int cells)
{
    DotMatrix::Look look;
    look.pitch = kSortReadoutPitch;
    look.columns = std::max(1, cells);
    return DotMatrix::size(look);
}
} // namespace

SortBar::SortBar(AppModel& model, const kit::UiEnv& env, double width, QWidget* parent)
    : FaceWidget(env, parent), model_(model), width_(width)
{
    setObjectName(QStringLiteral("browser.sortBar"));
    likeWidth_ = sortCaption(QStringLiteral("like")).size().width();
    readoutWidth_ = readoutTitleSize(kSortReadoutCells).width();
    const KeyMetrics metrics = keyMetrics(KeyStyle::key);
    const QFont labelFont = condensedBoldFont(metrics.fontSize, metrics.tracking);
    for (const crate::SortKey& k : crate::sortKeys(model_.browserSort())) {
        const Sort sort = k.sort;
        if (!crate::isRelative(sort))
            readoutWidth_ =
                std::max(readoutWidth_, sortCaption(crate::sortReadout(sort, std::nullopt).text).size().width());
        floors_.push_back(crate::sortKeyFloor(textWidth(labelFont, k.label.toUpper()), k.width));
        auto* key = new HardKey(env, k.label, std::nullopt, k.lit, false, KeyStyle::key, k.width, 16, false,
                                [this, sort] {
                                    if (model_.browserSort() != sort)
                                        model_.setBrowserSort(sort);
                                },
                                {}, this);
        key->setObjectName(QStringLiteral("browser.sort.") + k.label);
        keys_.push_back(key);
    }
    repaintOn(&model_, &AppModel::browserSortChanged);
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        repaintOn(&model_.deck(deck), &DeckModel::trackChanged);
    repaintOn(&model_.mixer(), &MixerModel::crossfaderChanged);
    fitKeys();
    resizeToDesign();
    refresh();
}

void SortBar::setWidth(double width)
{
    width_ = width;
    fitKeys();
    resizeToDesign();
    refresh();
}

void SortBar::fitKeys()
{
    std::vector<double> widths;
    for (const crate::SortKey& k : crate::sortKeys(model_.browserSort()))
        widths.push_back(k.width);
    // Margins, the divider and the word "like" stand whatever the width.
    fit_ = crate::fitSortBar(width_, widths, floors_, 16 + 1 + likeWidth_, readoutWidth_);
    for (std::size_t i = 0; i < keys_.size() && i < fit_.keys.size(); ++i)
        keys_[i]->setWidth(fit_.keys[i]);
}

void SortBar::refresh()
{
    const std::vector<crate::SortKey> sorts = crate::sortKeys(model_.browserSort());
    const double s = scale();
    const double gap = fit_.spacing;
    double x = 8;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (i == 5) {
            dividerX_ = x;
            x += 1 + gap + likeWidth_ + gap;
        }
        keys_[i]->setLit(sorts[i].lit);
        keys_[i]->move(QPointF(x * s, (22 - 16) / 2.0 * s).toPoint());
        x += keys_[i]->designSize().width();
        keysEnd_ = x;
        x += gap;
    }
    update();
}

void SortBar::paintFace(Canvas& canvas)
{
    const double x = dividerX_;
    canvas.fillRect(QRectF(x, 4, 1, 14), withAlpha(Palette::edge(), 0.7));
    const TextLine like = sortCaption(QStringLiteral("like"));
    like.draw(canvas, QPointF(x + 1 + fit_.spacing, (22 - like.size().height()) / 2));
    const Readout r = readout();
    if (r.text.isEmpty())
        return;
    if (r.title) {
        DotMatrix::Look look;
        look.text = r.text;
        look.pitch = kSortReadoutPitch;
        look.columns = r.cells;
        look.color = Palette::glow();
        look.dim = r.dim;
        canvas.save();
        canvas.translate(r.at.topLeft());
        DotMatrix::draw(canvas, look);
        canvas.restore();
    } else {
        sortCaption(r.text).draw(canvas, r.at.topLeft());
    }
}

SortBar::Readout SortBar::readout() const
{
    // The read-out stands at the right margin in the room the keys leave; a
    // title shows what its cells hold, as the display cuts it.
    const std::optional<TrackRecord> reference = model_.referenceTrack();
    const crate::SortReadout face =
        crate::sortReadout(model_.browserSort(), reference ? std::optional<QString>(reference->title) : std::nullopt);
    // After the last key: a gap, the flexible spacer, a gap.
    const double room = std::max(0.0, width_ - 8 - (keysEnd_ + 2 * fit_.spacing));
    Readout r;
    r.title = face.title;
    r.dim = face.dim;
    QSizeF size;
    if (face.title) {
        r.cells = crate::cellsWithin(room, kSortReadoutPitch, kSortReadoutCells);
        r.text = crate::firstCells(face.text, r.cells);
        size = r.cells > 0 ? readoutTitleSize(r.cells) : QSizeF();
    } else {
        r.text = crate::shortenAtWord(face.text, [room](const QString& candidate) {
            return sortCaption(candidate).size().width() <= room;
        });
        // "…" alone says nothing of the sort.
        if (r.text == QStringLiteral("\u2026"))
            r.text.clear();
        size = sortCaption(r.text).size();
    }
    r.at = QRectF(QPointF(width_ - 8 - size.width(), (22 - size.height()) / 2), size);
    return r;
}

// --- The module.

BrowserView::BrowserView(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent)
    : FaceModule(env, QStringLiteral("crate"), designSize, parent), model_(model)
{
    setObjectName(QStringLiteral("instrument.browser"));
    for (const crate::SourceKey& k : crate::sourceKeys(model_.browserSource())) {
        const Source source = k.source;
        auto* key = new HardKey(env, k.label, std::nullopt, k.lit, false, KeyStyle::key, kSourceWidth, 24, false,
                                [this, source] {
                                    if (model_.browserSource() != source)
                                        model_.setBrowserSource(source);
                                },
                                {}, this);
        key->setObjectName(QStringLiteral("browser.source.") + AppModel::rawValue(source).toLower());
        sourceKeys_.push_back({key, int(source)});
    }
    import_ = new HardKey(env, QStringLiteral("Import"), QStringLiteral("files \u00B7 folders"), false, false,
                          KeyStyle::key, kSourceWidth, 32, false, [this] { model_.importPanel(); }, {}, this);
    import_->setObjectName(QStringLiteral("browser.import"));

    DotMatrix::Look analysis;
    analysis.pitch = 1.1;
    analysis.columns = 12;
    analysis.color = Palette::glow();
    analysis.dim = true;
    analysis_ = new DotMatrixText(env, analysis, this);
    analysis_->setObjectName(QStringLiteral("browser.analysis"));

    AppModel* app = &model_;
    search_ = new VFDField(env, QStringLiteral("SEARCH TITLE / ARTIST / 8A"),
                           Binding<QString>{[app] { return app->browserQuery(); },
                                            [app](QString text) { app->setBrowserQuery(text); }},
                           QSizeF(220, 16), this);
    search_->setObjectName(QStringLiteral("browser.search"));
    DotMatrix::Look count;
    count.pitch = 1.1;
    count.columns = 11;
    count.color = Palette::bone();
    count.dim = true;
    count_ = new DotMatrixText(env, count, this);
    count_->setObjectName(QStringLiteral("browser.count"));
    sortBar_ = new SortBar(model_, env, designSize.width() - 20 - kSourceWidth - 8, this);
    table_ = new TrackTable(model_, env, this);

    connect(&model_, &AppModel::browserSourceChanged, this, &BrowserView::refreshKeys);
    connect(&model_, &AppModel::browserQueryChanged, search_, &VFDField::refresh);
    // The count follows the table's one reading of the list.
    connect(table_, &TrackTable::listRead, this, &BrowserView::refreshCounts);
    connect(&model_.library(), &LibraryStore::tracksChanged, this, &BrowserView::refreshCounts);
    connect(&model_.library(), &LibraryStore::analyzingChanged, this, &BrowserView::refreshCounts);

    AudioDrop::attach(
        this, env,
        [this](const QList<QUrl>& adapters) {
            QStringList paths;
            for (const QUrl& url : adapters)
                paths.append(url.toLocalFile());
            if (!paths.isEmpty())
                model_.installAdapters(paths);
        },
        [this](const QList<QUrl>& urls) { return dropUrls(urls); });
    layoutParts();
    refreshKeys();
    refreshCounts();
}

void BrowserView::setOutpaint(OutpaintModel* outpaint)
{
    table_->setOutpaint(outpaint);
}

bool BrowserView::dropUrls(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return !paths.isEmpty() && !model_.library().importItems(paths).empty();
}

QString BrowserView::analysisText() const
{
    return analysis_->isHidden() ? QString() : analysis_->look().text;
}

void BrowserView::refreshKeys()
{
    for (const auto& [key, source] : sourceKeys_)
        key->setLit(source == int(model_.browserSource()));
}

void BrowserView::refreshCounts()
{
    const std::optional<QString> line =
        crate::analysisLine(model_.library().analyzing(), model_.library().tracks());
    analysis_->setText(line.value_or(QString()));
    analysis_->setHidden(!line);
    count_->setText(crate::trackCount(table_->records().size()));
}

void BrowserView::layoutParts()
{
    const QSizeF size = designSize();
    const double s = scale();
    const auto put = [s](QWidget* w, QPointF at) { w->move((at * s).toPoint()); };
    double y = 10;
    for (const auto& [key, source] : sourceKeys_) {
        (void)source;
        put(key, QPointF(10, y));
        y += 24 + 5;
    }
    const double bottom = size.height() - 10;
    const double analysisHeight = analysis_->designSize().height();
    put(analysis_, QPointF(10, bottom - analysisHeight));
    put(import_, QPointF(10, bottom - analysisHeight - 5 - 32));

    glass_ = QRectF(10 + kSourceWidth + 8, 10, std::max(0.0, size.width() - 20 - kSourceWidth - 8),
                    std::max(0.0, size.height() - 20));
    const double gx = glass_.x(), gw = glass_.width();
    put(search_, QPointF(gx + 8 + 12 + 6, glass_.y() + (kSearchRow - 16) / 2));
    put(count_, QPointF(gx + gw - 8 - count_->designSize().width(),
                        glass_.y() + (kSearchRow - count_->designSize().height()) / 2));
    sortBar_->setWidth(std::max(0.0, gw));
    put(sortBar_, QPointF(gx, glass_.y() + kSearchRow + 1));
    const QRectF table(gx, glass_.y() + kSearchRow + 1 + 22 + 1, gw, glass_.bottom() - (glass_.y() + kSearchRow + 24));
    table_->setGeometry(QRectF(table.topLeft() * s, table.size() * s).toAlignedRect());
}

void BrowserView::resizeEvent(QResizeEvent* event)
{
    FaceModule::resizeEvent(event);
    layoutParts();
}

void BrowserView::scaleChanged()
{
    FaceModule::scaleChanged();
    layoutParts();
}

void BrowserView::paintFace(Canvas& canvas)
{
    const QSizeF size = designSize();
    QPainterPath plate;
    plate.addRoundedRect(QRectF(QPointF(), size), 9, 9);
    canvas.fillPath(plate, withAlpha(Palette::inkDeep(), 0.8));
    QPainterPath inner;
    inner.addRoundedRect(QRectF(QPointF(), size).adjusted(0.5, 0.5, -0.5, -0.5), 8.5, 8.5);
    canvas.strokePath(inner, QPen(withAlpha(Palette::edge(), 0.6), 1));

    canvas.save();
    canvas.translate(glass_.topLeft());
    drawGlassBack(canvas, glass_.size(), 4);
    stage::paintSymbol(canvas, QStringLiteral("magnifyingglass"), QRectF(8, (kSearchRow - 10) / 2, 10, 10),
                       Palette::ash());
    canvas.fillRect(QRectF(0, kSearchRow, glass_.width(), 1), Palette::edge());
    canvas.fillRect(QRectF(0, kSearchRow + 1 + 22, glass_.width(), 1), Palette::edge());
    drawGlassBorder(canvas, glass_.size(), 4);
    canvas.restore();
}

} // namespace zelvo
