#include "ui/stage/MachineStrip.h"

#include "App/AppModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/BigAIKey.h"
#include "ui/stage/FlowControl.h"
#include "ui/stage/PromptStrip.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/TakesControl.h"
#include "ui/stage/TextLineView.h"
#include "ui/stage/TourSpots.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace zelvo {

MachineStrip::MachineStrip(AppModel& model, kit::UiEnv env, QWidget* parent, OutpaintModel* outpaint)
    : GhostHost(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("machineStrip"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(14);
    key_ = new stage::BigAIKey(model_, env_, true, this);
    tourSpot(key_, TourSpot::aiKey);
    row->addWidget(key_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(7);
    auto* modelRow = new QHBoxLayout;
    modelRow->setSpacing(10);
    modelRow->addWidget(new kit::StageLabel(env_, QStringLiteral("zelvo-0"), 9,
                                            kit::withAlpha(kit::Stage::bone(), 0.8), this),
                        0, Qt::AlignVCenter);
    const kit::TextLine line = kit::stageText(QString(), 8, kit::Stage::ash());
    modelLine_ = new stage::TextLineView(line.font, true, this);
    modelLine_->setObjectName(QStringLiteral("machine.modelLine"));
    modelRow->addWidget(modelLine_, 1, Qt::AlignVCenter);
    takes_ = new stage::TakesControl(model_, outpaint, env_, this);
    modelRow->addWidget(takes_, 0, Qt::AlignVCenter);
    column->addLayout(modelRow);
    prompt_ = new stage::PromptStrip(model_, outpaint, env_, true, this);
    column->addWidget(prompt_);
    flow_ = new stage::FlowControl(model_, env_, this);
    tourSpot(flow_, TourSpot::flow);
    column->addWidget(flow_);
    row->addLayout(column, 1);

    // The model line follows the server's status, which no signal announces.
    connect(&model_, &AppModel::ticked, this, &MachineStrip::refresh);
    refresh();
}

MachineStrip::~MachineStrip() = default;

void MachineStrip::refresh()
{
    // A stage label shows its text in upper case.
    modelLine_->setLine(model_.modelLine().toUpper(), kit::Stage::ash());
}

void MachineStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    stage::paintStagePanel(canvas, QRectF(rect()), false);
    paintGhosts(painter);
}

} // namespace zelvo
