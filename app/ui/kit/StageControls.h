#pragma once
// The stage look's flat live controls: a knob with a value arc, a fader that
// jumps to the touch, a segment meter and a lit key. Main thread.
#include "ui/kit/ControlMath.h"
#include "ui/kit/FaceWidget.h"

#include <QColor>
#include <functional>
#include <optional>

namespace zelvo::kit {

struct LiveKnobLook {
    double value = 0;
    Range range;
    bool bipolar = false;
    double size = 34;
    QColor tint;
};
void drawLiveKnobDial(Canvas& canvas, const LiveKnobLook& look);

struct LiveFaderLook {
    double value = 0;
    Range range;
    double length = 120;
    bool vertical = true;
    bool invert = false;
};
QSizeF liveFaderSize(const LiveFaderLook& look);
void drawLiveFader(Canvas& canvas, const LiveFaderLook& look);

QSizeF segmentMeterSize(int segments, double width);
void drawSegmentMeter(Canvas& canvas, double level, int segments, double width);

void drawLiveKey(Canvas& canvas, const QString& label, bool lit, const QColor& tint, QSizeF size);

class LiveKnob : public FaceWidget {
    Q_OBJECT
public:
    LiveKnob(const UiEnv& env, Binding<double> value, Range range, bool bipolar, std::optional<QString> label,
             double size, double reset, const QColor& tint, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    bool hitTest(QPointF p) const override;
    void paintFace(Canvas& canvas) override;
    // The value arc's colour (a killed band turns it red); repaints on a change.
    void setTint(const QColor& tint);
    const QColor& tint() const { return tint_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    Binding<double> value_;
    Range range_;
    bool bipolar_;
    std::optional<QString> label_;
    double size_;
    double reset_;
    QColor tint_;
    std::optional<QPointF> pressAt_;
    bool dragging_ = false;
    std::optional<double> start_;
};

class LiveFader : public FaceWidget {
    Q_OBJECT
public:
    LiveFader(const UiEnv& env, Binding<double> value, Range range, double length, bool vertical, bool invert,
              double reset, QWidget* parent = nullptr);
    QSizeF designSize() const override { return liveFaderSize(look()); }
    void paintFace(Canvas& canvas) override { drawLiveFader(canvas, look()); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    LiveFaderLook look() const;
    void touch(QPointF designPoint);
    Binding<double> value_;
    Range range_;
    double length_;
    bool vertical_;
    bool invert_;
    double reset_;
};

class SegmentMeter : public FaceWidget {
    Q_OBJECT
public:
    SegmentMeter(const UiEnv& env, std::function<double()> level, int segments, double width,
                 QWidget* parent = nullptr);
    QSizeF designSize() const override { return segmentMeterSize(segments_, width_); }
    void paintFace(Canvas& canvas) override;
    // The level the last frame showed.
    double shownLevel() const { return shown_; }

private:
    std::function<double()> level_;
    int segments_;
    double width_;
    double shown_ = 0;
};

class LiveKey : public FaceWidget {
    Q_OBJECT
public:
    LiveKey(const UiEnv& env, const QString& label, bool lit, const QColor& tint, double width, double height,
            std::function<void()> action, QWidget* parent = nullptr);
    QSizeF designSize() const override { return size_; }
    void paintFace(Canvas& canvas) override { drawLiveKey(canvas, label_, lit_, tint_, size_); }
    void setLit(bool lit);
    bool lit() const { return lit_; }
    void setLabel(const QString& label);
    const QString& label() const { return label_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString label_;
    bool lit_;
    QColor tint_;
    QSizeF size_;
    std::function<void()> action_;
    bool down_ = false;
};

} // namespace zelvo::kit
