#pragma once
// The classic faceplate: walnut cheeks either side of the drawn plate with its
// four screws, and on the plate the module column: the header strip, the
// stacked waveforms with the phase meter and zoom keys, the decks either side
// of the mixer (two decks and the two-channel mixer, or in the four-deck
// layout the decks under the controller's halves with their select tabs and
// the four-channel mixer), and the browser, perform and model modules.
// Everything is laid out in design points and drawn at the face scale; the
// container sizes the widget and the design canvas is its size over the scale.
//
// Main thread only.
#include "ui/instrument/FaceLayout.h"
#include "ui/kit/UiEnv.h"

#include <QWidget>

#include <array>
#include <memory>

namespace zelvo {

class AppModel;
class OutpaintModel;
class HeaderStrip;
class ZoomKeys;
class DeckView;
class FaceModule;

namespace kit {
class AppWaveScene;
class Faceplate;
class FaceWidget;
class PhaseMeter;
class Screw;
class SilkLabel;
class StackedWaveforms;
class WalnutCheek;
} // namespace kit

namespace stage {
class StageSides;
}

class Instrument final : public QWidget {
    Q_OBJECT
public:
    // `sides` (may be null: two decks, left on deck 1) tells the controller's
    // layout and the decks its halves drive; `outpaint` (may be null) the
    // pending fork the waveforms show.
    Instrument(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr, stage::StageSides* sides = nullptr,
               OutpaintModel* outpaint = nullptr);
    ~Instrument() override;

    stage::StageSides* sides() const { return sides_; }
    OutpaintModel* outpaint() const { return outpaint_; }
    // The design canvas: the widget's size over the face scale.
    QSizeF designSize() const;
    // Where everything sits now.
    const FaceLayout::Rows& rows() const { return rows_; }
    HeaderStrip* header() const { return header_; }
    ZoomKeys* zoomKeys() const { return zoom_; }
    DeckView* leftDeck() const { return left_; }
    DeckView* rightDeck() const { return right_; }
    FaceModule* mixer() const { return mixer_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    FaceLayout::Input input() const;
    void buildDeckRow();
    void relayout();

    AppModel& model_;
    kit::UiEnv env_;
    stage::StageSides* sides_;
    OutpaintModel* outpaint_;
    std::unique_ptr<kit::AppWaveScene> scene_;
    FaceLayout::Rows rows_;
    // The deck row as built: layout and decks shown.
    bool builtFour_ = false;
    int builtLeft_ = -1, builtRight_ = -1;

    kit::WalnutCheek* leftCheek_;
    kit::WalnutCheek* rightCheek_;
    kit::Faceplate* plate_;
    HeaderStrip* header_;
    kit::StackedWaveforms* waves_;
    kit::SilkLabel* phaseLabel_;
    kit::PhaseMeter* phase_;
    ZoomKeys* zoom_;
    DeckView* left_ = nullptr;
    DeckView* right_ = nullptr;
    FaceModule* mixer_ = nullptr;
    kit::FaceWidget* leftTabs_ = nullptr;
    kit::FaceWidget* rightTabs_ = nullptr;
    FaceModule* browser_;
    FaceModule* perform_;
    FaceModule* brain_;
    std::array<kit::Screw*, 4> screws_{};
};

} // namespace zelvo
