#pragma once
// The faceplate's model module. So far it holds the prompt presets, which the
// stage's prompt strip shows as chips and the module shows as keys (the first
// eight).
//
// Any thread for the table (built once, then read only).
#include <QString>

#include <vector>

namespace zelvo {

class BrainModule {
public:
    struct Preset {
        QString label;  // the key caption; unique, the entry's identity
        QString prompt; // what the preset writes into the generation settings
    };
    // The ten presets in display order: "ZELVO-0" with the model's trained
    // caption, then nine genre captions.
    static const std::vector<Preset>& presets();
};

} // namespace zelvo
