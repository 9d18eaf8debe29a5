#include "ui/stage/PromptStrip.h"

#include "state/AppModel.h"
#include "generation/OutpaintModel.h"
#include "ui/instrument/BrainModule.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/StageField.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

#include <climits>

namespace zelvo::stage {
namespace {

QFont chipFont()
{
    return kit::monoFont(10);
}

QFont valueFont()
{
    QFont font = kit::monoFont(11);
    font.setBold(true);
    return font;
}

QPainterPath rounded(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A preset chip: its label in lower case on a capsule, bone when selected.
class PresetChip final : public kit::FaceWidget {
public:
    PresetChip(kit::UiEnv env, const QString& label, std::function<bool()> selected, std::function<void()> tap,
               QWidget* parent)
        : FaceWidget(env, parent), text_(label.toLower()), selected_(std::move(selected)), tap_(std::move(tap))
    {
        setObjectName(QStringLiteral("prompt.chip.") + label);
        setCursor(Qt::PointingHandCursor);
        resizeToDesign();
    }
    QSizeF designSize() const override
    {
        return {std::ceil(10 + kit::textWidth(chipFont(), text_) + 10), std::ceil(5 + QFontMetricsF(chipFont()).height() + 5)};
    }
    void paintFace(kit::Canvas& canvas) override
    {
        const bool on = selected_();
        const QRectF rect(QPointF(0, 0), designSize());
        canvas.fillPath(rounded(rect, rect.height() / 2), on ? kit::Stage::bone() : kit::Stage::inkHigh());
        canvas.drawText(rect, text_, chipFont(), on ? kit::Stage::ink() : kit::Stage::bone(),
                        Qt::AlignCenter | Qt::TextSingleLine);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) {
            down_ = true;
            event->accept();
            return;
        }
        FaceWidget::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && down_) {
            down_ = false;
            event->accept();
            if (rect().contains(event->position().toPoint()))
                tap_();
            return;
        }
        FaceWidget::mouseReleaseEvent(event);
    }

private:
    QString text_;
    std::function<bool()> selected_;
    std::function<void()> tap_;
    bool down_ = false;
};

// The prompt field's box: an ink rounded rectangle with a line border.
class PromptBox final : public QWidget {
public:
    explicit PromptBox(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("prompt.box")); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        kit::PainterCanvas canvas(painter);
        const QRectF rect(this->rect());
        canvas.fillPath(rounded(rect, 7), kit::Stage::ink());
        canvas.strokePath(rounded(rect.adjusted(0.5, 0.5, -0.5, -0.5), 6.5), QPen(kit::Stage::line(), 1));
    }
};

int toInt(std::int64_t value)
{
    return int(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

} // namespace

PromptStrip::Stepper::Stepper(kit::UiEnv env, const QString& title, kit::Binding<int> value, std::vector<int> options,
                              const QString& unit, QWidget* parent)
    : FaceWidget(env, parent), title_(title), value_(std::move(value)), options_(std::move(options)), unit_(unit)
{
    setObjectName(QStringLiteral("prompt.stepper.") + title);
    setToolTip(QStringLiteral("tap to change"));
    setCursor(Qt::PointingHandCursor);
    shown_ = value_.get();
    resizeToDesign();
}

QSizeF PromptStrip::Stepper::designSize() const
{
    const kit::TextLine title = kit::stageText(title_, 8, kit::Stage::ash());
    const QString value = stepperText(shown_, unit_);
    return {std::ceil(title.size().width() + 5 + kit::textWidth(valueFont(), value)),
            std::ceil(std::max(title.size().height(), QFontMetricsF(valueFont()).height()))};
}

void PromptStrip::Stepper::refresh()
{
    const int value = value_.get();
    if (value == shown_)
        return;
    shown_ = value;
    resizeToDesign();
    update();
}

void PromptStrip::Stepper::paintFace(kit::Canvas& canvas)
{
    const QSizeF size = designSize();
    const kit::TextLine title = kit::stageText(title_, 8, kit::Stage::ash());
    const double titleWidth = title.size().width();
    canvas.drawText(QRectF(0, 0, titleWidth, size.height()), title.text, title.font, title.color,
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    canvas.drawText(QRectF(titleWidth + 5, 0, size.width() - titleWidth - 5, size.height()),
                    stepperText(shown_, unit_), valueFont(), kit::Stage::bone(),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
}

void PromptStrip::Stepper::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        down_ = true;
        event->accept();
        return;
    }
    FaceWidget::mousePressEvent(event);
}

void PromptStrip::Stepper::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !down_) {
        FaceWidget::mouseReleaseEvent(event);
        return;
    }
    down_ = false;
    event->accept();
    if (!rect().contains(event->position().toPoint()) || options_.empty())
        return;
    value_.set(nextOption(value_.get(), options_));
    refresh();
}

PromptStrip::PromptStrip(AppModel& model, OutpaintModel* outpaint, kit::UiEnv env, bool compact, QWidget* parent)
    : QWidget(parent), model_(model), outpaint_(outpaint), env_(env)
{
    setObjectName(QStringLiteral("prompt"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);

    // Presets: one chip each, in a row that scrolls without bars.
    presets_ = new QScrollArea(this);
    presets_->setObjectName(QStringLiteral("prompt.chips"));
    presets_->setFrameShape(QFrame::NoFrame);
    presets_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    presets_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    presets_->setWidgetResizable(false);
    presets_->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* chipRow = new QWidget;
    chipRow->setStyleSheet(QStringLiteral("background: transparent;"));
    auto* chips = new QHBoxLayout(chipRow);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(5);
    for (const BrainModule::Preset& preset : BrainModule::presets()) {
        const QString prompt = preset.prompt;
        auto* chip = new PresetChip(
            env_, preset.label, [this, prompt] { return settings().prompt == prompt; },
            [this, prompt] {
                ForkSettings next = settings();
                next.prompt = prompt;
                setSettings(next);
            },
            chipRow);
        chips->addWidget(chip, 0, Qt::AlignVCenter);
        chips_.push_back(chip);
    }
    chipRow->adjustSize();
    presets_->setWidget(chipRow);
    presets_->setFixedHeight(chipRow->sizeHint().height());
    column->addWidget(presets_);

    auto* promptRow = new QHBoxLayout;
    promptRow->setSpacing(14);
    auto* box = new PromptBox(this);
    auto* boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(10, 6, 10, 6);
    boxRow->setSpacing(8);
    boxRow->addWidget(new kit::StageLabel(env_, QStringLiteral("prompt"), 8, kit::Stage::ash(), box), 0,
                      Qt::AlignVCenter);
    field_ = new StageField(
        env_, [this] { return settings().prompt; },
        [this](const QString& text) {
            ForkSettings next = settings();
            next.prompt = text;
            setSettings(next);
        },
        QStringLiteral("where should it go"), 11, box);
    field_->setObjectName(QStringLiteral("prompt.field"));
    boxRow->addWidget(field_, 1);
    promptRow->addWidget(box, 1);

    auto* stepperRow = compact ? promptRow : new QHBoxLayout;
    stepperRow->setSpacing(14);
    for (const StepperKind& kind : promptSteppers()) {
        const auto field = kind.field;
        kit::Binding<int> value{[this, field] { return toInt(settings().*field); },
                                [this, field](int v) {
                                    ForkSettings next = settings();
                                    next.*field = v;
                                    setSettings(next);
                                }};
        auto* stepper = new Stepper(env_, kind.title, value, kind.options, kind.unit, this);
        stepperRow->addWidget(stepper, 0, Qt::AlignVCenter);
        steppers_.push_back(stepper);
    }
    column->addLayout(promptRow);
    if (!compact) {
        stepperRow->addStretch(1);
        column->addLayout(stepperRow);
    }

    if (outpaint_)
        connect(outpaint_, &OutpaintModel::settingsChanged, this, &PromptStrip::refresh);
    refresh();
}

ForkSettings PromptStrip::settings() const
{
    return outpaint_ ? outpaint_->settings() : model_.outpaint().settings();
}

void PromptStrip::setSettings(const ForkSettings& settings)
{
    if (outpaint_)
        outpaint_->setSettings(settings);
    else
        model_.outpaint().setSettings(settings);
    // Without a change signal of its own the link's settings are read back here.
    if (!outpaint_)
        refresh();
}

void PromptStrip::refresh()
{
    for (kit::FaceWidget* chip : chips_)
        chip->update();
    field_->refresh();
    for (Stepper* stepper : steppers_)
        stepper->refresh();
}

} // namespace zelvo::stage
