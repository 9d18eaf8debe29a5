#pragma once
// The round read-out at the top of a deck panel, like the screen in a jog
// wheel: progress, cue point, a take's generated stretch, a spoke that turns
// with the playhead, a ring while the jog is touched, and the tempo, key and
// time left in the middle. It redraws at 60 frames a second while its deck
// plays or is touched and stands still otherwise.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/stage/DeckPanelFaces.h"

namespace zelvo {

class AppModel;
class DeckModel;

namespace stage {

// The display's reading of the models now: the voice's cells once each, the
// running engine's effective tempo of the deck (else the fader's ratio).
JogInput jogInput(const AppModel& model, const DeckModel& deck);

class JogDisplay final : public kit::FaceWidget {
    Q_OBJECT
public:
    static constexpr double kSide = 136;
    static constexpr double kFps = 60;

    JogDisplay(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(kSide, kSide); }
    void paintFace(kit::Canvas& canvas) override;
    // Whether the display asks for frames (its deck plays or is touched).
    bool animating() const;

private:
    void follow();

    AppModel& model_;
    DeckModel& deck_;
    kit::LiveTimeline timeline_;
};

} // namespace stage
} // namespace zelvo
