#include "ui/stage/LiveMixer.h"

namespace zelvo {

LiveMixer::LiveMixer(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("mixer"), QStringLiteral("liveMixer"), parent)
{
    setFixedSize(360, 300);
}

} // namespace zelvo
