#pragma once
// What the faceplate mixers and the perform module show, as plain values:
// strip labels and order, the record lamp's sublabel, the beat-effect display
// and steps, the browse knob's steps, deck tabs, the mix page's keys, bar and
// up-next panel, and the perform module's caption. Pure functions, any thread.
#include "audio/BeatFX.h"
#include "models/TransitionModel.h"
#include "models/TransitionStyle.h"

#include <QString>
#include <QUuid>

#include <array>
#include <optional>
#include <vector>

namespace zelvo::face {

// "CH" and the channel's number from 1.
QString stripLabel(int index);
// The four-channel mixer's columns left to right: channels 3, 1, the master
// (−1), 2 and 4, as on the controller.
inline constexpr std::array<int, 5> kFourStripOrder{2, 0, -1, 1, 3};

// The record lamp's sublabel: "set" while not recording, else the recorded
// time as "m:ss". A time that is not finite, negative or beyond the int range
// reads as not recording.
QString recordSublabel(bool recording, double seconds);
// A recorded time made safe for display: none when it cannot be shown.
std::optional<int> wholeSeconds(double seconds);

// The beat-effect display's two lines.
struct BeatFXLines {
    QString kind;
    QString beats;
};
BeatFXLines beatFXLines(BeatFXKind kind, int beatIndex, double masterBPM);
// The kind `step` places on, wrapping at both ends.
BeatFXKind cycleKind(BeatFXKind kind, int step);
// The beat-length index `delta` places on, clamped to the table (0…8).
int stepBeat(int index, int delta);

// The browse knob's drag: the movement since the previous event turns into
// whole steps; the remainder carries over to the next event.
struct BrowseDrag {
    static constexpr double kPointsPerStep = 14;
    double carry = 0;
    double lastY = 0;
    double startY = 0;
    long taken = 0;
    // The pointer moved to `y` (design points, down positive): the steps to
    // take, positive toward the end of the list.
    int moveTo(double y);
    void begin(double y)
    {
        carry = 0;
        lastY = y;
        startY = y;
        taken = 0;
    }
};
// The selection `delta` places from `selected` in `ids`, clamped; a selection
// the list does not hold counts as position 0. None for an empty list.
std::optional<QUuid> browseStep(const std::vector<QUuid>& ids, const std::optional<QUuid>& selected, int delta);

// A deck tab: lit for the deck its half drives; blinking for the other one
// while it plays.
struct TabFace {
    QString label;
    bool lit = false;
    bool blink = false;
};
// The decks of a controller half: 1 and 3 for side 0, 2 and 4 for any other.
std::array<int, 2> tabDecks(int side);
TabFace tabFace(int deck, int activeDeck, bool playing);
// "deck " and the deck's number from 1.
QString deckSublabel(int deck);

// The perform module's caption for a page (mix: true).
QString pageCaption(bool mixPage);

// The mix page's two keys and bar.
struct MixKeyFace {
    QString label;
    QString sublabel;
    bool lit = false;
    bool blink = false;
};
// `deck` 0 or 1; `generated`: deck 2 holds a generated take.
MixKeyFace mixKey(int deck, const TransitionModel::Phase& phase, int liveDeck, bool generated);
inline constexpr int kMixSlots = 32;
// Which of the 32 slots are lit: progress counts only while mixing; toward
// deck 2 it fills from the left, otherwise from the right.
std::array<bool, kMixSlots> mixSlots(const TransitionModel::Phase& phase);
// The style keys' labels and widths.
struct StyleKey {
    TransitionStyle style;
    QString label;
    double width;
};
const std::array<StyleKey, 4>& styleKeys();
inline constexpr std::array<int, 4> kBarCounts{8, 16, 32, 64};

// The up-next panel.
struct UpNextFace {
    QString header;
    std::optional<QString> fit;
    bool fitGood = false;
    QString title;
    bool titleFound = false;
};
// `queued`: ids in the queue; `nextTitle`: the title of the first the library
// holds (none when none); `score`: its fit.
UpNextFace upNext(int queued, int liveDeck, const std::optional<QString>& nextTitle, std::optional<double> score,
                  bool autoQueue);
// The "FIT" number: the score × 100 rounded half away from zero; none for a
// score that is not finite.
std::optional<long> fitPercent(double score);

// The guide's marquee phase at `secondsSince2001`: 5 columns a second.
inline double guidePhase(double secondsSince2001) { return secondsSince2001 * 5.0; }

} // namespace zelvo::face
