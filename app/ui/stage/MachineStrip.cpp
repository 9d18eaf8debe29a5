#include "ui/stage/MachineStrip.h"

namespace zelvo {

MachineStrip::MachineStrip(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("zelvo-0"), QStringLiteral("machineStrip"), parent)
{
    setFixedHeight(52);
}

} // namespace zelvo
