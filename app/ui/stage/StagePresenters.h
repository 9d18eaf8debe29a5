#pragma once
// Pure functions behind the stage screen: which decks get a lane, lane and
// faceplate geometry, and the lane header's texts,
// colours and chips. Every value here follows from model values alone, so the
// widgets stay thin and the rules are tested without a window.
//
// Any thread (no state); the widgets call them on the main thread.
#include "library/BeatGrid.h"
#include "library/MusicalKey.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace zelvo::stage {

// The deck indices that get a lane, in display order: all four with the
// four-deck controller layout, else the first two.
std::vector<int> deckOrder(bool fourDecks);

// Whether a deck is under one of the controller's two sides.
bool isTargeted(int deck, int leftDeck, int rightDeck);

// The height of one expanded lane on a screen `screenHeight` high.
double laneHeight(double screenHeight, bool browsing, bool fourDecks);
// The height a lane's frame takes: the expanded height, or 42 when folded.
double laneFrameHeight(double expandedHeight, bool expanded);
// Whether a lane of that height shows the full-size form.
bool laneIsTall(double expandedHeight, bool expanded);
inline constexpr double kFoldedLane = 42;
inline constexpr double kBrowserMinimum = 150;
inline constexpr double kBrowserMinimumBrowsing = 260;

// How the stage's column fits a window `height` high when the middle row
// would leave the browser less than its floor (the four-deck layout's short
// windows): the browser gives way first, below its 150 points and down to
// hidden once it could not show its header and one row; then the machine
// strip takes its compact form; only then does the stage ask for more height.
// `above` is everything over the middle row (the margin, the status bar, the
// lanes and the gaps between them) at this height and `leastAbove` the same
// with the lanes at their floor; `middle` and `compactMiddle` are the middle
// row's height with the strip in either form. While browsing there is no
// middle row and the browser keeps its floor of 260.
struct StageFit {
    double browserMinimum = kBrowserMinimum;
    bool browserShown = true;
    bool compactStrip = false;
    double leastHeight = 0; // the least height the stage is whole in
    friend bool operator==(const StageFit&, const StageFit&) = default;
};
inline constexpr double kStageMargin = 14;
inline constexpr double kStageSpacing = 10;
inline constexpr double kBrowserLeast = 80;
StageFit fitStage(double height, double above, double leastAbove, double middle, double compactMiddle, bool browsing);

// How the classic faceplate fits a window: scale s and the design canvas
// W × H; drawn s·W × s·H, centred. A window without width or height gets s = 0.
struct FaceplateFit {
    double scale = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const FaceplateFit&, const FaceplateFit&) = default;
};
FaceplateFit faceplateFit(double windowWidth, double windowHeight);

// What the beat counter shows.
struct BeatFace {
    int beat = 0;           // lit box 1…4; 0 lights none
    bool litFirst = false;  // the lit box is the bar's first
    bool showPhrase = false; // the phrase frame is there (playing, usable grid)
    QString phrase;         // "phrase in N" in the last four bars, else empty
    bool phraseUrgent = false; // the last bar before the phrase
};
// A grid is usable for counting when it is valid, its first beat finite and a
// bar holds at least one beat (as the wave lane's ticks require).
bool usableGrid(const std::optional<BeatGrid>& grid);
BeatFace beatFace(double position, const std::optional<BeatGrid>& grid, bool playing);

// The key read-out: "—" without a key; the key's code, shifted by `shift`
// semitones (wrapping both ways), then "+n" or "-n".
QString keyText(const std::optional<MusicalKey>& key, int shift);

struct ChipFace {
    QString text;
    bool on = false;
    friend bool operator==(const ChipFace&, const ChipFace&) = default;
};

// Everything the lane header draws, from the deck's values.
struct HeaderInputs {
    int deck = 0;
    bool isAI = false;
    bool hasTrack = false;
    bool loading = false;
    QString title;
    QString artist;
    std::optional<QString> error;
    double position = 0;
    double duration = 0;
    std::optional<double> musicEnd;
    bool playing = false;
    double tempoRatio = 1;
    double gridBpm = 0;
    std::optional<MusicalKey> key;
    int keyShift = 0;
    std::optional<double> aiBuffer;
    bool master = false;
    bool sync = false;
    bool loop = false;
    bool slip = false;
    bool targeted = false;
};

struct HeaderFace {
    QString badge;
    QColor badgeFill;
    bool modelTag = false;
    QString title;
    QColor titleColor;
    int titleGhost = 0;
    QString clock;
    QColor clockColor;
    QString artist;
    QColor artistColor;
    QString tempo;
    QString key;
    QString offset;
    QColor offsetColor;
    std::vector<ChipFace> chips;
};
HeaderFace headerFace(const HeaderInputs& in);

// Where the lane header's rows lie, top to bottom, in a header `height` points
// high. The thin form keeps fixed rows. The tall form spaces its rows out at
// 112 points and up; below that the padding, the gaps, the first two rows and
// the overview strip tighten together, down to a header of 80 points, the
// shortest tall lane, which still holds every row whole.
struct HeaderRows {
    double row1 = 0, row1Height = 0;   // badge, title, clock
    double row2 = 0, row2Height = 0;   // artist, tempo, key, offset
    double strip = 0, stripHeight = 0; // the overview (tall only)
    double row3 = 0, row3Height = 0;   // beat counter, part dots, chips (tall only)
    double bottom = 0;                 // where the last row ends
};
inline constexpr double kTallHeader = 112;
inline constexpr double kShortestTallHeader = 80;
HeaderRows headerRows(double height, bool tall);

// Where the tall header's third row lays its pieces across a header `width`
// points wide (12-point padding): the four beat boxes, the 70-point phrase
// frame only while it shows (a playing deck with a usable grid), the three
// part dots (a 6-point dot, 3 points, the letter `letterWidth` wide; 4 points
// between parts), and right of them, 6 + 6 points on (the gaps either side of
// the row's spacer), the room the chips share up to the right padding.
struct HeaderRow3 {
    std::array<double, 3> part{}; // each part's left edge
    double partWidth = 0;         // a part's dot and letter
    double chipsLeft = 0, chipsRight = 0;
};
HeaderRow3 headerRow3(double width, bool phraseFrame, double letterWidth);

// How many of `widths` (in the header's chip order) to show, `gap` apart, in
// `room` points: the last in order drop out whole until the rest fit.
int chipsThatFit(const std::vector<double>& widths, double room, double gap);

} // namespace zelvo::stage
