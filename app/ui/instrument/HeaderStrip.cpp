#include "ui/instrument/HeaderStrip.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "models/AudioSystem.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Chrome.h"
#include "ui/kit/Displays.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/SettingsPopover.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StatusBadges.h"

#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <functional>

namespace zelvo {

namespace HeaderFace {

namespace {
double finiteOr0(double value) { return std::isfinite(value) ? value : 0.0; }
} // namespace

QString deviceName(const Inputs& inputs)
{
    if (inputs.error)
        return *inputs.error;
    if (inputs.output)
        return inputs.output->name + QLatin1Char(' ') + inputs.output->transport;
    return QStringLiteral("NO DEVICE");
}

std::vector<Readout> readouts(const Inputs& in, const QDateTime& now)
{
    const double rate = in.output ? finiteOr0(in.output->sampleRate) : 48000.0;
    const double latency = in.output ? finiteOr0(in.output->latency) : 0.0;
    // The colour follows the unrounded percentage: 70.04 reads "70" in red.
    const double dsp = in.output ? finiteOr0(in.output->dspLoad) * 100 : 0.0;
    const QColor& bone = kit::Palette::bone();
    return {
        {deviceName(in), 22, kit::Palette::glow(), false},
        {QString::asprintf("%.1fKHZ", rate / 1000), 7, bone, false},
        {QStringLiteral("BUF ") + QString::number(in.bufferFrames), 8, bone, false},
        {QString::asprintf("%.1fMS", latency * 1000), 6, bone, false},
        {QString::asprintf("DSP %02.0f%%", dsp), 7, dsp > 70 ? kit::Palette::red() : bone, false},
        {now.toLocalTime().toString(QStringLiteral("HH:mm")), 5, kit::Palette::glow(), true},
    };
}

QString layoutLine(bool fourDecks)
{
    return fourDecks ? QStringLiteral("four deck performance system") : QStringLiteral("dual performance deck");
}

Inputs inputsOf(const AudioSystem& audio)
{
    Inputs in;
    in.error = audio.errorText();
    in.bufferFrames = audio.bufferFrames();
    if (const std::shared_ptr<AudioIO>& io = audio.io()) {
        Output out;
        out.name = QString::fromStdString(io->device().name);
        out.transport = QString::fromStdString(io->device().transport);
        out.sampleRate = io->sampleRate();
        out.latency = io->latency();
        // An output opened on a stand-in renderer has no engine to read.
        if (const auto* engine = dynamic_cast<const MixEngine*>(&io->renderer()))
            out.dspLoad = engine->state()->dspLoad.load();
        in.output = out;
    }
    return in;
}

} // namespace HeaderFace

namespace {

constexpr double kPitch = 1.3;
constexpr double kReadoutSpacing = 14;
constexpr double kPadX = 10;
constexpr double kPadY = 6;

kit::DotMatrix::Look lookOf(const HeaderFace::Readout& r)
{
    kit::DotMatrix::Look look;
    look.text = r.text;
    look.pitch = kPitch;
    look.columns = r.columns;
    look.color = r.colour;
    look.dim = r.dim;
    return look;
}

// The glass's content size: the read-outs' widths are fixed by their columns.
QSizeF readoutsSize()
{
    double width = 0, height = 0;
    const std::vector<HeaderFace::Readout> sample = HeaderFace::readouts({}, QDateTime());
    for (const HeaderFace::Readout& r : sample) {
        const QSizeF s = kit::DotMatrix::size(lookOf(r));
        width += s.width();
        height = std::max(height, s.height());
    }
    width += kReadoutSpacing * double(sample.size() - 1);
    return QSizeF(width + 2 * kPadX, height + 2 * kPadY);
}

// The two caption lines beside the wordmark.
class Caption final : public kit::FaceWidget {
public:
    Caption(const kit::UiEnv& env, QWidget* parent) : FaceWidget(env, parent) { setFourDecks(false); }
    void setFourDecks(bool four)
    {
        first_ = kit::silkText(HeaderFace::layoutLine(four), 7.5, kit::withAlpha(kit::Palette::bone(), 0.6), 2);
        second_ = kit::silkText(QStringLiteral("model qv-2 \u00b7 larkmoor, ostreva"), 7, kit::Palette::ash(), 2);
        text_ = HeaderFace::layoutLine(four);
        resizeToDesign();
        update();
    }
    QString text() const { return text_; }
    QSizeF designSize() const override
    {
        return QSizeF(std::max(first_.size().width(), second_.size().width()),
                      first_.size().height() + 1 + second_.size().height());
    }
    void paintFace(kit::Canvas& canvas) override
    {
        first_.draw(canvas, QPointF(0, 0));
        second_.draw(canvas, QPointF(0, first_.size().height() + 1));
    }

private:
    kit::TextLine first_, second_;
    QString text_;
};

// The settings key: the sliders symbol on a raised rounded key; a click
// toggles the settings popover.
class SettingsKey final : public kit::FaceWidget {
public:
    SettingsKey(AppModel& model, const kit::UiEnv& env, QWidget* parent) : FaceWidget(env, parent), model_(model)
    {
        setObjectName(QStringLiteral("instrument.settingsKey"));
        setCursor(Qt::PointingHandCursor);
        resizeToDesign();
    }
    QSizeF designSize() const override { return QSizeF(30, 24); }
    void paintFace(kit::Canvas& canvas) override
    {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0, 0, 30, 24), 4, 4);
        canvas.fillPath(shape, kit::Palette::raised());
        QPainterPath border;
        border.addRoundedRect(QRectF(0.3, 0.3, 29.4, 23.4), 3.7, 3.7);
        canvas.strokePath(border, QPen(kit::Palette::edge(), 0.6));
        stage::paintSymbol(canvas, QStringLiteral("slider.horizontal.3"), QRectF(9, 6, 12, 12), kit::Palette::bone());
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            model_.setShowSettings(!model_.showSettings());
    }

private:
    AppModel& model_;
};

} // namespace

HeaderStrip::HeaderStrip(AppModel& model, stage::StageSides* sides, const kit::UiEnv& env, double width,
                         QWidget* parent)
    : DesignBox(env, QSizeF(width, kHeight), parent), model_(model), sides_(sides)
{
    setObjectName(QStringLiteral("instrument.header"));
    wordmark_ = new kit::Wordmark(env, 24, this);
    auto* caption = new Caption(env, this);
    caption_ = caption;
    badge_ = new ControllerBadge(model_, env, this);

    const QSizeF glass = readoutsSize();
    glass_ = new kit::VFDGlass(env, glass, 3, this);
    glass_->setObjectName(QStringLiteral("instrument.display"));
    AppModel* app = &model_;
    const Scheduler* scheduler = env.scheduler;
    readouts_ = new kit::LiveCanvas(
        env, glass, 3,
        [app, scheduler](kit::Canvas& canvas, QSizeF, double) {
            const QDateTime now = scheduler ? scheduler->now() : QDateTime::currentDateTime();
            double x = kPadX;
            for (const HeaderFace::Readout& r : HeaderFace::readouts(HeaderFace::inputsOf(app->audio()), now)) {
                const kit::DotMatrix::Look look = lookOf(r);
                canvas.save();
                canvas.translate(QPointF(x, kPadY));
                kit::DotMatrix::draw(canvas, look);
                canvas.restore();
                x += kit::DotMatrix::size(look).width() + kReadoutSpacing;
            }
        },
        glass_);
    readouts_->setObjectName(QStringLiteral("instrument.readouts"));
    glass_->placeContent(readouts_, QRectF(QPointF(0, 0), glass));

    lamp_ = new BrainLamp(model_, env, this);
    key_ = new SettingsKey(model_, env, this);
    // The settings popover opens under this key while `showSettings` is on.
    anchor_ = new SettingsAnchor(model_, env, key_);

    // What the display reads besides the clock: a change repaints at once.
    AudioSystem* audio = &model_.audio();
    for (auto signal : {&AudioSystem::ioChanged, &AudioSystem::errorTextChanged, &AudioSystem::bufferFramesChanged})
        connect(audio, signal, readouts_, [this] { readouts_->refresh(); });
    if (sides_) {
        const auto follow = [this, caption] {
            caption->setFourDecks(sides_->fourDecks());
            relayout();
        };
        connect(sides_, &stage::StageSides::layoutChanged, this, follow);
        follow();
    }
    relayout();
}

void HeaderStrip::setWidth(double width)
{
    if (width == designSize().width())
        return;
    setDesignSize(QSizeF(width, kHeight));
    relayout();
}

void HeaderStrip::scaleChanged()
{
    DesignBox::scaleChanged();
    relayout();
}

QString HeaderStrip::layoutText() const { return static_cast<Caption*>(caption_)->text(); }

void HeaderStrip::relayout()
{
    const double s = scale();
    const double h = designSize().height();
    const auto put = [s, h](QWidget* widget, QSizeF size, double x) {
        widget->move(QPoint(int(std::lround(x * s)), int(std::lround((h - size.height()) / 2 * s))));
    };
    const auto sizeOf = [](QWidget* w) { return static_cast<kit::FaceWidget*>(w)->designSize(); };
    // The leading spacer made room for window buttons the window manager's
    // frame does not have: it is 0 wide.
    double x = 0;
    for (QWidget* w : {wordmark_, static_cast<QWidget*>(caption_), static_cast<QWidget*>(badge_)}) {
        put(w, sizeOf(w), x);
        x += sizeOf(w).width() + kSpacing;
    }
    double right = designSize().width();
    for (QWidget* w : {static_cast<QWidget*>(key_), static_cast<QWidget*>(lamp_), static_cast<QWidget*>(glass_)}) {
        right -= sizeOf(w).width();
        put(w, sizeOf(w), right);
        right -= kSpacing;
        // The lamp's glow may reach into the spacing.
        if (w == lamp_)
            right += BrainLamp::kGlowLead;
    }
}

} // namespace zelvo
