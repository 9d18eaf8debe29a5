#pragma once
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

namespace zelvo {

class AppModel;

class StatusBar final : public stage::StageCard {
    Q_OBJECT
public:
    StatusBar(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

} // namespace zelvo
