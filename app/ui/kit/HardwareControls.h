#pragma once
// The faceplate's drawn controls: knobs with indicator rings, faders with ticks
// and a moulded cap, rubber keys with lamps, pads, legends, LED ladders and a
// row of keys acting as a segmented choice. Value views: they change nothing
// but their binding or their press and release actions. Main thread.
#include "ui/kit/ControlMath.h"
#include "ui/kit/FaceWidget.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace zelvo::kit {

class LiveTimeline;

enum class KeyStyle { transport, pad, key, wide };

struct KeyMetrics {
    QSizeF size;
    double fontSize;
    double tracking;
};
KeyMetrics keyMetrics(KeyStyle style);
// The corner radius for a key of `width`.
double keyRadius(KeyStyle style, double width);

struct KnobLook {
    double value = 0;
    Range range;
    bool bipolar = false;
    double size = 40;
    int ringDots = 11;
};
// The dial (ring, body, cap, pointer) in a square of size + 12.
void drawKnobDial(Canvas& canvas, const KnobLook& look);

struct FaderLook {
    double value = 0;
    Range range;
    bool vertical = true;
    double length = 120;
    int ticks = 9;
    bool invert = false;
    double capWidth = 28;
};
QSizeF faderSize(const FaderLook& look);
QRectF faderCapRect(const FaderLook& look);
void drawFader(Canvas& canvas, const FaderLook& look);

struct KeyLook {
    QString label;
    std::optional<QString> sublabel;
    bool on = false;
    bool pressed = false;
    KeyStyle style = KeyStyle::key;
    QSizeF size;
    bool danger = false;
    // The key's scale about its centre: 0.965 held down, 1 released, between while it moves.
    double pressScale = 1.0;
};
// The pressed-scale at `elapsed` seconds of a 0.06 s ease-out from `from` to `to`.
double pressScaleAt(double from, double to, double elapsed);
QColor lampColour(bool danger);
void drawHardKey(Canvas& canvas, const KeyLook& look);

void drawLadder(Canvas& canvas, double level, int segments, QSizeF size);

class Knob : public FaceWidget {
    Q_OBJECT
public:
    Knob(const UiEnv& env, Binding<double> value, Range range, bool bipolar, std::optional<QString> label,
         double size, std::optional<double> resetValue, int ringDots, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    bool hitTest(QPointF p) const override;
    void paintFace(Canvas& canvas) override;
    // Narrows the label's letter spacing (never its size) until it is no
    // wider than `width`, or the spacing is 0.
    void fitLabel(double width);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    double dialSide() const { return size_ + 12; }
    double labelTracking_ = 1.1;
    Binding<double> value_;
    Range range_;
    bool bipolar_;
    std::optional<QString> label_;
    double size_;
    std::optional<double> reset_;
    int ringDots_;
    std::optional<QPointF> pressAt_;
    bool dragging_ = false;
    std::optional<double> dragStart_;
};

class Fader : public FaceWidget {
    Q_OBJECT
public:
    Fader(const UiEnv& env, Binding<double> value, Range range, bool vertical, double length, int ticks,
          bool centerDetent, bool invert, std::optional<double> resetValue, double capWidth,
          QWidget* parent = nullptr);
    QSizeF designSize() const override { return faderSize(look()); }
    void paintFace(Canvas& canvas) override { drawFader(canvas, look()); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    FaderLook look() const;
    Binding<double> value_;
    Range range_;
    bool vertical_;
    double length_;
    int ticks_;
    bool centerDetent_;
    bool invert_;
    std::optional<double> reset_;
    double capWidth_;
    std::optional<QPointF> pressAt_;
    std::optional<double> dragStart_;
};

class HardKey : public FaceWidget {
    Q_OBJECT
public:
    HardKey(const UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit, bool blink,
            KeyStyle style, std::optional<double> width, std::optional<double> height, bool danger,
            std::function<void()> onPress, std::function<void()> onRelease = {}, QWidget* parent = nullptr);
    ~HardKey() override;

    QSizeF designSize() const override { return size_; }
    void paintFace(Canvas& canvas) override;
    void setLit(bool lit);
    void setBlink(bool blink);
    void setLabel(const QString& label);
    void setSublabel(std::optional<QString> sublabel);
    void setDanger(bool danger);
    // A key that follows its row's width (the row lays it out again).
    void setWidth(double width);
    bool lit() const { return lit_; }
    bool pressed() const { return pressed_; }
    // Whether the lamp shows now (a lit blinking key alternates every third of a second).
    bool lampOn() const;
    KeyLook look() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void begin();
    void end();
    void updateTimeline();

    QString label_;
    std::optional<QString> sublabel_;
    bool lit_;
    bool blink_;
    KeyStyle style_;
    QSizeF size_;
    bool danger_;
    std::function<void()> onPress_;
    std::function<void()> onRelease_;
    bool pressed_ = false;
    LiveTimeline* timeline_;
    void animatePress();
    double pressScale_ = 1.0;
    double animFrom_ = 1.0;
    double animStart_ = 0;
    std::uint64_t animTick_ = 0;
};

// A performance pad: a pad-style key 58 × 38 that never blinks.
class Pad : public HardKey {
    Q_OBJECT
public:
    Pad(const UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit,
        std::function<void()> onPress, std::function<void()> onRelease = {}, QWidget* parent = nullptr);
};

class Legend : public FaceWidget {
    Q_OBJECT
public:
    Legend(const UiEnv& env, const QString& text, std::optional<QString> shift, double size,
           Qt::Alignment align = Qt::AlignHCenter, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(Canvas& canvas) override;

private:
    QString text_;
    std::optional<QString> shift_;
    double size_;
    Qt::Alignment align_;
};

class LEDLadder : public FaceWidget {
    Q_OBJECT
public:
    LEDLadder(const UiEnv& env, std::function<double()> level, int segments, double width, double height,
              QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(width_, height_); }
    void paintFace(Canvas& canvas) override;
    // The level the last frame showed.
    double shownLevel() const { return shown_; }

private:
    std::function<double()> level_;
    int segments_;
    double width_;
    double height_;
    double shown_ = 0;
};

class SegmentSelector : public FaceWidget {
    Q_OBJECT
public:
    SegmentSelector(const UiEnv& env, const QStringList& options, Binding<int> selection, double width,
                    QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(Canvas&) override {}
    // Re-reads the selection and relights the keys.
    void refresh() override;
    HardKey* key(int i) const { return keys_.at(size_t(i)); }

protected:
    void scaleChanged() override;

private:
    void layoutKeys();
    QStringList options_;
    Binding<int> selection_;
    double width_;
    std::vector<HardKey*> keys_;
};

} // namespace zelvo::kit
