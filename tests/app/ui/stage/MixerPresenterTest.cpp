#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/Meter.h"

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

} // namespace
} // namespace zelvo::stage
