#pragma once
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

namespace zelvo {

class AppModel;

class StageBrowser final : public stage::StageCard {
    Q_OBJECT
public:
    StageBrowser(AppModel& model, kit::UiEnv env, bool expanded, QWidget* parent = nullptr);
    bool expanded() const { return expanded_; }
    void setExpanded(bool expanded);

private:
    bool expanded_;
};

} // namespace zelvo
