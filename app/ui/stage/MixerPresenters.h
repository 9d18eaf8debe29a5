#pragma once
// Pure rules behind the stage mixer and the DJM card: channel order and sizes
// per controller layout, knob tints, the effect read-out's texts, the
// crossfader-assign keys and the card's route texts; plus the engine's peak
// cells as the meters read them.
//
// The face functions: any thread. The peak readers: main thread.
#include "audio/BeatFX.h"
#include "audio/ColorFX.h"

#include <QColor>
#include <QString>

#include <map>
#include <utility>
#include <vector>

namespace zelvo {
class AudioSystem;
}

namespace zelvo::stage {

// Channel indices left to right; the master column stands between the first
// and the last half: 0, 1 for two decks; 2, 0, 1, 3 for four.
std::vector<int> mixerOrder(bool fourDecks);

// Sizes (points) and parts that follow the controller layout.
struct MixerSizes {
    double spacing = 0;          // between strips and the master column
    double crossfaderLength = 0;
    double stripWidth = 0;
    double knobSize = 0;         // hi, mid, low, colour FX
    double trimSize = 0;         // knob size − 3
    double cueWidth = 0;
    double labelBase = 0;        // row labels of the master column
    bool partDots = false;
    bool assignRow = false;
    friend bool operator==(const MixerSizes&, const MixerSizes&) = default;
};
MixerSizes mixerSizes(bool fourDecks);

// A band knob at or below −0.98 is a killed band: red, else blue.
QColor bandTint(double value);

QString colorFXName(ColorFXKind kind);
QString beatFXName(BeatFXKind kind);

// The beat-effect read-out: kind, "length · target", and whether it is lit.
struct FXReadoutFace {
    QString kind;
    QString detail;
    bool on = false;
    QColor fill;        // amber while on, else ink
    QColor kindColour;  // ink while on, else bone
    QColor detailColour; // ink at 0.8 while on, else ash
};
// `beatIndex` outside the length table is clamped into it.
FXReadoutFace fxReadoutFace(BeatFXKind kind, int beatIndex, int target, bool on);

// The master column's five row labels with their frame heights.
std::vector<std::pair<QString, double>> rowLabels(ColorFXKind kind, double labelBase);

// Ghost offset of a strip's channel number or a deck badge: only deck 2 (the
// model's deck, index 1) carries visible copies.
double deckGhostOffset(int index);

// The three crossfader-assign keys: value, label, selected.
struct AssignKey {
    int value;
    QString label;
    bool selected;
};
std::vector<AssignKey> assignKeys(int assign);

// The DJM card's source label and route text of a deck.
QString djmSource(int deck);
QString djmRoute(const std::map<int, QString>& routes, int deck);

// The running engine's peaks; 0 without an engine or for an index it lacks.
double channelPeak(const AudioSystem& audio, int channel);
std::pair<double, double> masterPeaks(const AudioSystem& audio);

} // namespace zelvo::stage
