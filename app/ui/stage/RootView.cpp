#include "ui/stage/RootView.h"

#include "state/AppModel.h"
#include "ui/instrument/Instrument.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StagePresenters.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include <QPainter>
#include <QStackedLayout>

#include <algorithm>
#include <cmath>

namespace zelvo {
namespace {

// The faceplate's backdrop; the instrument is placed inside by RootView.
class FaceplateBackdrop final : public QWidget {
public:
    explicit FaceplateBackdrop(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("root.faceplate")); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), kit::Palette::void_()); }
};

} // namespace

RootView::RootView(AppModel& model, kit::UiEnv env, QWidget* parent, OutpaintModel* outpaint)
    : QWidget(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("root"));
    sides_ = new stage::StageSides(this);
    unitScale_ = new kit::FaceScaleSource(1.0, this);
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stage_ = new stage::StageView(model_, *sides_, env_.withScale(unitScale_), this, outpaint);
    faceplate_ = new FaceplateBackdrop(this);
    instrument_ = new Instrument(model_, env_, faceplate_, sides_, outpaint);
    stack_->addWidget(stage_);
    stack_->addWidget(faceplate_);
    showScreen();
    connect(&model_, &AppModel::classicFaceplateChanged, this, &RootView::showScreen);
    connect(stage_, &stage::StageView::leastHeightChanged, this, &RootView::followLeastHeight);
}

void RootView::followLeastHeight()
{
    // A minimum someone else set since is the new floor.
    if (minimumHeight() != raised_)
        floor_ = minimumHeight();
    const bool stage = !model_.classicFaceplate();
    raised_ = std::max(floor_, stage ? stage_->leastHeight() : 0);
    if (raised_ != minimumHeight())
        setMinimumHeight(raised_);
}

RootView::~RootView() = default;

void RootView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), kit::Stage::ink());
}

void RootView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeFaceplate();
    // A floor set from outside since takes effect with the next size.
    followLeastHeight();
}

void RootView::showScreen()
{
    stack_->setCurrentWidget(model_.classicFaceplate() ? faceplate_ : static_cast<QWidget*>(stage_));
    placeFaceplate();
    if (overlay_)
        overlay_->raise();
    followLeastHeight();
}

void RootView::setOverlay(QWidget* overlay)
{
    overlay_ = overlay;
    if (overlay_)
        overlay_->raise();
}

void RootView::placeFaceplate()
{
    const stage::FaceplateFit fit = stage::faceplateFit(width(), height());
    if (!(fit.scale > 0)) {
        instrument_->setGeometry(0, 0, 0, 0);
        return;
    }
    if (env_.faceScale && !env_.snapshotMode)
        env_.faceScale->setValue(fit.scale);
    const double w = fit.scale * fit.width;
    const double h = fit.scale * fit.height;
    instrument_->setGeometry(int(std::lround((width() - w) / 2)), int(std::lround((height() - h) / 2)),
                             int(std::lround(w)), int(std::lround(h)));
}

} // namespace zelvo
