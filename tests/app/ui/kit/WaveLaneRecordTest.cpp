#include "ui/kit/Canvas.h"
#include "ui/kit/waves/FaceplateWaves.h"
#include "ui/kit/waves/WaveLane.h"
#include "ui/kit/waves/WaveTiles.h"

#include <QUuid>
#include <gtest/gtest.h>

namespace zelvo::kit {
namespace {

using DrawKind = RecordingCanvas::Kind;

// A deck holding a record whose analysis gave no waveform (it failed, or has
// not run yet) is not an empty deck: its lane never says so.
TEST(WaveLaneRecord, ALoadedRecordWithoutWaveformIsNoEmptyDeck)
{
    struct Case {
        const char* name;
        bool voice, loaded, loading, grid;
        QStringList texts;
        bool lane; // draws the lane's cue and ticks
    };
    for (const Case& c : {
             Case{"playing, no waveform", true, true, false, true, {}, true},
             Case{"loaded, no waveform, no grid", true, true, false, false, {}, true},
             Case{"voice not loaded yet", true, false, true, false, {QStringLiteral("LOADING")}, false},
             Case{"record kept after a failed load", false, false, false, false, {}, false},
         }) {
        WaveDeck d;
        d.index = 0;
        d.loading = c.loading;
        d.track = QUuid::createUuid();
        if (c.grid)
            d.grid = BeatGrid(120, 0.25, 4);
        if (c.voice) {
            WaveDeck::Cells cells;
            cells.loaded = c.loaded;
            cells.playing = c.loaded;
            cells.position = 10;
            cells.duration = 60;
            cells.cuePoint = 9;
            d.voice = cells;
        }
        WaveTiles tiles;
        LaneState state;
        RecordingCanvas canvas;
        LaneFrame frame;
        frame.rect = QRectF(0, 0, 1000, 140);
        frame.audible = true;
        frame.scale = 1;
        frame.dt = 1 / 60.0;
        drawLane(canvas, tiles, state, d, frame);
        EXPECT_EQ(canvas.texts(), c.texts) << c.name;
        // The cue triangle is the lane's only filled path here.
        EXPECT_EQ(canvas.of(DrawKind::fill).size(), c.lane ? 1u : 0u) << c.name;
        if (c.grid && c.lane) {
            EXPECT_GT(canvas.of(DrawKind::rects).size(), 3u) << c.name << ": beat and bar ticks";
            EXPECT_GT(state.flash, 0) << c.name << ": a quiet beat flash without a waveform to read";
        }
    }
}

TEST(WaveLaneRecord, TheFaceplatesStackedLaneSaysNothingOfAnEmptyDeckForALoadedRecord)
{
    WaveDeck d;
    d.index = 0;
    WaveDeck::Cells cells;
    cells.loaded = true;
    d.voice = cells;
    RecordingCanvas empty;
    FaceWaves::drawStackedLane(empty, d, QRectF(0, 0, 600, 60), 1, std::nullopt, -1, 0);
    EXPECT_FALSE(empty.ops().empty()) << "an empty deck asks for a track";
    d.track = QUuid::createUuid();
    RecordingCanvas loaded;
    FaceWaves::drawStackedLane(loaded, d, QRectF(0, 0, 600, 60), 1, std::nullopt, -1, 0);
    EXPECT_TRUE(loaded.ops().empty());
    d.loading = true;
    RecordingCanvas loading;
    FaceWaves::drawStackedLane(loading, d, QRectF(0, 0, 600, 60), 1, std::nullopt, -1, 0);
    EXPECT_FALSE(loading.ops().empty()) << "a loading deck says so";
}

} // namespace
} // namespace zelvo::kit
