#pragma once
// The model's strip on the stage: the big key on the left and beside it the
// model row (the fixed "zelvo-0" label, the model line and the takes), the
// prompt strip and the flow row, on a stage panel. The strip is the ghost
// host of the key's pulse border. It keeps no state; the
// model line is read again on every tick of the state root and repaints when
// it changed.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/GhostHost.h"

#include <cstdint>

class QHBoxLayout;
class QVBoxLayout;

namespace zelvo {

class AppModel;
class OutpaintModel;

namespace stage {
class BigAIKey;
class FlowControl;
class PromptStrip;
class TakesControl;
class TextLineView;
} // namespace stage

class MachineStrip final : public stage::GhostHost {
    Q_OBJECT
public:
    // `outpaint` (may be null) is the generation workflow whose takes, chain
    // and settings the strip shows; without it the strip edits the settings
    // through the state root's workflow link and shows no takes.
    MachineStrip(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr, OutpaintModel* outpaint = nullptr);
    ~MachineStrip() override;

    stage::BigAIKey* key() const { return key_; }
    stage::TakesControl* takes() const { return takes_; }
    stage::PromptStrip* prompt() const { return prompt_; }
    stage::FlowControl* flow() const { return flow_; }
    // Re-reads the model line.
    void refresh();
    // The compact form for short windows: the flow row joins the model row
    // and the padding tightens, so the strip is one row shorter.
    void setCompact(bool compact);
    bool compact() const { return compact_; }
    // The strip's height in either form at its current width.
    int heightIn(bool compact) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppModel& model_;
    kit::UiEnv env_;
    stage::BigAIKey* key_ = nullptr;
    stage::TextLineView* modelLine_ = nullptr;
    stage::TakesControl* takes_ = nullptr;
    stage::PromptStrip* prompt_ = nullptr;
    stage::FlowControl* flow_ = nullptr;
    QWidget* label_ = nullptr;
    QHBoxLayout* row_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    QHBoxLayout* modelRow_ = nullptr;
    bool compact_ = false;
};

} // namespace zelvo
