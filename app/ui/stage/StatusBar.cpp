#include "ui/stage/StatusBar.h"

namespace zelvo {

StatusBar::StatusBar(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("kavri zelvo"), QStringLiteral("statusBar"), parent)
{
    setFixedHeight(40);
}

} // namespace zelvo
