#include "ui/instrument/Instrument.h"

#include "state/AppModel.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/BrowserView.h"
#include "ui/instrument/DeckSelectTabs.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FourChannelMixer.h"
#include "ui/instrument/HeaderStrip.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/instrument/ZoomKeys.h"
#include "ui/kit/Chrome.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/waves/AppWaveScene.h"
#include "ui/kit/waves/FaceplateWaves.h"
#include "ui/stage/StageSides.h"

#include <QPainter>

#include <cmath>

namespace zelvo {

namespace {

QPoint pixelPoint(QPointF design, double scale)
{
    return QPoint(int(std::lround(design.x() * scale)), int(std::lround(design.y() * scale)));
}

} // namespace

Instrument::Instrument(AppModel& model, kit::UiEnv env, QWidget* parent, stage::StageSides* sides,
                       OutpaintModel* outpaint)
    : QWidget(parent), model_(model), env_(env), sides_(sides), outpaint_(outpaint)
{
    setObjectName(QStringLiteral("instrument"));
    stage::StageSides* s = sides_;
    scene_ = std::make_unique<kit::AppWaveScene>(
        model_, outpaint_, [&model](int deck) { return model.isAudible(deck); },
        [s] { return s && s->fourDecks(); });

    // Built back to front: cheeks and plate, the modules, then the screws.
    const QSizeF design(1600, 1080);
    leftCheek_ = new kit::WalnutCheek(env_, QSizeF(FaceLayout::kCheek, design.height()), FaceLayout::kLeftSeed, this);
    rightCheek_ = new kit::WalnutCheek(env_, QSizeF(FaceLayout::kCheek, design.height()), FaceLayout::kRightSeed, this);
    leftCheek_->setObjectName(QStringLiteral("instrument.leftCheek"));
    rightCheek_->setObjectName(QStringLiteral("instrument.rightCheek"));
    plate_ = new kit::Faceplate(env_, design, this);
    plate_->setObjectName(QStringLiteral("instrument.plate"));

    header_ = new HeaderStrip(model_, sides_, env_, 1492, this);
    waves_ = new kit::StackedWaveforms(*scene_, env_, QSizeF(1440, FaceLayout::kWaveRow), this);
    waves_->setObjectName(QStringLiteral("instrument.waves"));
    phaseLabel_ = new kit::SilkLabel(env_, QStringLiteral("phase"), 7, kit::Palette::ash(), 1.1, this);
    phase_ = new kit::PhaseMeter(*scene_, env_, QSizeF(FaceLayout::kPhaseWidth, 80), this);
    phase_->setObjectName(QStringLiteral("instrument.phase"));
    zoom_ = new ZoomKeys(model_, env_, this);

    browser_ = new BrowserView(model_, env_, QSizeF(600, 300), this);
    static_cast<BrowserView*>(browser_)->setOutpaint(outpaint_);
    perform_ = new PerformModule(model_, env_, QSizeF(PerformModule::kWidth, 300), this);
    brain_ = new BrainModule(model_, env_, QSizeF(BrainModule::kWidth, 300), this);
    static_cast<BrainModule*>(brain_)->setOutpaint(outpaint_);

    for (std::size_t i = 0; i < screws_.size(); ++i) {
        screws_[i] = new kit::Screw(env_, FaceLayout::kScrew, FaceLayout::kScrewAngles[i], this);
        screws_[i]->setObjectName(QStringLiteral("instrument.screw%1").arg(i + 1));
    }

    if (sides_) {
        connect(sides_, &stage::StageSides::layoutChanged, this, &Instrument::relayout);
        connect(sides_, &stage::StageSides::sidesChanged, this, &Instrument::relayout);
    }
    if (env_.faceScale)
        connect(env_.faceScale, &kit::FaceScaleSource::changed, this, &Instrument::relayout);
    relayout();
}

Instrument::~Instrument() = default;

QSizeF Instrument::designSize() const
{
    const double s = env_.scale();
    return s > 0 ? QSizeF(width() / s, height() / s) : QSizeF();
}

FaceLayout::Input Instrument::input() const
{
    FaceLayout::Input in;
    in.design = designSize();
    in.fourDecks = sides_ && sides_->fourDecks();
    in.leftDeck = sides_ ? sides_->leftDeck() : 0;
    in.rightDeck = sides_ ? sides_->rightDeck() : 1;
    in.phaseLabel = phaseLabel_->designSize();
    in.zoomKeys = zoom_->designSize();
    in.tabs = QSizeF(DeckSelectTabs::kWidth, DeckSelectTabs::kHeight);
    in.deckHeight = left_ ? left_->idealHeight() : 0;
    in.mixerHeight = mixer_ ? static_cast<MixerPanel*>(mixer_)->idealHeight() : 0;
    in.mixerWidth = in.fourDecks ? FourChannelMixer::kWidth : MixerView::kWidth;
    in.performWidth = PerformModule::kWidth;
    in.brainWidth = BrainModule::kWidth;
    return in;
}

void Instrument::buildDeckRow()
{
    const bool four = sides_ && sides_->fourDecks();
    const auto [leftDeck, rightDeck] = FaceLayout::shownDecks(input());
    if (left_ && four == builtFour_ && leftDeck == builtLeft_ && rightDeck == builtRight_)
        return;
    delete left_;
    delete right_;
    delete mixer_;
    delete leftTabs_;
    delete rightTabs_;
    leftTabs_ = rightTabs_ = nullptr;
    left_ = new DeckView(model_, model_.deck(leftDeck), false, env_, this);
    right_ = new DeckView(model_, model_.deck(rightDeck), true, env_, this);
    const double mixerWidth = four ? FourChannelMixer::kWidth : MixerView::kWidth;
    if (four) {
        mixer_ = new FourChannelMixer(model_, env_, QSizeF(mixerWidth, left_->idealHeight()), this, sides_);
        leftTabs_ = new DeckSelectTabs(model_, 0, env_, this, sides_);
        rightTabs_ = new DeckSelectTabs(model_, 1, env_, this, sides_);
    } else {
        mixer_ = new MixerView(model_, env_, QSizeF(mixerWidth, left_->idealHeight()), this);
    }
    // The deck row sits on the plate, under the screws.
    for (QWidget* w : {static_cast<QWidget*>(left_), static_cast<QWidget*>(right_), static_cast<QWidget*>(mixer_)})
        w->stackUnder(screws_[0]);
    for (QWidget* w : {leftTabs_, rightTabs_})
        if (w)
            w->stackUnder(screws_[0]);
    for (QWidget* w : {static_cast<QWidget*>(left_), static_cast<QWidget*>(right_), static_cast<QWidget*>(mixer_),
                       static_cast<QWidget*>(leftTabs_), static_cast<QWidget*>(rightTabs_)})
        if (w)
            w->show();
    builtFour_ = four;
    builtLeft_ = leftDeck;
    builtRight_ = rightDeck;
}

void Instrument::relayout()
{
    const double s = env_.scale();
    if (!(s > 0))
        return;
    // The deck row's views first: the rows take their heights from them.
    buildDeckRow();
    rows_ = FaceLayout::rows(input());

    leftCheek_->setDesignSize(rows_.leftCheek.size());
    rightCheek_->setDesignSize(rows_.rightCheek.size());
    plate_->setDesignSize(rows_.plate.size());
    header_->setWidth(rows_.header.width());
    waves_->setGlassSize(rows_.waves.size());
    waves_->canvas()->setDesignSize(rows_.waves.size());
    phase_->setDesignSize(rows_.phase.size());
    left_->setDesignSize(rows_.left.size());
    right_->setDesignSize(rows_.right.size());
    mixer_->setDesignSize(rows_.mixer.size());
    browser_->setDesignSize(rows_.browser.size());
    perform_->setDesignSize(rows_.perform.size());
    brain_->setDesignSize(rows_.brain.size());

    const std::pair<QWidget*, QRectF> placed[] = {
        {leftCheek_, rows_.leftCheek}, {rightCheek_, rows_.rightCheek}, {plate_, rows_.plate},
        {header_, rows_.header},       {waves_, rows_.waves},           {phaseLabel_, rows_.phaseLabel},
        {phase_, rows_.phase},         {zoom_, rows_.zoom},             {left_, rows_.left},
        {mixer_, rows_.mixer},         {right_, rows_.right},           {browser_, rows_.browser},
        {perform_, rows_.perform},     {brain_, rows_.brain},
    };
    for (const auto& [widget, rect] : placed)
        widget->move(pixelPoint(rect.topLeft(), s));
    if (leftTabs_ && rows_.leftTabs)
        leftTabs_->move(pixelPoint(rows_.leftTabs->topLeft(), s));
    if (rightTabs_ && rows_.rightTabs)
        rightTabs_->move(pixelPoint(rows_.rightTabs->topLeft(), s));
    for (std::size_t i = 0; i < screws_.size(); ++i)
        screws_[i]->move(pixelPoint(rows_.screws[i].topLeft(), s));
}

void Instrument::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), kit::Palette::ink());
}

void Instrument::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    relayout();
}

} // namespace zelvo
