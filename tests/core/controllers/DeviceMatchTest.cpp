#include "controllers/ControllerKind.h"
#include "controllers/PlayerModel.h"
#include "controllers/PlayerRouting.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(DeviceMatch, ControllerKindFromDeviceNames)
{
    using ControllerKinds::match;
    EXPECT_EQ(match("DDJ-FLX4"), ControllerKind::flx4);
    EXPECT_EQ(match("ddj-flx4 audio"), ControllerKind::flx4);
    EXPECT_EQ(match("Pioneer FLX4"), ControllerKind::flx4);
    EXPECT_EQ(match("DDJ-FLX10"), ControllerKind::flx10);
    EXPECT_EQ(match("ddj flx-10"), ControllerKind::flx10);
    // A name with both reads as the larger model.
    EXPECT_EQ(match("FLX4 / FLX10 bridge"), ControllerKind::flx10);
    EXPECT_EQ(match("FLX 4"), std::nullopt);
    EXPECT_EQ(match(""), std::nullopt);
    EXPECT_EQ(match("Built-in Output"), std::nullopt);

    EXPECT_EQ(ControllerKinds::rawText(ControllerKind::flx4), "flx4");
    EXPECT_EQ(ControllerKinds::rawText(ControllerKind::flx10), "flx10");
    EXPECT_EQ(ControllerKinds::fromRawText("flx10"), ControllerKind::flx10);
    EXPECT_EQ(ControllerKinds::fromRawText("FLX4"), std::nullopt);

    using Bytes = std::array<std::uint8_t, 12>;
    EXPECT_EQ(ControllerKinds::keepAlive(ControllerKind::flx4),
              (Bytes{0xF0, 0x00, 0x40, 0x05, 0x00, 0x00, 0x04, 0x05, 0x00, 0x50, 0x02, 0xF7}));
    EXPECT_EQ(ControllerKinds::keepAlive(ControllerKind::flx10),
              (Bytes{0xF0, 0x00, 0x40, 0x05, 0x00, 0x00, 0x04, 0x01, 0x00, 0x50, 0x00, 0xF7}));
    EXPECT_EQ(ControllerKinds::model(ControllerKind::flx10), "DDJ-FLX10");
    EXPECT_EQ(ControllerKinds::label(ControllerKind::flx4), "FLX4");
    EXPECT_EQ(ControllerKinds::deckCount(ControllerKind::flx10), 4);
    EXPECT_EQ(ControllerKinds::jogTicksPerTurn(ControllerKind::flx4), 720);
    EXPECT_EQ(ControllerKinds::jogTicksPerTurn(ControllerKind::flx10), 5760);
}

TEST(DeviceMatch, PlayerModelFromDeviceNames)
{
    using PlayerModels::match;
    EXPECT_EQ(match("CDJ-3000X"), PlayerModel::cdj3000x);
    EXPECT_EQ(match("cdj3000x audio"), PlayerModel::cdj3000x);
    EXPECT_EQ(match("CDJ-3000"), PlayerModel::cdj3000);
    EXPECT_EQ(match("Pioneer cdj3000 #2"), PlayerModel::cdj3000);
    EXPECT_EQ(match("CDJ-2000NXS2"), std::nullopt);
    // Spaces between the parts of the model name are ignored.
    EXPECT_EQ(match("CDJ 3000"), PlayerModel::cdj3000);
    EXPECT_EQ(match("pioneer cdj 3000 x"), PlayerModel::cdj3000x);
    EXPECT_EQ(match("CDJ - 3000X MIDI 1"), PlayerModel::cdj3000x);
    EXPECT_EQ(match("CDJ 300 0"), PlayerModel::cdj3000);
    EXPECT_EQ(match("CDJ-300"), std::nullopt);
    EXPECT_EQ(match(""), std::nullopt);
    EXPECT_EQ(PlayerModels::model(PlayerModel::cdj3000x), "CDJ-3000X");
    EXPECT_EQ(PlayerModels::model(PlayerModel::cdj3000), "CDJ-3000");

    EXPECT_EQ(PlayerModels::rawText(PlayerModel::cdj3000x), "cdj3000x");
    EXPECT_EQ(PlayerModels::fromRawText("cdj3000"), PlayerModel::cdj3000);
    EXPECT_EQ(PlayerModels::fromRawText("cdj3000X"), std::nullopt);
}

AudioDevice card(std::string uid, std::string name = "CDJ-3000X")
{
    AudioDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.outputChannels = 2;
    return d;
}

TEST(DeviceMatch, CardsPairWithThePlayerAtTheirUsbLocationFirst)
{
    // Locations 0x14200000 and 0x14300000; listed in the "wrong" order.
    const auto b = card("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1,2");
    const auto a = card("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1,2");
    // Deck 0's player sits at 0x14300000, deck 1's at 0x14200000.
    auto pairs = PlayerRouting::pairCards({b, a}, {{1, 0x14200000}, {0, 0x14300000}});
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs.at(0).uid, b.uid);
    EXPECT_EQ(pairs.at(1).uid, a.uid);
}

TEST(DeviceMatch, PlayersWithoutAMatchingCardTakeWhatIsLeftInUidOrder)
{
    const auto usb = card("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1");
    const auto x = card("x.card");
    const auto m = card("m.card");
    // Deck 2's player owns the USB card; decks 0 and 1 get the rest sorted by UID
    // ("AppleUSB..." < "m.card" < "x.card", so the USB card would come first).
    auto pairs = PlayerRouting::pairCards({x, usb, m}, {{2, 0x14200000}, {1, 7}, {0, 9}});
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs.at(2).uid, usb.uid);
    EXPECT_EQ(pairs.at(0).uid, m.uid);
    EXPECT_EQ(pairs.at(1).uid, x.uid);

    // More players than cards: the lowest decks are served.
    pairs = PlayerRouting::pairCards({x}, {{1, 0}, {0, 0}});
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs.at(0).uid, x.uid);

    EXPECT_TRUE(PlayerRouting::pairCards({}, {{0, 1}}).empty());
    EXPECT_TRUE(PlayerRouting::pairCards({x}, {}).empty());
}

TEST(DeviceMatch, TheSameCardListedTwiceServesTwoPlayers)
{
    const auto one = card("fake.card");
    auto pairs = PlayerRouting::pairCards({one, one}, {{0, 1}, {1, 2}});
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs.at(0).uid, "fake.card");
    EXPECT_EQ(pairs.at(1).uid, "fake.card");
}

} // namespace
} // namespace zelvo
