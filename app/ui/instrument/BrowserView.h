#pragma once
// The crate browser of the faceplate's module row; a placeholder taking the
// row's remaining width until it is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class BrowserView final : public ModulePlaceholder {
public:
    BrowserView(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("crate"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.browser"));
    }
};

} // namespace zelvo
