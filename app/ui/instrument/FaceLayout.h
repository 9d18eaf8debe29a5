#pragma once
// Where the classic faceplate's parts sit on the design canvas: the walnut
// cheeks, the plate with its screws, and the module column's four rows
// (header, waveforms with the phase column, decks with the mixer, and the
// browser, perform and model modules), for the two- or four-deck layout; and
// inside one deck view, where its parts sit. Every height is derived here from
// the parts' own sizes and the stacks' paddings and spacings: the deck row at
// the ideal height of what it holds, the module row taking what is left.
// Pure; any thread.
#include <QRectF>
#include <QSizeF>

#include <array>
#include <optional>
#include <utility>

namespace zelvo::FaceLayout {

constexpr double kCheek = 26;
constexpr double kPadX = 14;
constexpr double kPadTop = 38;
constexpr double kPadBottom = 12;
constexpr double kRowSpacing = 10;
constexpr double kWaveRow = 156;
constexpr double kWaveSpacing = 8;
constexpr double kPhaseSpacing = 4;
constexpr double kPhaseWidth = 44;
constexpr double kScrew = 9;
constexpr double kScrewInset = 6;
// Slot angles of the screws: top left, top right, bottom left, bottom right.
constexpr std::array<double, 4> kScrewAngles{32, 110, 70, 5};
// Seeds of the left and right cheeks' grain.
constexpr unsigned long long kLeftSeed = 11;
constexpr unsigned long long kRightSeed = 23;

// One deck view's parts as the views report their sizes.
struct DeckParts {
    double header = 60;
    double overview = 34;
    double loopRow = 37; // the keys (26) and the room under them for their legends (11)
    double jog = 218;
    QSizeF transport{54, 144};
    QSizeF pads{4 * 58 + 3 * 5, 19 + 5 + 2 * 38 + 5}; // the pad-mode row over the pad grid
    QSizeF tempo{58, 318};
};

// A deck view's stack, padded 11 all round, spacing 7: the header, the
// overview glass, the loop row and the performance row. The performance row
// holds, top-aligned with 10 between them, the left column (the jog wheel
// centred over the key row, 10 between them; the key row bottom-aligned with
// the transport keys at the left and the pads at the right, at least 12
// apart) and the tempo strip at the right.
struct DeckPlan {
    QRectF header, overview, loops, jog, transport, pads, tempo;
    double height = 0; // the deck view's ideal height
};
constexpr double kDeckPad = 11;
constexpr double kDeckSpacing = 7;
constexpr double kPerformSpacing = 10;
constexpr double kKeyRowSpacing = 12;
DeckPlan deck(const DeckParts& parts, double width);

// A mixer panel's ideal height: padded 9 above and below, its rows hung from
// the top (`rows`, with their own spacings) and the crossfader block at the
// bottom, a flexible spacer between them with the stack's `spacing` on either
// side.
constexpr double kMixerPadY = 9;
double mixerHeight(double rows, double crossfader, double spacing);

struct Input {
    QSizeF design{1600, 1080};
    bool fourDecks = false;
    int leftDeck = 0;  // the deck the controller's left half drives
    int rightDeck = 1; // and its right half
    QSizeF phaseLabel; // the "phase" lettering's size
    QSizeF zoomKeys;   // the zoom keys' size
    QSizeF tabs;       // one pair of deck select tabs
    double deckHeight = 0;  // the deck view's ideal height
    double mixerHeight = 0; // the mixer's ideal height
    double mixerWidth = 0;
    double performWidth = 0;
    double brainWidth = 0;
};

struct Rows {
    QRectF leftCheek, plate, rightCheek;
    QRectF header;
    QRectF waves, phaseLabel, phase, zoom;
    int leftDeck = 0;
    int rightDeck = 1;
    QRectF left, mixer, right;
    std::optional<QRectF> leftTabs, rightTabs; // four decks only
    QRectF browser, perform, brain;
    std::array<QRectF, 4> screws; // in the order of kScrewAngles
};

// The decks the deck row shows, left and right. The two-deck layout always
// shows decks 1 and 2; the four-deck layout the decks under the controller's
// halves (a deck out of 0…3 counts as the half's first deck).
std::pair<int, int> shownDecks(const Input& input);

// The deck row is as high as the taller of the deck view and the mixer; the
// deck views stand at their own height at its top, the mixer fills it.
Rows rows(const Input& input);

} // namespace zelvo::FaceLayout
