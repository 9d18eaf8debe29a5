#include "ui/stage/StageView.h"

#include "App/AppModel.h"
#include "models/AudioSystem.h"
#include "ui/kit/Palette.h"
#include "ui/kit/waves/AppWaveScene.h"
#include "ui/stage/ControlEchoView.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/TourSpots.h"
#include "ui/stage/StagePanels.h"
#include "ui/stage/StagePresenters.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace zelvo::stage {

StageView::StageView(AppModel& model, StageSides& sides, kit::UiEnv env, QWidget* parent, OutpaintModel* outpaint)
    : QWidget(parent), model_(model), sides_(sides), env_(env),
      scene_(std::make_unique<kit::AppWaveScene>(
          model, outpaint, [&model](int deck) { return model.isAudible(deck); },
          [&sides] { return sides.fourDecks(); }))
{
    setObjectName(QStringLiteral("stage"));
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
    column_->addWidget(lanesBlock_);
    tourSpot(lanesBlock_, TourSpot::lanes);
    // The echo card lies over the lanes and lets every click through.
    echo_ = new ControlEchoView(model_, sides_, env_, lanesBlock_);
    lanesBlock_->installEventFilter(this);
    browser_ = new StageBrowser(model_, env_, false, this);
    browser_->setSides(&sides_);
    browser_->setOutpaint(outpaint);
    tourSpot(browser_, TourSpot::crate);
    column_->addWidget(browser_, 1);

    connect(&sides_, &StageSides::layoutChanged, this, [this] {
        layoutLanes();
        rebuildMiddle();
    });
    connect(&sides_, &StageSides::sidesChanged, this, [this] {
        layoutLanes();
        rebuildMiddle();
    });
    connect(&sides_, &StageSides::diggingChanged, this, &StageView::browsingChanged);
    connect(&model_, &AppModel::browseOpenChanged, this, &StageView::browsingChanged);
    connect(&model_.audio(), &AudioSystem::directOutsChanged, this, &StageView::rebuildMiddle);
    browsingChanged();
}

StageView::~StageView()
{
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

void StageView::browsingChanged()
{
    browser_->setExpanded(browsing());
    rebuildMiddle();
    layoutLanes();
}

void StageView::layoutLanes()
{
    const bool four = sides_.fourDecks();
    const std::vector<int> order = deckOrder(four);
    const double expandedHeight = laneHeight(height(), browsing(), four);
    for (auto& [deck, lane] : lanes_) {
        lane->hide();
        lanesLayout_->removeWidget(lane);
    }
    for (int deck : order) {
        DeckLane* lane = this->lane(deck);
        if (!lane) {
            lane = new DeckLane(model_, model_.deck(deck), sides_, *scene_, env_, lanesBlock_);
            lanes_[deck] = lane;
        }
        const bool expanded = !four || isTargeted(deck, sides_.leftDeck(), sides_.rightDeck());
        lane->setFixedHeight(int(laneFrameHeight(expandedHeight, expanded)));
        lane->setTall(laneIsTall(expandedHeight, expanded));
        lanesLayout_->addWidget(lane);
        lane->show();
    }
    echo_->raise();
}

void StageView::rebuildMiddle()
{
    delete middle_;
    middle_ = nullptr;
    if (browsing())
        return;
    middle_ = new QWidget(this);
    middle_->setObjectName(QStringLiteral("stage.middle"));
    auto* column = new QVBoxLayout(middle_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->setAlignment(Qt::AlignTop);
    row->addWidget(new DeckPanel(model_, model_.deck(sides_.leftDeck()), env_, middle_), 1);
    QWidget* mixer = model_.audio().directOuts() ? static_cast<QWidget*>(new DJMCard(model_, env_, middle_))
                                                 : static_cast<QWidget*>(new LiveMixer(model_, env_, middle_));
    tourSpot(mixer, TourSpot::mixer);
    row->addWidget(mixer);
    row->addWidget(new DeckPanel(model_, model_.deck(sides_.rightDeck()), env_, middle_), 1);
    column->addLayout(row);
    column->addWidget(new MachineStrip(model_, env_, middle_));
    column_->insertWidget(2, middle_);
}

void StageView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutLanes();
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
