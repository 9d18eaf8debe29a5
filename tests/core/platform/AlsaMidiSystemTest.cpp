#include "platform/AlsaMidiSystem.h"
#include "platform/UsbLocation.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace zelvo {
namespace {

using AlsaMidi::ChannelEvent;
using T = ChannelEvent::Type;

TEST(AlsaMidi, ChannelEventsBecomeChannelVoiceWords)
{
    struct Row {
        ChannelEvent event;
        std::vector<std::uint32_t> words;
    };
    const std::vector<Row> rows = {
        {{T::noteOn, 0, 0x0B, 0x7F}, {0x20900B7F}},
        {{T::noteOn, 3, 0x0B, 0x00}, {0x20930B00}}, // velocity 0 stays a note on
        {{T::noteOff, 15, 0x40, 0x40}, {0x208F4040}},
        {{T::keyPressure, 1, 0x3C, 0x22}, {0x20A13C22}},
        {{T::controller, 6, 0x40, 0x7F}, {0x20B6407F}},
        {{T::control14, 0, 0x13, 8192 + 5}, {0x20B01340, 0x20B03305}},
        {{T::control14, 4, 0x02, 16383}, {0x20B4027F, 0x20B4227F}},
        {{T::control14, 4, 0x02, 20000}, {0x20B4027F, 0x20B4227F}},
        {{T::control14, 0, 0x40, 0x05}, {0x20B04005}},
        {{T::programChange, 2, 0, 0x11}, {0x20C21100}},
        {{T::channelPressure, 9, 0, 0x33}, {0x20D93300}},
        {{T::pitchBend, 0, 0, -8192}, {0x20E00000}},
        {{T::pitchBend, 0, 0, 0}, {0x20E00040}},
        {{T::pitchBend, 0, 0, 8191}, {0x20E07F7F}},
        // Out-of-range fields are kept to their bits.
        {{T::controller, 0x11, 0xC0, 0x1FF}, {0x20B1407F}},
    };
    for (const auto& r : rows) {
        std::uint32_t out[2] = {};
        const int n = AlsaMidi::toWords(r.event, out);
        EXPECT_EQ(std::vector<std::uint32_t>(out, out + n), r.words) << int(r.event.type) << " " << r.event.param;
    }
}

TEST(AlsaMidi, DisplayNamesOrderAndUniqueIds)
{
    EXPECT_EQ(AlsaMidi::displayName("DDJ-FLX4", "DDJ-FLX4 MIDI 1"), "DDJ-FLX4 MIDI 1");
    EXPECT_EQ(AlsaMidi::displayName("CDJ-3000X", "MIDI 1"), "CDJ-3000X MIDI 1");
    EXPECT_EQ(AlsaMidi::displayName("", "Port"), "Port");
    EXPECT_EQ(AlsaMidi::displayName("Midi Through", "Midi Through Port-0"), "Midi Through Port-0");

    std::vector<AlsaMidi::Address> a = {{24, 1}, {20, 0}, {24, 0}, {128, 0}, {20, 3}};
    std::sort(a.begin(), a.end());
    EXPECT_EQ(a, (std::vector<AlsaMidi::Address>{{20, 0}, {20, 3}, {24, 0}, {24, 1}, {128, 0}}));

    const auto id = AlsaMidi::uniqueId("CDJ-3000X", "CDJ-3000X MIDI 1");
    EXPECT_EQ(id, AlsaMidi::uniqueId("CDJ-3000X", "CDJ-3000X MIDI 1"));
    EXPECT_NE(id, 0u);
    std::set<std::uint32_t> ids;
    for (int i = 0; i < 1000; ++i)
        ids.insert(AlsaMidi::uniqueId("CDJ-3000X", "MIDI " + std::to_string(i)));
    EXPECT_EQ(ids.size(), 1000u);
    EXPECT_NE(AlsaMidi::uniqueId("ab", "c"), AlsaMidi::uniqueId("a", "bc"));
}

TEST(AlsaMidi, CardLocationFromSysfs)
{
    namespace fs = std::filesystem;
    QTemporaryDir tmp;
    const fs::path root = tmp.path().toStdString();
    // A USB card: the card's device is an interface of the device at bus 3, port path 1.4.
    const fs::path usbDevice = root / "devices/pci0000:00/usb3/3-1/3-1.4";
    fs::create_directories(usbDevice / "3-1.4:1.0");
    std::ofstream(usbDevice / "busnum") << "3\n";
    std::ofstream(usbDevice / "devpath") << "1.4\n";
    fs::create_directories(root / "class/sound/card2");
    fs::create_directory_symlink(usbDevice / "3-1.4:1.0", root / "class/sound/card2/device");
    // A card on PCI.
    fs::create_directories(root / "devices/pci0000:00/0000:00:1f.3");
    fs::create_directories(root / "class/sound/card0");
    fs::create_directory_symlink(root / "devices/pci0000:00/0000:00:1f.3", root / "class/sound/card0/device");

    EXPECT_EQ(AlsaMidi::usbLocationOfCard(2, root.string()), usbLocationFor(3, "1.4"));
    EXPECT_EQ(AlsaMidi::usbLocationOfCard(0, root.string()), std::nullopt);
    EXPECT_EQ(AlsaMidi::usbLocationOfCard(5, root.string()), std::nullopt);
    EXPECT_EQ(AlsaMidi::usbLocationOfCard(-1, root.string()), std::nullopt);
}

TEST(AlsaMidi, OpensCleanlyOrSaysWhyNot)
{
    std::string error;
    auto system = AlsaMidi::open(nullptr, &error);
    if (!system) {
        // No sequencer on this machine: a clean refusal with a reason.
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_TRUE(system->createClient("kavri zelvo test", [](int) {}));
    EXPECT_TRUE(system->createInputPort("kavri zelvo in", [](MidiEventList, std::uint64_t) {}));
    EXPECT_TRUE(system->createOutputPort("kavri zelvo out"));
    for (auto s : system->sources())
        EXPECT_NE(s, 0u);
    const auto again = system->sources();
    EXPECT_EQ(system->sources(), again); // references are stable across scans
    system->disposeClient();
}

} // namespace
} // namespace zelvo
