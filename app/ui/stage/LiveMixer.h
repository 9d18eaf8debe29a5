#pragma once
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

namespace zelvo {

class AppModel;

class LiveMixer final : public stage::StageCard {
    Q_OBJECT
public:
    LiveMixer(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

} // namespace zelvo
