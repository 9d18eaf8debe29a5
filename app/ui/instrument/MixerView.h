#pragma once
// The two-channel mixer between the faceplate decks: the browse row on top,
// then the headphone column, the channel pair around the master column and
// the beat-effect column, and the crossfader at the bottom, on the mixer's
// drawn panel. Every control is bound to the mixer and channel models.
//
// Main thread only.
#include "ui/instrument/FaceModule.h"

namespace zelvo {

class AppModel;

namespace kit {
class DesignBox;
}

// The mixer panel's two parts: the rows hung from the top and the crossfader
// block standing on the bottom; both follow the panel's size and scale.
class MixerPanel : public FaceModule {
    Q_OBJECT
public:
    MixerPanel(const kit::UiEnv& env, const QString& name, QSizeF designSize, QWidget* parent);
    void paintFace(kit::Canvas& canvas) override;
    // The height the panel needs for its parts at their full size.
    double idealHeight() const;

protected:
    // `spacing`: the panel's stack spacing, kept either side of the flexible
    // space between the rows and the crossfader.
    void setParts(kit::DesignBox* top, kit::DesignBox* bottom, double spacing);
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutParts();
    kit::DesignBox* top_ = nullptr;
    kit::DesignBox* bottom_ = nullptr;
    double spacing_ = 0;
};

class MixerView final : public MixerPanel {
    Q_OBJECT
public:
    static constexpr double kWidth = 448;

    MixerView(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
};

namespace face {
// The crossfader block: "<left>", the fader of `length`, "<right>", and "crossfader" under them.
kit::DesignBox* crossfaderBlock(AppModel& model, const kit::UiEnv& env, double length, const QString& left,
                                const QString& right, QWidget* parent);
} // namespace face

} // namespace zelvo
