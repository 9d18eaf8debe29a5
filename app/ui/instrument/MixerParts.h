#pragma once
// The pieces both faceplate mixers are built from: the round lamp key, the
// headphone and record column, the browse knob, the beat-effect section (two
// sizes), the channel strips (full and compact), the master column, the drawn
// mixer panel and the meters' frame rate. Every control is bound to a mixer or
// channel model property and repaints on its change signal; meters and the
// record lamp read the engine's cells on the live clock.
//
// Main thread only.
#include "ui/instrument/MixerFaces.h"
#include "ui/kit/FaceWidget.h"
#include "ui/kit/HardwareControls.h"

#include <functional>
#include <optional>

namespace zelvo {

class AppModel;
class ChannelModel;

namespace kit {
class LiveTimeline;
class MeterTimeline;
class LiveCanvas;
class SilkLabel;
} // namespace kit

namespace face {

// The panel every faceplate module sits on: a rounded gradient from
// (22, 23, 28) to the deep ink, edged inside with `edgeAlpha` of the edge colour.
void drawModulePanel(kit::Canvas& canvas, QSizeF size, double radius, double edgeAlpha);

// Meters run at 15 frames a second while any deck plays and 3 otherwise,
// until they have gone dark; at rest they read their levels at 3 and draw
// nothing until a level lights a segment.
inline double meterFps(bool anyDeckPlaying) { return anyDeckPlaying ? 15.0 : 3.0; }
// Keeps `timeline` at the meter rate, following every deck's start and stop.
void followMeterRate(AppModel& model, kit::MeterTimeline* timeline);

// What the engine reports for the faceplate; zeros and "not recording" while
// no output is open. One load per cell.
double channelLevel(const AppModel& model, int channel);
double masterLevel(const AppModel& model, bool right);
bool recording(const AppModel& model);
double recordedSeconds(const AppModel& model);
double masterBPM(const AppModel& model);

// A silk label placed by its top centre.
kit::SilkLabel* silk(const kit::UiEnv& env, const QString& text, double size, const QColor& color, double tracking,
                     QWidget* parent);

// Places widgets top to bottom in a DesignBox, centred in a column.
struct Stack {
    kit::DesignBox* box;
    double x;
    double width;
    double y;
    double spacing;
    template <typename W>
    W* add(W* w, double padTop = 0, double padBottom = 0)
    {
        y += padTop;
        const QSizeF s = w->designSize();
        box->place(w, QRectF(QPointF(x + (width - s.width()) / 2, y), s));
        y += s.height() + padBottom + spacing;
        return w;
    }
};

} // namespace face

// A round lit key with an optional silk sublabel under it.
class RoundLamp final : public kit::DesignBox {
    Q_OBJECT
public:
    RoundLamp(const kit::UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit, bool blink,
              bool danger, std::function<void()> action, QWidget* parent = nullptr);
    void setLit(bool lit) { key_->setLit(lit); }
    void setBlink(bool blink) { key_->setBlink(blink); }
    void setSublabel(const QString& text);
    kit::HardKey* key() const { return key_; }
    QString sublabel() const { return sublabelText_; }
    // Called at the start of every paint (a live lamp reads its state there).
    void setBeforePaint(std::function<void()> read) { beforePaint_ = std::move(read); }
    void paintFace(kit::Canvas& canvas) override;

private:
    std::function<void()> beforePaint_;
    kit::HardKey* key_;
    kit::SilkLabel* sublabel_ = nullptr;
    QString sublabelText_;
    double width_;
};

// Headphone cue blend and level, with the record lamp at the bottom; `height`
// is the column's height in the mixer's row.
class PhonesColumn final : public kit::DesignBox {
    Q_OBJECT
public:
    static constexpr double kWidth = 58;
    PhonesColumn(AppModel& model, const kit::UiEnv& env, double height, QWidget* parent = nullptr);
    RoundLamp* recordLamp() const { return rec_; }
    // Reads the engine's record state onto the lamp (the lamp's 3 fps frame does).
    void readRecording();

private:
    AppModel& model_;
    RoundLamp* rec_;
    kit::LiveTimeline* timeline_;
};

// The browse encoder: a drag steps the browser's selection, a tap queues it.
class BrowseKnob final : public kit::FaceWidget {
    Q_OBJECT
public:
    static constexpr double kFace = 44;
    BrowseKnob(AppModel& model, const kit::UiEnv& env, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    bool hitTest(QPointF p) const override;
    void paintFace(kit::Canvas& canvas) override;
    // Moves the selection `delta` places through the browser's list.
    void step(int delta);
    double carry() const { return drag_.carry; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    AppModel& model_;
    face::BrowseDrag drag_;
    std::optional<QPointF> pressAt_;
    bool dragging_ = false;
};

// The beat-effect section in either mixer's size.
class BeatFXSection final : public kit::DesignBox {
    Q_OBJECT
public:
    struct Sizes {
        double width;
        double kindPitch;
        double beatPitch;
        double keyWidth;
        double knobSize;
        // Four channel target keys under "MST" (else one selector MST, 1, 2).
        bool fourTargets;
    };
    static Sizes twoChannel() { return {74, 1.5, 1.2, 32, 30, false}; }
    static Sizes fourChannel() { return {70, 1.4, 1.1, 30, 28, true}; }
    BeatFXSection(AppModel& model, const kit::UiEnv& env, Sizes sizes, double height, QWidget* parent = nullptr);
    kit::LiveCanvas* display() const { return display_; }

private:
    kit::LiveCanvas* display_;
};

// One channel strip: full (two-channel mixer) or compact (four-channel mixer,
// with part keys and the crossfader assign switch).
class ChannelStripView final : public kit::DesignBox {
    Q_OBJECT
public:
    ChannelStripView(AppModel& model, const kit::UiEnv& env, int index, bool compact, QWidget* parent = nullptr);
    int index() const { return index_; }

private:
    int index_;
};

// The master meters and level knob; `width` 44 (two channels) or 40 (four).
class MasterColumn final : public kit::DesignBox {
    Q_OBJECT
public:
    MasterColumn(AppModel& model, const kit::UiEnv& env, double width, double knobSize, QWidget* parent = nullptr);
};

} // namespace zelvo
