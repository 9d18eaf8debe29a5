// The mixer and channel models against the engine's parameter cells.
#include "audio/GainLaws.h"
#include "audio/MixerParams.h"
#include "models/MixerModel.h"

#include <QObject>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace zelvo;

namespace {

std::shared_ptr<MixerParams> freshCells()
{
    return std::make_shared<MixerParams>(4);
}

} // namespace

TEST(MixerModelTest, BindingPushesTheWholeMixerIntoNewCells)
{
    MixerModel mixer;
    mixer.channel(2).setLow(-0.4);
    mixer.setBeatFXBeatIndex(6);
    auto cells = freshCells();
    mixer.bind(cells);
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(cells->channel(std::size_t(i)).fader.load(), 0.85);
        EXPECT_EQ(cells->channel(std::size_t(i)).crossfaderAssign.load(), i % 2 == 0 ? -1 : 1);
    }
    EXPECT_DOUBLE_EQ(cells->channel(2).low.load(), -0.4);
    EXPECT_DOUBLE_EQ(cells->master.load(), 0.8);
    EXPECT_DOUBLE_EQ(cells->crossfader.load(), 0.0);
    EXPECT_DOUBLE_EQ(cells->beatFXBeats.load(), 4.0);
    EXPECT_DOUBLE_EQ(cells->phones.load(), 0.7);

    // A rebuilt engine gets the same settings; the old cells are left alone.
    mixer.setCrossfader(0.3);
    auto rebuilt = freshCells();
    mixer.bind(rebuilt);
    mixer.setMaster(0.5);
    EXPECT_DOUBLE_EQ(rebuilt->crossfader.load(), 0.3);
    EXPECT_DOUBLE_EQ(rebuilt->master.load(), 0.5);
    EXPECT_DOUBLE_EQ(cells->master.load(), 0.8);
}

TEST(MixerModelTest, AssignmentsStoreEveryTimeButNotifyOnlyOnChange)
{
    MixerModel mixer;
    int crossfaderSignals = 0, lowSignals = 0;
    QObject::connect(&mixer, &MixerModel::crossfaderChanged, [&] { ++crossfaderSignals; });
    QObject::connect(&mixer.channel(1), &ChannelModel::lowChanged, [&] { ++lowSignals; });

    // Unbound: only the model changes.
    mixer.setCrossfader(0.2);
    EXPECT_EQ(crossfaderSignals, 1);

    auto cells = freshCells();
    mixer.bind(cells);
    cells->crossfader.store(-0.9);
    mixer.setCrossfader(0.2);
    EXPECT_DOUBLE_EQ(cells->crossfader.load(), 0.2);
    EXPECT_EQ(crossfaderSignals, 1);

    mixer.channel(1).setLow(-1.0);
    cells->channel(1).low.store(0.0);
    mixer.channel(1).setLow(-1.0);
    EXPECT_DOUBLE_EQ(cells->channel(1).low.load(), -1.0);
    EXPECT_EQ(lowSignals, 1);

    mixer.setColorFXKind(ColorFXKind::space);
    mixer.setBeatFXKind(BeatFXKind::flanger);
    EXPECT_EQ(cells->colorFXKind.load(), 3);
    EXPECT_EQ(cells->beatFXKind.load(), 2);

    // The engine dropped its cells: the model carries on alone.
    cells.reset();
    mixer.setCrossfader(-0.5);
    EXPECT_EQ(mixer.crossfader(), -0.5);
    EXPECT_FALSE(mixer.params());
}

TEST(MixerModelTest, BeatLengthIndexStaysInsideTheTable)
{
    MixerModel mixer;
    auto cells = freshCells();
    mixer.bind(cells);
    mixer.setBeatFXBeatIndex(12);
    EXPECT_EQ(mixer.beatFXBeatIndex(), 8);
    EXPECT_DOUBLE_EQ(cells->beatFXBeats.load(), beatFractions[8]);
    mixer.setBeatFXBeatIndex(-3);
    EXPECT_EQ(mixer.beatFXBeatIndex(), 0);
    EXPECT_DOUBLE_EQ(cells->beatFXBeats.load(), 0.125);
    mixer.setBeatFXBeatIndex(2);
    EXPECT_DOUBLE_EQ(cells->beatFXBeats.load(), 0.5);
}

TEST(MixerModelTest, KilledPartsComeBackAtTheirLevel)
{
    MixerModel mixer;
    auto cells = freshCells();
    mixer.bind(cells);
    ChannelModel& ch = mixer.channel(0);
    ch.setLow(0.3);
    ch.togglePart(ChannelModel::kLow);
    EXPECT_EQ(ch.low(), -1.0);
    EXPECT_DOUBLE_EQ(cells->channel(0).low.load(), -1.0);
    EXPECT_EQ(ch.partsSaved()[0], 0.3);
    EXPECT_TRUE(ch.partsOff()[0]);
    ch.togglePart(ChannelModel::kLow);
    EXPECT_EQ(ch.low(), 0.3);
    EXPECT_FALSE(ch.partsOff()[0]);

    ch.setMid(0.2);
    ch.togglePart(ChannelModel::kMid);
    ch.touchedBand(1);
    EXPECT_FALSE(ch.partsOff()[1]);
    EXPECT_EQ(ch.mid(), -1.0);
    EXPECT_EQ(ch.partsSaved()[1], 0.2);

    // Out-of-range parts and bands change nothing.
    const auto off = ch.partsOff();
    const auto saved = ch.partsSaved();
    for (int bad : {-1, 3, 1000}) {
        ch.togglePart(bad);
        ch.touchedBand(bad);
    }
    EXPECT_EQ(ch.partsOff(), off);
    EXPECT_EQ(ch.partsSaved(), saved);
    EXPECT_EQ(ch.high(), 0.0);
}

TEST(MixerModelTest, DropArmedFollowsTheEnginesDropCell)
{
    MixerModel mixer;
    EXPECT_FALSE(mixer.dropArmed());
    auto cells = freshCells();
    mixer.bind(cells);
    EXPECT_FALSE(mixer.dropArmed());
    cells->dropOffset.store(12.5);
    EXPECT_TRUE(mixer.dropArmed());
    cells->dropOffset.store(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(mixer.dropArmed());
}
