#pragma once
// The faceplate's model module: a placeholder of its width in the module row
// until it is built, and the prompt presets, which the stage's prompt strip
// shows as chips and the module shows as keys (the first eight).
//
// Main thread only for the widget; any thread for the preset table (built
// once, then read only).
#include "ui/instrument/ModulePlaceholder.h"

#include <QString>

#include <vector>

namespace zelvo {

class AppModel;

class BrainModule final : public ModulePlaceholder {
public:
    static constexpr double kWidth = 560;

    struct Preset {
        QString label;  // the key caption; unique, the entry's identity
        QString prompt; // what the preset writes into the generation settings
    };
    // The ten presets in display order: "ZELVO-0" with the model's trained
    // caption, then nine genre captions.
    static const std::vector<Preset>& presets();

    BrainModule(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("zelvo-0"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.brain"));
    }
};

} // namespace zelvo
