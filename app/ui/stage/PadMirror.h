#pragma once
// The on-screen copy of one deck's eight performance pads: a row of mode chips
// and a 2 × 4 grid whose captions and lamps come from the application's pad
// logic (the same answer that lights the controller's pads). Pressing a pad
// performs it as the hardware pad would; a hardware hit flashes the matching
// pad for 0.35 s.
//
// A held pad is released exactly once, to the deck, mode and pad it was
// pressed on, also when the mirror is hidden or destroyed mid-press.
//
// Main thread only.
#include "state/AppModel.h"
#include "models/DeckModel.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/DeckPanelFaces.h"
#include "ui/stage/Ghosts.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace zelvo {

class AppModel;
class DeckModel;

namespace stage {

class StageSides;

// The row of six mode chips; a click sets the deck's pad mode.
class PadChipRow final : public QWidget {
    Q_OBJECT
public:
    PadChipRow(DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr);
    QRectF chipRect(int i) const;
    QSize sizeHint() const override;
    // A narrow panel draws the chips with less padding and closer together,
    // down to this width, so every chip stays whole and can be clicked.
    QSize minimumSizeHint() const override;
    // A chip's side padding and the gap between chips in a row `width` wide.
    struct Spacing {
        double pad = 0;
        double gap = 0;
    };
    static Spacing spacing(double width);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    DeckModel& deck_;
    Ghosts ghosts_;
};

// The eight pads.
class PadGridView final : public QWidget {
    Q_OBJECT
public:
    PadGridView(AppModel& model, DeckModel& deck, StageSides* sides, kit::UiEnv env, QWidget* parent = nullptr);
    ~PadGridView() override;
    // Pad i's rectangle in widget coordinates (row i / 4, column i % 4).
    QRectF padRect(int i) const;
    // Whether the flash animation asks for frames.
    bool flashing() const;
    int paints() const { return paints_; }
    QSize minimumSizeHint() const override { return QSize(160, 2 * 38 + 5); }
    QSize sizeHint() const override { return QSize(280, 2 * 56 + 5); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Held {
        QPointer<DeckModel> deck;
        PadMode mode;
        int index;
        QPointF at;
    };
    int padAt(QPointF p) const;
    double uptime() const;
    void follow();
    // Sends the held pad's release, once.
    void release();

    QPointer<AppModel> model_;
    DeckModel& deck_;
    QPointer<StageSides> sides_;
    kit::UiEnv env_;
    kit::LiveTimeline timeline_;
    std::optional<Held> held_;
    int paints_ = 0;
};

class PadMirror final : public QWidget {
    Q_OBJECT
public:
    PadMirror(AppModel& model, DeckModel& deck, StageSides* sides, kit::UiEnv env, QWidget* parent = nullptr);
    PadChipRow* chips() const { return chips_; }
    PadGridView* pads() const { return pads_; }

private:
    PadChipRow* chips_;
    PadGridView* pads_;
};

} // namespace stage
} // namespace zelvo
