#include "ui/stage/DJMCard.h"

namespace zelvo {

DJMCard::DJMCard(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("direct outs"), QStringLiteral("djmCard"), parent)
{
    setFixedSize(360, 300);
}

} // namespace zelvo
