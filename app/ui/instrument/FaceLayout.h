#pragma once
// Where the classic faceplate's parts sit on the design canvas: the walnut
// cheeks, the plate with its screws, and the module column's four rows
// (header, waveforms with the phase column, decks with the mixer, and the
// browser, perform and model modules), for the two- or four-deck layout.
// Pure; any thread.
#include <QRectF>
#include <QSizeF>

#include <array>
#include <optional>

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

struct Input {
    QSizeF design{1600, 1080};
    bool fourDecks = false;
    int leftDeck = 0;  // the deck the controller's left half drives
    int rightDeck = 1; // and its right half
    QSizeF phaseLabel; // the "phase" lettering's size
    QSizeF zoomKeys;   // the zoom keys' size
    QSizeF tabs;       // one pair of deck select tabs
    double deckHeight = 0; // the deck view's ideal height
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

// The two-deck layout always shows decks 1 and 2; the four-deck layout the
// decks under the controller's halves (a deck out of 0…3 counts as the
// half's first deck).
Rows rows(const Input& input);

} // namespace zelvo::FaceLayout
