#pragma once
// The faceplate's top row: the wordmark and model line, the controller badge,
// a glass display reading the audio output (device, rate, buffer, latency,
// DSP load) and the time of day, the model server's lamp and the key that
// opens the settings. The display redraws three times a second; the rest
// when the models change.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo {

class AppModel;
class AudioSystem;
class SettingsAnchor;

namespace stage {
class StageSides;
}

namespace kit {
class LiveCanvas;
class VFDGlass;
} // namespace kit

// What the header's display shows, from plain values.
namespace HeaderFace {

struct Output {
    QString name;
    QString transport;
    double sampleRate = 48000;
    double latency = 0; // seconds
    double dspLoad = 0; // render time over buffer time, 0 to 1
};
struct Inputs {
    std::optional<QString> error;
    std::optional<Output> output; // none while no output is open
    std::int64_t bufferFrames = 0;
};
struct Readout {
    QString text;
    int columns = 0;
    QColor colour;
    bool dim = false;
    friend bool operator==(const Readout&, const Readout&) = default;
};

// The audio error, else the open device's name and transport, else "NO DEVICE".
QString deviceName(const Inputs& inputs);
// The six read-outs, left to right; `now` shows as "HH:mm" in local time.
// Readings that are not finite numbers show as 0.
std::vector<Readout> readouts(const Inputs& inputs, const QDateTime& now);
// The first caption line by controller layout.
QString layoutLine(bool fourDecks);
// The audio system's values now (the DSP load is read from the engine's cell).
Inputs inputsOf(const AudioSystem& audio);

} // namespace HeaderFace

class HeaderStrip final : public kit::DesignBox {
    Q_OBJECT
public:
    static constexpr double kHeight = 34;
    static constexpr double kSpacing = 14;

    // `sides` (may be null: the two-deck layout) tells the controller layout.
    HeaderStrip(AppModel& model, stage::StageSides* sides, const kit::UiEnv& env, double width,
                QWidget* parent = nullptr);
    void setWidth(double width);

    kit::VFDGlass* display() const { return glass_; }
    kit::LiveCanvas* readouts() const { return readouts_; }
    QWidget* settingsKey() const { return key_; }
    // Opens the settings popover under the key while `AppModel::showSettings` is on.
    SettingsAnchor* settingsAnchor() const { return anchor_; }
    // The caption's first line as drawn (before upper-casing).
    QString layoutText() const;

protected:
    void scaleChanged() override;

private:
    void relayout();

    AppModel& model_;
    stage::StageSides* sides_;
    QWidget* wordmark_;
    kit::FaceWidget* caption_;
    kit::FaceWidget* badge_;
    kit::VFDGlass* glass_;
    kit::LiveCanvas* readouts_;
    kit::FaceWidget* lamp_;
    kit::FaceWidget* key_;
    SettingsAnchor* anchor_;
};

} // namespace zelvo
