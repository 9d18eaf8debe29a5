#include "ui/stage/MachineStrip.h"

#include "state/AppModel.h"
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

#include <algorithm>

namespace zelvo {

MachineStrip::MachineStrip(AppModel& model, kit::UiEnv env, QWidget* parent, OutpaintModel* outpaint)
    : GhostHost(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("machineStrip"));
    auto* row = new QHBoxLayout(this);
    row_ = row;
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(14);
    key_ = new stage::BigAIKey(model_, env_, true, this);
    tourSpot(key_, TourSpot::aiKey);
    row->addWidget(key_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column_ = column;
    column->setSpacing(7);
    auto* modelRow = new QHBoxLayout;
    modelRow_ = modelRow;
    modelRow->setSpacing(10);
    label_ = new kit::StageLabel(env_, QStringLiteral("zelvo-0"), 9, kit::withAlpha(kit::Stage::bone(), 0.8), this);
    modelRow->addWidget(label_, 0, Qt::AlignVCenter);
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

void MachineStrip::setCompact(bool compact)
{
    if (compact_ == compact)
        return;
    compact_ = compact;
    if (compact) {
        column_->removeWidget(flow_);
        modelRow_->addWidget(flow_, 0, Qt::AlignVCenter);
        row_->setContentsMargins(10, 6, 10, 6);
        column_->setSpacing(5);
    } else {
        modelRow_->removeWidget(flow_);
        column_->addWidget(flow_);
        row_->setContentsMargins(10, 10, 10, 10);
        column_->setSpacing(7);
    }
    row_->invalidate();
    updateGeometry();
}

int MachineStrip::heightIn(bool compact) const
{
    // Read from the parts' own heights, so asking changes nothing on screen.
    const int model = std::max({label_->sizeHint().height(), modelLine_->sizeHint().height(),
                                takes_->sizeHint().height()});
    const int flow = flow_->sizeHint().height(), prompt = prompt_->sizeHint().height();
    const int column = compact ? std::max(model, flow) + 5 + prompt : model + 7 + prompt + 7 + flow;
    return std::max(key_->sizeHint().height(), column) + (compact ? 12 : 20);
}

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
