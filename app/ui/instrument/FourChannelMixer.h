#pragma once
// The four-channel mixer of the four-deck layout: the browse row loading onto
// the decks the controller's halves drive, the colour-effect keys, the
// headphone column, four compact strips in the controller's order (3, 1,
// master, 2, 4) and the beat-effect section, with the crossfader below.
//
// Main thread only.
#include "ui/instrument/MixerView.h"

#include <QPointer>

namespace zelvo {

namespace kit {
class HardKey;
}
namespace stage {
class StageSides;
}

class FourChannelMixer final : public MixerPanel {
    Q_OBJECT
public:
    static constexpr double kWidth = 560;

    // `sides` (may be null) tells when the controller's halves change decks.
    FourChannelMixer(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr,
                     stage::StageSides* sides = nullptr);
    // Re-reads the decks the halves drive onto the load keys.
    void refresh() override;

private:
    AppModel& model_;
    QPointer<stage::StageSides> sides_;
    kit::HardKey* loadLeft_;
    kit::HardKey* loadRight_;
};

} // namespace zelvo
