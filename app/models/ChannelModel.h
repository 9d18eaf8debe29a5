#pragma once
// The main-thread model of one mixer channel: trim, the three isolator bands,
// the colour-effect knob, fader, headphone cue, tempo sync and crossfader side,
// mirrored into the engine's `ChannelParams` cells. It holds the cells weakly,
// so the engine can be rebuilt under it; `bind` pushes the whole channel into
// new cells.
//
// Each property notifies when its value changes, and stores into its cell on
// every assignment (also an unchanged one) while the channel is bound.
//
// Main thread only.
#include "audio/MixerParams.h"

#include <QObject>
#include <array>
#include <memory>

namespace zelvo {

class ChannelModel final : public QObject {
    Q_OBJECT

public:
    // Band indices of `togglePart`, `touchedBand`, `partsOff` and `partsSaved`.
    static constexpr int kLow = 0, kMid = 1, kHigh = 2;

    // A channel on crossfader side `crossfaderAssign` (−1 A, 0 thru, +1 B). Main thread.
    explicit ChannelModel(int crossfaderAssign, QObject* parent = nullptr);

    // Takes the cells (weakly) and stores every control into them. Main thread.
    void bind(const std::shared_ptr<ChannelParams>& params);
    // The cells this channel writes; null when unbound or the engine is gone. Main thread.
    std::shared_ptr<ChannelParams> params() const { return params_.lock(); }

    // Kills a band (0 low, 1 mid, 2 high), remembering its value, or brings the
    // remembered value back. Other indices do nothing. Main thread.
    void togglePart(int part);
    // A hardware knob of this band moved: the part counts as on again; the band's
    // value is left to the knob. Other indices do nothing. Main thread.
    void touchedBand(int band);

    double trim() const { return trim_; }
    double high() const { return high_; }
    double mid() const { return mid_; }
    double low() const { return low_; }
    double colorFX() const { return colorFX_; }
    double fader() const { return fader_; }
    bool cue() const { return cue_; }
    bool sync() const { return sync_; }
    int crossfaderAssign() const { return crossfaderAssign_; }
    const std::array<bool, 3>& partsOff() const { return partsOff_; }
    const std::array<double, 3>& partsSaved() const { return partsSaved_; }

    // Main thread. Each stores into its cell on every assignment while bound.
    void setTrim(double value);
    void setHigh(double value);
    void setMid(double value);
    void setLow(double value);
    void setColorFX(double value);
    void setFader(double value);
    void setCue(bool on);
    void setSync(bool on);
    void setCrossfaderAssign(int side);

signals:
    void trimChanged();
    void highChanged();
    void midChanged();
    void lowChanged();
    void colorFXChanged();
    void faderChanged();
    void cueChanged();
    void syncChanged();
    void crossfaderAssignChanged();
    void partsOffChanged();
    void partsSavedChanged();

private:
    void setBand(int part, double value);

    double trim_ = 0.0;
    double high_ = 0.0;
    double mid_ = 0.0;
    double low_ = 0.0;
    double colorFX_ = 0.0;
    double fader_ = 0.85;
    bool cue_ = false;
    bool sync_ = false;
    int crossfaderAssign_;
    std::array<bool, 3> partsOff_{false, false, false};
    std::array<double, 3> partsSaved_{0.0, 0.0, 0.0};
    std::weak_ptr<ChannelParams> params_;
};

} // namespace zelvo
