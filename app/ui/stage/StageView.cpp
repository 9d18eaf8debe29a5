#include "ui/stage/StageView.h"

#include "state/AppModel.h"
#include "models/AudioSystem.h"
#include "ui/kit/Palette.h"
#include "ui/kit/waves/AppWaveScene.h"
#include "ui/stage/ControlEchoView.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/TourSpots.h"
#include "ui/stage/StagePanels.h"
#include "ui/stage/StagePresenters.h"
#include "ui/stage/StatusBar.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zelvo::stage {

// The middle row's frame: shows a fraction of the row's ideal height, the
// row sliding toward the bottom edge and fading as the fraction falls.
class StageView::SlideBox final : public QWidget {
public:
    SlideBox(QWidget* content, QWidget* parent) : QWidget(parent), content_(content)
    {
        setObjectName(QStringLiteral("stage.middle"));
        content_->setParent(this);
        content_->installEventFilter(this);
    }

    double shown() const { return shown_; }
    QWidget* content() const { return content_; }
    void setShown(double fraction)
    {
        shown_ = std::clamp(fraction, 0.0, 1.0);
        if (shown_ < 1) {
            if (!fade_) {
                fade_ = new QGraphicsOpacityEffect(this);
                setGraphicsEffect(fade_);
            }
            fade_->setOpacity(shown_);
        } else if (fade_) {
            setGraphicsEffect(nullptr); // deletes the effect
            fade_ = nullptr;
        }
        updateGeometry();
        place();
    }
    QSize sizeHint() const override
    {
        QSize size = content_->sizeHint();
        size.setHeight(int(std::lround(size.height() * shown_)));
        return size;
    }
    QSize minimumSizeHint() const override
    {
        QSize size = content_->minimumSizeHint();
        size.setHeight(int(std::lround(size.height() * shown_)));
        return size;
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == content_ && event->type() == QEvent::LayoutRequest) {
            updateGeometry();
            place();
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    void place()
    {
        // At rest the row fills its frame as any laid-out row would; moving, it
        // keeps its ideal height and slides down by half the part not shown, so
        // it stays in sight until its last third has gone.
        if (shown_ >= 1) {
            content_->setGeometry(rect());
            return;
        }
        const int ideal = content_->sizeHint().height();
        content_->setGeometry(0, std::max(0, (ideal - height()) / 2), width(), ideal);
    }

    QWidget* content_;
    double shown_ = 1;
    QGraphicsOpacityEffect* fade_ = nullptr;
};

StageView::StageView(AppModel& model, StageSides& sides, kit::UiEnv env, QWidget* parent, OutpaintModel* outpaint)
    : QWidget(parent), model_(model), sides_(sides), env_(env),
      scene_(std::make_unique<kit::AppWaveScene>(
          model, outpaint, [&model](int deck) { return model.isAudible(deck); },
          [&sides] { return sides.fourDecks(); })),
      laneMotion_(env, [this](double eased) { applyLanes(eased); }),
      middleMotion_(env, [this](double eased) { applyMiddle(eased); })
{
    setObjectName(QStringLiteral("stage"));
    outpaint_ = outpaint;
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(14, 14, 14, 14);
    column_->setSpacing(10);
    status_ = new StatusBar(model_, env_, this);
    column_->addWidget(status_);
    lanesBlock_ = new QWidget(this);
    lanesBlock_->setObjectName(QStringLiteral("stage.lanes"));
    lanesLayout_ = new QVBoxLayout(lanesBlock_);
    lanesLayout_->setContentsMargins(0, 0, 0, 0);
    lanesLayout_->setSpacing(6);
    // The lanes block is as tall as its lanes and their 6-point gaps, never
    // taller: height the column has to spare never widens the gaps.
    lanesBlock_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    column_->addWidget(lanesBlock_);
    tourSpot(lanesBlock_, TourSpot::lanes);
    // The echo card lies over the lanes and lets every click through.
    echo_ = new ControlEchoView(model_, sides_, env_, lanesBlock_);
    lanesBlock_->installEventFilter(this);
    browser_ = new StageBrowser(model_, env_, false, this);
    browser_->setSides(&sides_);
    browser_->setOutpaint(outpaint);
    tourSpot(browser_, TourSpot::crate);
    // While a short window hides the browser, the crate the tour points at is
    // the top bar's browse key, which opens it (the browser, later in the
    // tree, wins whenever it shows).
    tourSpot(status_->browseKey(), TourSpot::crate);
    column_->addWidget(browser_, 1);
    // Where a short four-deck window hides the browser, the height it leaves
    // stays empty under the middle row: the column keeps its 10-point rhythm.
    rest_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    column_->addSpacerItem(rest_);

    connect(&sides_, &StageSides::layoutChanged, this, [this] {
        layoutLanes(0);
        rebuildMiddle();
    });
    connect(&sides_, &StageSides::sidesChanged, this, [this] {
        layoutLanes(motionTime(0.15));
        rebuildMiddle();
    });
    connect(&sides_, &StageSides::diggingChanged, this, &StageView::browsingChanged);
    connect(&model_, &AppModel::browseOpenChanged, this, &StageView::browsingChanged);
    connect(&model_.audio(), &AudioSystem::directOutsChanged, this, &StageView::rebuildMiddle);
    browsingShown_ = browsing();
    browser_->setExpanded(browsingShown_);
    browserShown_ = browserTo_ = browsingShown_ ? 260 : 150;
    if (!browsingShown_) {
        middle_ = new SlideBox(buildMiddle(), this);
        column_->insertWidget(2, middle_);
    }
    layoutLanes(0);
}

StageView::~StageView()
{
    // Nothing moves while the view comes apart.
    laneMotion_.finish();
    middleMotion_.finish();
    // The lanes' wave views read the scene: they go before it does.
    for (auto& [deck, lane] : lanes_)
        delete lane;
    lanes_.clear();
}

bool StageView::browsing() const
{
    return model_.browseOpen() || sides_.digging();
}

DeckLane* StageView::lane(int deck) const
{
    const auto it = lanes_.find(deck);
    return it == lanes_.end() ? nullptr : it->second;
}

QWidget* StageView::middleRow() const { return middle_; }

double StageView::motionTime(double seconds) const
{
    return isVisible() ? seconds : 0;
}

void StageView::browsingChanged()
{
    const bool now = browsing();
    if (now != browsingShown_) {
        browsingShown_ = now;
        browser_->setExpanded(now);
        // A change under way ends first, so no two rows are ever on screen.
        middleMotion_.finish();
        if (now) {
            leaving_ = middle_;
            middle_ = nullptr;
            // The row on its way out is no longer a place the tour can point at.
            if (leaving_)
                clearTourSpots(leaving_);
        } else {
            middle_ = new SlideBox(buildMiddle(), this);
            middle_->setShown(0);
            column_->insertWidget(2, middle_);
        }
        middleMotion_.start(motionTime(0.2));
    }
    layoutLanes(motionTime(0.2));
}

void StageView::applyMiddle(double eased)
{
    if (leaving_) {
        leaving_->setShown(1 - eased);
        if (eased >= 1) {
            delete leaving_;
            leaving_ = nullptr;
        }
    }
    if (middle_)
        middle_->setShown(eased);
}

void StageView::layoutLanes(double seconds)
{
    const bool four = sides_.fourDecks();
    const std::vector<int> order = deckOrder(four);
    const double expandedHeight = laneHeight(height(), browsing(), four);
    std::map<int, double> from;
    for (auto& [deck, lane] : lanes_) {
        if (lane->isVisibleTo(lanesBlock_))
            from[deck] = lane->height();
        lane->hide();
        lanesLayout_->removeWidget(lane);
    }
    from_.clear();
    to_.clear();
    for (int deck : order) {
        DeckLane* lane = this->lane(deck);
        if (!lane) {
            lane = new DeckLane(model_, model_.deck(deck), sides_, *scene_, env_, lanesBlock_);
            lanes_[deck] = lane;
        }
        const bool expanded = !four || isTargeted(deck, sides_.leftDeck(), sides_.rightDeck());
        to_[deck] = laneFrameHeight(expandedHeight, expanded);
        // A lane coming into view starts at its place; one on screen moves from where it is.
        const auto was = from.find(deck);
        from_[deck] = was == from.end() ? to_[deck] : was->second;
        lane->setTall(laneIsTall(expandedHeight, expanded));
        lanesLayout_->addWidget(lane);
        lane->show();
    }
    // The browser's own idea of its minimum gives way to the one moving here.
    browserFrom_ = browserShown_;
    const StageFit fit = fitColumn();
    browserTo_ = fit.browserMinimum;
    applyFit(fit);
    echo_->raise();
    laneMotion_.start(seconds);
}

MachineStrip* StageView::strip() const
{
    return middle_ ? middle_->content()->findChild<MachineStrip*>() : nullptr;
}

StageFit StageView::fitColumn()
{
    const bool four = sides_.fourDecks();
    const bool browse = browsing();
    // The lanes block at this height and at the lanes' floor.
    const auto lanesHeight = [&](double expandedHeight) {
        double total = 0;
        const std::vector<int> order = deckOrder(four);
        for (int deck : order)
            total += laneFrameHeight(expandedHeight,
                                     !four || isTargeted(deck, sides_.leftDeck(), sides_.rightDeck()));
        return total + lanesLayout_->spacing() * double(order.size() - 1);
    };
    // The height the column gives a widget: its hint within its limits.
    const auto laid = [](const QWidget* w) {
        return double(std::clamp(w->sizeHint().height(), w->minimumHeight(), w->maximumHeight()));
    };
    const double top = kStageMargin + laid(status_) + kStageSpacing;
    const double above = top + lanesHeight(laneHeight(height(), browse, four));
    const double leastAbove = top + lanesHeight(laneHeight(0, browse, four));
    double middle = 0, compactMiddle = 0;
    if (MachineStrip* machine = strip(); machine && !browse) {
        const int full = machine->heightIn(false), compact = machine->heightIn(true);
        const int now = machine->compact() ? compact : full;
        const double row = middle_->content()->sizeHint().height();
        middle = row - now + full;
        compactMiddle = row - now + compact;
    }
    return fitStage(height(), above, leastAbove, middle, compactMiddle, browse);
}

void StageView::applyFit(const StageFit& fit)
{
    if (MachineStrip* machine = strip())
        machine->setCompact(fit.compactStrip);
    // The column reads the row's height afresh: a row polished since it was
    // last measured is never squeezed below what it needs.
    if (middle_)
        middle_->updateGeometry();
    browser_->setVisible(fit.browserShown);
    const QSizePolicy::Policy rest = fit.browserShown ? QSizePolicy::Fixed : QSizePolicy::Expanding;
    if (rest_->sizePolicy().verticalPolicy() != rest) {
        rest_->changeSize(0, 0, QSizePolicy::Minimum, rest);
        column_->invalidate();
    }
    // Only the four-deck middle row may outgrow the window's floor; otherwise
    // the floor stays whatever the window was given (a still may ask for less).
    const int least = sides_.fourDecks() && !browsing() ? int(fit.leastHeight) : 0;
    if (least != leastHeight_) {
        leastHeight_ = least;
        emit leastHeightChanged();
    }
}

void StageView::applyLanes(double eased)
{
    for (const auto& [deck, to] : to_) {
        const double h = from_[deck] + (to - from_[deck]) * eased;
        lanes_[deck]->setFixedHeight(int(std::lround(h)));
    }
    browserShown_ = browserFrom_ + (browserTo_ - browserFrom_) * eased;
    browser_->setMinimumHeight(int(std::lround(browserShown_)));
}

void StageView::rebuildMiddle()
{
    // Only a row on screen is rebuilt (the deck panels follow the sides, the
    // mixer slot the direct-outs mode); while browsing there is none.
    if (browsingShown_ || !middle_)
        return;
    const double shown = middle_->shown();
    const int at = column_->indexOf(middle_);
    delete middle_;
    middle_ = new SlideBox(buildMiddle(), this);
    middle_->setShown(shown);
    column_->insertWidget(at, middle_);
    // The new row may be taller or shorter (another mixer card, four channels).
    const StageFit fit = fitColumn();
    browserTo_ = fit.browserMinimum;
    applyFit(fit);
    if (!laneMotion_.running())
        applyLanes(1);
}

QWidget* StageView::buildMiddle()
{
    auto* row = new QWidget(this);
    auto* column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    // The row is as tall as its tallest piece; the deck panels take its whole
    // height and the mixer card, at its own size, stands at its top.
    auto* panels = new QHBoxLayout;
    panels->setSpacing(10);
    panels->addWidget(new DeckPanel(model_, model_.deck(sides_.leftDeck()), env_, row, &sides_), 1);
    QWidget* mixer = model_.audio().directOuts() ? static_cast<QWidget*>(new DJMCard(model_, env_, row))
                                                 : static_cast<QWidget*>(new LiveMixer(model_, env_, row, &sides_));
    tourSpot(mixer, TourSpot::mixer);
    panels->addWidget(mixer, 0, Qt::AlignTop);
    panels->addWidget(new DeckPanel(model_, model_.deck(sides_.rightDeck()), env_, row, &sides_), 1);
    column->addLayout(panels);
    column->addWidget(new MachineStrip(model_, env_, row, outpaint_));
    return row;
}

void StageView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutLanes(0);
}

void StageView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Nothing holds the keyboard when the stage comes up.
    QTimer::singleShot(0, this, [this] {
        if (QWidget* focused = window()->focusWidget())
            focused->clearFocus();
    });
}

bool StageView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lanesBlock_ && event->type() == QEvent::Resize)
        echo_->setGeometry(lanesBlock_->rect());
    return QWidget::eventFilter(watched, event);
}

void StageView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), kit::Stage::ink());
}

} // namespace zelvo::stage
