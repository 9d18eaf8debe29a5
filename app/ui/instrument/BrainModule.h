#pragma once
// The faceplate's model module: what the model server and the render are
// doing, the takes on deck 2, the prompt with its preset keys and the render
// settings, and the keys that install or wake the server, fork, cancel, drop
// and resume the chain. It writes nothing of its own: keys call the workflow,
// the supervisor or the state root, and settings controls write the workflow's
// settings, which store themselves. The presets are also the stage's prompt
// strip's chips (the module shows the first eight).
//
// Main thread only for the widgets; any thread for the preset table (built
// once, then read only).
#include "ui/instrument/FaceModule.h"
#include "ui/kit/LiveClock.h"

#include <QPointer>
#include <QString>

#include <optional>
#include <vector>

namespace zelvo {

class AppModel;
class OutpaintModel;

namespace kit {
class DesignBox;
class DotMatrixText;
class HardKey;
class Knob;
class LiveCanvas;
class SilkLabel;
class VFDField;
} // namespace kit

// A knob that steps an integer setting through a fixed list of options, with
// its read-out and caption under it.
class StepperKnob final : public kit::FaceWidget {
    Q_OBJECT
public:
    StepperKnob(const kit::UiEnv& env, const QString& title, kit::Binding<std::int64_t> value,
                std::vector<int> options, const QString& unit, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(48, 64); }
    void paintFace(kit::Canvas& canvas) override;
    void refresh() override;
    kit::Knob* knob() const { return knob_; }
    // What the knob reads, and what it does when turned to `x`.
    double knobValue() const;
    void turnTo(double x);
    QString readout() const;

private:
    QString title_;
    kit::Binding<std::int64_t> value_;
    std::vector<int> options_;
    QString unit_;
    kit::Knob* knob_;
};

class BrainModule final : public FaceModule {
    Q_OBJECT
public:
    static constexpr double kWidth = 560;

    struct Preset {
        QString label;  // the key caption; unique, the entry's identity
        QString prompt; // what the preset writes into the generation settings
    };
    // The ten presets in display order: "ZELVO-0" with the model's trained
    // caption, then nine genre captions.
    static const std::vector<Preset>& presets();

    BrainModule(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
    ~BrainModule() override;

    // The workflow the module shows and drives; without it the status, takes,
    // Drop key and chain show an idle workflow and do nothing.
    void setOutpaint(OutpaintModel* outpaint);

    // What the status display reads now.
    QString headlineText() const;
    bool headlineFailed() const;
    int progressLit() const;
    QString takesText() const;
    QString seedText() const;
    // Re-reads every key and control now (otherwise on model changes and on
    // the module's clocks).
    void refresh() override;
    // A tap on the chain panel: the chain resumes at once.
    void resumeChain();
    void paintFace(kit::Canvas& canvas) override;

    // The height the module needs at its full size.
    static double idealHeight();
    // The status glass's height and the column's gaps in the module's height.
    struct Fit {
        double status;
        double gap;
    };
    Fit fitted() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // The clocks tick only while the module is shown.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    void startTicks();
    void stopTicks();
    void refreshDrop();
    void paintStatus(kit::Canvas& canvas, QSizeF size, double frameTime);
    void paintTakes(kit::Canvas& canvas, QSizeF size);
    void paintChain(kit::Canvas& canvas, QSizeF size);

    AppModel& model_;
    QPointer<OutpaintModel> outpaint_;
    kit::LiveCanvas* status_ = nullptr;
    kit::FaceWidget* takes_ = nullptr;
    kit::VFDField* prompt_ = nullptr;
    std::vector<std::pair<kit::HardKey*, QString>> presetKeys_;
    std::vector<StepperKnob*> steppers_;
    kit::Knob* guide_ = nullptr;
    kit::FaceWidget* guideLabel_ = nullptr;
    kit::HardKey* seed_ = nullptr;
    kit::HardKey* modelKey_ = nullptr;
    kit::HardKey* action_ = nullptr;
    kit::HardKey* drop_ = nullptr;
    kit::FaceWidget* chain_ = nullptr;
    int pressAction_ = 3;
    kit::LiveClock::Id dropTick_ = 0;
    kit::LiveClock::Id chainTick_ = 0;
};

} // namespace zelvo
