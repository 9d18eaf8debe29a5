#pragma once
// Small pieces the stage's deck cards and lanes share: the clock format, the
// status chip, the touch glow behind a deck and the whole-track overview strip
// with click-or-drag seeking. Each draws through the kit's Canvas so tests can
// record what it paints.
//
// Main thread only.
#include "ui/kit/Canvas.h"
#include "ui/kit/UiEnv.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

namespace zelvo {

class DeckModel;
struct WaveformData;

namespace DeckCard {
// "m:ss.d" (minutes unpadded, seconds, tenths; all truncated toward zero).
// Empty for a non-finite time or one beyond the integer range.
QString clock(double seconds);
} // namespace DeckCard

namespace stage {

// A status chip: upper-cased text, lit in the signal colour when on. Its size
// for `text`, then the drawing inside `rect`.
QSizeF chipSize(const QString& text);
void paintChip(kit::Canvas& canvas, const QRectF& rect, const QString& text, bool on);

// The rounded backdrop of a deck: lightens for 0.6 s after a touch and carries
// the deck's border, brighter while the controller targets the deck.
double touchGlow(double sinceTouch);
void paintTouchGlow(kit::Canvas& canvas, const QRectF& rect, double glow, bool targeted);

// What the overview strip draws, read once per frame.
struct OverviewInput {
    std::shared_ptr<const WaveformData> waveform;
    bool loaded = false;
    double duration = 0;
    double position = 0;
    std::optional<double> seam; // a take's generated part starts here
    std::array<double, 8> hotCues{-1, -1, -1, -1, -1, -1, -1, -1};
};
void paintOverview(kit::Canvas& canvas, QSizeF size, const OverviewInput& in);
// The seek a click at `x` in a strip `width` wide asks for, in seconds; none
// for a strip without width, a non-finite point or a deck without duration.
std::optional<double> overviewSeek(double x, double width, double duration);

class OverviewStrip final : public QWidget {
    Q_OBJECT
public:
    OverviewStrip(DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr);
    ~OverviewStrip() override;
    OverviewInput input() const;
    int paints() const { return paints_; }
    // A strip inside a view that redraws at least as often while the deck
    // plays is redrawn with it and keeps no clock of its own (its own would
    // only make the parent paint again beneath it).
    void setCarried(bool carried);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void seekTo(double x);
    void followPlaying();

    DeckModel& deck_;
    kit::UiEnv env_;
    quint64 tick_ = 0;
    int paints_ = 0;
    bool carried_ = false;
};

} // namespace stage
} // namespace zelvo
