#pragma once
// The perform module of the faceplate's module row: a key per page ("MIX",
// "FX") with the page's caption, and under it the page the state root names.
// The mix page starts and calls off transitions, picks their style and length
// and shows what the queue loads next; the effects page holds the colour
// effect's kind and parameter, the crossfader curve and the limiter. Both
// pages are built once; the hidden one's live parts do not tick.
//
// Main thread only.
#include "ui/instrument/FaceModule.h"

#include <array>

namespace zelvo {

class AppModel;

namespace kit {
class DesignBox;
class HardKey;
class LiveCanvas;
} // namespace kit

class PerformModule final : public FaceModule {
    Q_OBJECT
public:
    static constexpr double kWidth = 340;

    PerformModule(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
    void paintFace(kit::Canvas& canvas) override;
    // Shows the page the state root names and lights its key.
    void refresh() override;
    kit::DesignBox* mixPage() const { return pages_[0]; }
    kit::DesignBox* fxPage() const { return pages_[1]; }
    kit::LiveCanvas* statusPanel() const { return status_; }
    // The height the module needs with its pages at their full size.
    double idealHeight() const;

protected:
    void designSizeChanged() override;

private:
public:
    // How the module stands `give` points shorter than its full size.
    struct Fit {
        double statusGive = 0; // taken from the status glass
        double gap = 8;        // under the page keys and between the mix page's rows
        double padY = 10;      // above and below
    };
    static Fit fitFor(double give);
    Fit fit() const { return fit_; }

private:
    kit::DesignBox* buildMixPage(const kit::UiEnv& env, double width, const Fit& fit);
    kit::DesignBox* buildFXPage(const kit::UiEnv& env, double width);

    AppModel& model_;
    std::array<kit::HardKey*, 2> pageKeys_{};
    std::array<kit::DesignBox*, 2> pages_{};
    kit::LiveCanvas* status_ = nullptr;
    kit::DesignBox* header_ = nullptr;
    double pageHeight_ = 0;
    Fit fit_;
};

} // namespace zelvo
