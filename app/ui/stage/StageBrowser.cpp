#include "ui/stage/StageBrowser.h"

namespace zelvo {

StageBrowser::StageBrowser(AppModel&, kit::UiEnv, bool expanded, QWidget* parent)
    : StageCard(QStringLiteral("crate"), QStringLiteral("stageBrowser"), parent), expanded_(expanded)
{
    setExpanded(expanded);
}

void StageBrowser::setExpanded(bool expanded)
{
    expanded_ = expanded;
    setMinimumHeight(expanded ? 260 : 150);
}

} // namespace zelvo
