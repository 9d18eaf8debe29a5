#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/Meter.h"
#include "ui/stage/MixerPresenters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

TEST(StageMeter, LevelsMapToFillAndColourOnTheFortyEightDecibelScale)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double level;
        double fill;
        QColor colour;
    };
    const Row rows[] = {
        {1.0, 1.0, kit::Stage::ghostRed()},
        {4.0, 1.0, kit::Stage::ghostRed()},                 // above full scale stays full
        {inf, 1.0, kit::Stage::ghostRed()},
        {0.5, 1 + 20 * std::log10(0.5) / 48, kit::Stage::signal()},  // about −6 dB
        {0.25, 1 + 20 * std::log10(0.25) / 48, kit::Stage::bone()}, // about −12 dB
        {std::pow(10.0, -2.88 / 20) * 1.001, 0.94 + 0.001 * 20 / std::log(10) / 48, kit::Stage::ghostRed()},
        {std::pow(10.0, -9.6 / 20) * 0.999, 0.8 - 0.001 * 20 / std::log(10) / 48, kit::Stage::bone()},
        {0.00398, 0.0, kit::Stage::bone()},                 // −48 dB
        {0.0, 0.0, kit::Stage::bone()},
        {-0.5, 0.0, kit::Stage::bone()},
        {nan, 0.0, kit::Stage::bone()},
    };
    for (const Row& row : rows) {
        const MeterFace face = meterFace(row.level);
        EXPECT_NEAR(face.fill, row.fill, 2e-4) << row.level;
        EXPECT_EQ(face.colour, row.colour) << row.level;
    }
}

TEST(StageMeter, DrawsTheTrackAndABottomCapsuleOfTheFill)
{
    kit::RecordingCanvas full;
    paintMeter(full, QSizeF(6, 70), 0.5);
    const auto fills = full.of(kit::RecordingCanvas::Kind::fill);
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].path.boundingRect(), QRectF(0, 0, 6, 70));
    EXPECT_EQ(fills[0].brush.color(), kit::Stage::line());
    const QRectF bar = fills[1].path.boundingRect();
    EXPECT_NEAR(bar.height(), 70 * meterFace(0.5).fill, 1e-9);
    EXPECT_DOUBLE_EQ(bar.bottom(), 70);
    EXPECT_EQ(fills[1].brush.color(), kit::Stage::signal());

    kit::RecordingCanvas silent;
    paintMeter(silent, QSizeF(6, 70), 0);
    EXPECT_EQ(silent.of(kit::RecordingCanvas::Kind::fill).size(), 1u); // only the empty track
}

TEST(StageMixerPresenter, LayoutsGiveOrderSizesAndParts)
{
    struct Row {
        bool four;
        std::vector<int> order;
        MixerSizes sizes;
    };
    const Row rows[] = {
        {false, {0, 1}, {12, 170, 62, 24, 21, 44, 27, false, false}},
        {true, {2, 0, 1, 3}, {6, 210, 50, 21, 18, 36, 24, true, true}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(mixerOrder(row.four), row.order) << row.four;
        EXPECT_EQ(mixerSizes(row.four), row.sizes) << row.four;
        // One row label per knob row: the trim row is the trim knob's height, the rest the knob's.
        const auto labels = rowLabels(ColorFXKind::crush, row.sizes.labelBase);
        ASSERT_EQ(labels.size(), 5u);
        EXPECT_EQ(labels[0].second, row.sizes.trimSize);
        EXPECT_EQ(labels[4], std::make_pair(QStringLiteral("crush"), row.sizes.knobSize));
    }
}

TEST(StageMixerPresenter, KilledBandsTintRedAndTheEffectReadoutReadsItsSettings)
{
    EXPECT_EQ(bandTint(-1.0), kit::Stage::rbRed());
    EXPECT_EQ(bandTint(-0.98), kit::Stage::rbRed());
    EXPECT_EQ(bandTint(-0.97), kit::Stage::rbBlue());
    EXPECT_EQ(bandTint(0.5), kit::Stage::rbBlue());

    struct Row {
        BeatFXKind kind;
        int beatIndex;
        int target;
        bool on;
        QString kindText;
        QString detail;
    };
    const Row rows[] = {
        {BeatFXKind::echo, 2, 0, false, "echo", QStringLiteral("1/2 \u00b7 mst")},
        {BeatFXKind::roll, 5, 2, true, "roll", QStringLiteral("2 \u00b7 ch2")},
        {BeatFXKind::flanger, 0, 4, false, "flanger", QStringLiteral("1/8 \u00b7 ch4")},
        {BeatFXKind::reverb, 99, 1, false, "reverb", QStringLiteral("16 \u00b7 ch1")}, // clamped into the table
        {BeatFXKind::echo, -3, 0, false, "echo", QStringLiteral("1/8 \u00b7 mst")},
    };
    for (const Row& row : rows) {
        const FXReadoutFace face = fxReadoutFace(row.kind, row.beatIndex, row.target, row.on);
        EXPECT_EQ(face.kind, row.kindText);
        EXPECT_EQ(face.detail, row.detail);
        EXPECT_EQ(face.fill, row.on ? kit::Stage::rbAmber() : kit::Stage::ink());
        EXPECT_EQ(face.kindColour, row.on ? kit::Stage::ink() : kit::Stage::bone());
    }
}

TEST(StageMixerPresenter, AssignKeysGhostsAndDjmColumns)
{
    for (int assign : {-1, 0, 1}) {
        const auto keys = assignKeys(assign);
        ASSERT_EQ(keys.size(), 3u);
        for (const AssignKey& key : keys)
            EXPECT_EQ(key.selected, key.value == assign);
        EXPECT_EQ(keys[0].label + keys[1].label + keys[2].label, "atb");
    }
    EXPECT_EQ(assignKeys(5)[0].selected || assignKeys(5)[1].selected || assignKeys(5)[2].selected, false);
    for (int deck = 0; deck < 4; ++deck)
        EXPECT_EQ(deckGhostOffset(deck), deck == 1 ? 0.8 : 0.0);
    EXPECT_EQ(djmSource(0), "records");
    EXPECT_EQ(djmSource(1), "zelvo-0");
    const std::map<int, QString> routes{{1, "ch 3-4 \u2192 djm 2"}};
    EXPECT_EQ(djmRoute({}, 0), QStringLiteral("\u2014"));
    EXPECT_EQ(djmRoute(routes, 0), QStringLiteral("\u2014"));
    EXPECT_EQ(djmRoute(routes, 1), routes.at(1));
}

} // namespace
} // namespace zelvo::stage
