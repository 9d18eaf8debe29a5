#pragma once
// The right end of the machine strip's model row: the automatic chain's state
// (a tap on its text lifts a snooze and the failure back-off), stepping through
// the takes of deck 2's source, and re-rolling the take on deck 2. The chain
// text and counter are read again once a second, so the countdown moves on its
// own; model changes show at once.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

#include <cstdint>
#include <optional>

namespace zelvo {

class AppModel;
class OutpaintModel;

namespace stage {

class StageKey;
class TextLineView;

// What the takes row shows, read from the models now.
struct TakesFace {
    QString chain;
    bool snoozed = false;
    QString counter;
    bool hasTakes = false;
    bool canReroll = false;
    friend bool operator==(const TakesFace&, const TakesFace&) = default;
};
// `outpaint` may be null: then there are no takes and no countdown.
TakesFace takesFace(const AppModel& model, const OutpaintModel* outpaint);

class TakesControl final : public QWidget {
    Q_OBJECT
public:
    TakesControl(AppModel& model, OutpaintModel* outpaint, kit::UiEnv env, QWidget* parent = nullptr);
    ~TakesControl() override;
    // Re-reads the models; changed parts repaint.
    void refresh();
    const TakesFace& face() const { return face_; }

private:
    AppModel& model_;
    OutpaintModel* outpaint_;
    kit::UiEnv env_;
    TakesFace face_;
    QWidget* chain_ = nullptr;
    TextLineView* counter_ = nullptr;
    StageKey* reroll_ = nullptr;
    double lastRead_ = -1e300;
};

} // namespace stage
} // namespace zelvo
