#pragma once
// The card of the last moved hardware control, laid over the deck lanes: it
// pops in, stays for 0.9 s after its stamp, then fades over 0.35 s, with a
// travel bar for continuous controls (from the centre for bipolar ones). It
// redraws at 30 frames a second only while a card shows, and takes no clicks.
//
// Main thread only.
#include "ui/kit/Canvas.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/StageSides.h"

#include <QWidget>

namespace zelvo {

class AppModel;

namespace stage {

// Opacity and scale of a card `age` seconds old; opacity ≤ 0 draws nothing.
struct EchoLook {
    double opacity = 0;
    double scale = 1;
    bool visible() const { return opacity > 0; }
};
EchoLook echoLook(double age);

// The travel bar in a frame `width` wide: the signal fill and, for bipolar
// controls, the centre tick.
struct Travel {
    QRectF fill;
    std::optional<QRectF> tick;
};
Travel travel(double fraction, bool bipolar, double width, double height = 5);

inline constexpr double kEchoWidth = 260;

class ControlEchoView final : public QWidget {
    Q_OBJECT
public:
    ControlEchoView(AppModel& model, StageSides& sides, kit::UiEnv env, QWidget* parent = nullptr);
    ~ControlEchoView() override;
    // Draws the card of `echo` at its full size (before opacity and scale).
    void paintCard(kit::Canvas& canvas, const Echo& echo);
    QSizeF cardSize(const Echo& echo) const;
    bool ticking() const { return tick_ != 0; }
    int paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void follow();
    double age() const;

    AppModel& model_;
    StageSides& sides_;
    kit::UiEnv env_;
    quint64 tick_ = 0;
    int paints_ = 0;
    Ghosts valueGhosts_;
};

} // namespace stage
} // namespace zelvo
