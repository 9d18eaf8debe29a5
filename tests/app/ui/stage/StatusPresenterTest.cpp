#include "ui/kit/Palette.h"
#include "ui/stage/StatusPresenters.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

namespace Palette = kit::Palette;
namespace Stage = kit::Stage;
using Player = MIDIHub::Player;

Player player(PlayerModel model, std::int64_t port = 1)
{
    return Player{model, "CDJ", port};
}

TEST(StatusPresenter, BadgeNamesPlayersBeforeTheControllerBeforeTheLayout)
{
    const auto x = PlayerModel::cdj3000x;
    const auto plain = PlayerModel::cdj3000;
    const MIDIHub::Connection flx10{ControllerKind::flx10, "DDJ-FLX10"};
    const MIDIHub::Connection flx4{ControllerKind::flx4, "DDJ-FLX4"};
    struct Case {
        std::vector<Player> players;
        std::optional<MIDIHub::Connection> connected;
        ControllerKind layout;
        bool lit;
        const char* text;
    };
    const Case cases[] = {
        {{player(plain)}, std::nullopt, ControllerKind::flx4, true, "cdj-3000 linked"},
        {{player(x), player(plain)}, std::nullopt, ControllerKind::flx4, true, "2 × cdj-3000x linked"},
        // The model comes from the first player only.
        {{player(plain), player(x), player(x)}, std::nullopt, ControllerKind::flx4, true, "3 × cdj-3000 linked"},
        {{player(x)}, flx10, ControllerKind::flx10, true, "cdj-3000x linked"},
        {{}, flx10, ControllerKind::flx10, true, "ddj-flx10 linked"},
        {{}, flx4, ControllerKind::flx10, true, "ddj-flx4 linked"},
        {{}, std::nullopt, ControllerKind::flx10, false, "flx10 layout · no controller"},
        {{}, std::nullopt, ControllerKind::flx4, false, "flx4 layout · no controller"},
    };
    for (const Case& c : cases) {
        const BadgeFace face = badgeFace(c.players, c.connected, c.layout);
        EXPECT_EQ(face.text, QString::fromUtf8(c.text));
        EXPECT_EQ(face.lit, c.lit) << c.text;
        EXPECT_EQ(face.color, c.lit ? kit::withAlpha(Palette::bone(), 0.85) : Palette::ash()) << c.text;
    }
}

TEST(StatusPresenter, LampIsSteadyWhenReadyBlinksWhileBusyAndIsDarkOtherwise)
{
    using K = BrainStatus::Kind;
    // A present-day frame time: seconds since 2001 in the hundreds of millions.
    const double now = double(QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).toSecsSinceEpoch()) -
                       978307200.0;
    const double even = std::floor(now * 3) / 3 + 0.01; // ⌊t × 3⌋ ends in 0 or 1
    const bool evenLit = std::int64_t(std::floor(even * 3)) % 2 == 0;
    for (K busy : {K::installing, K::loading, K::starting, K::rendering}) {
        EXPECT_TRUE(brainLampBlinks(busy));
        EXPECT_EQ(brainLampLit(busy, even), evenLit);
        EXPECT_EQ(brainLampLit(busy, even + 1.0 / 3), !evenLit);
        EXPECT_EQ(brainLampLit(busy, even + 2.0 / 3), evenLit);
        EXPECT_TRUE(brainLampLit(busy, 0.1));
        EXPECT_FALSE(brainLampLit(busy, 0.34));
        EXPECT_TRUE(brainLampLit(busy, -0.5)); // ⌊−1.5⌋ = −2, even
        // A clock that cannot be a frame time leaves the lamp dark instead of
        // converting out of range.
        EXPECT_FALSE(brainLampLit(busy, std::numeric_limits<double>::quiet_NaN()));
        EXPECT_FALSE(brainLampLit(busy, 1e300));
    }
    for (double t : {0.1, 0.34, now})
        EXPECT_TRUE(brainLampLit(K::ready, t));
    for (K dark : {K::failed, K::checking, K::notInstalled, K::offline}) {
        EXPECT_FALSE(brainLampBlinks(dark));
        EXPECT_FALSE(brainLampLit(dark, 0.1));
        EXPECT_FALSE(brainLampLit(dark, now));
    }
}

TEST(StatusPresenter, ReadoutsWithAndWithoutAnEngine)
{
    const auto texts = [](const std::vector<StatusItem>& items) {
        QStringList out;
        for (const StatusItem& item : items)
            out << item.text;
        return out;
    };
    const std::vector<StatusItem> none = statusItems(std::nullopt);
    EXPECT_EQ(texts(none), (QStringList{"no output", "0 ms", "dsp 0%"}));
    EXPECT_EQ(none.back().color, Stage::ash());

    OutputReading reading{126.04, QStringLiteral("Fake Out"), 0.0107, 0.70};
    std::vector<StatusItem> items = statusItems(reading);
    EXPECT_EQ(texts(items), (QStringList{"126.0 bpm", "Fake Out", "11 ms", "dsp 70%"}));
    EXPECT_EQ(items[0].size, 9.5);
    EXPECT_EQ(items[0].color, Stage::bone());
    EXPECT_EQ(items[3].color, Stage::ash()); // exactly 70 is not above 70

    reading.dspLoad = 0.704;
    reading.masterBpm = 0; // no master deck: the tempo item goes, the rest keep their places
    items = statusItems(reading);
    EXPECT_EQ(texts(items), (QStringList{"Fake Out", "11 ms", "dsp 70%"}));
    EXPECT_EQ(items[2].color, Stage::ghostRed());

    // Broken cells read as 0 rather than "nan".
    reading.latency = std::numeric_limits<double>::infinity();
    reading.dspLoad = std::numeric_limits<double>::quiet_NaN();
    reading.masterBpm = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(texts(statusItems(reading)), (QStringList{"Fake Out", "0 ms", "dsp 0%"}));
}

TEST(StatusPresenter, UpdateNoticesAndKeys)
{
    using U = StatusLink::Update;
    EXPECT_FALSE(updateNotice(U{}));
    const auto ready = updateNotice(U{U::Kind::ready, QStringLiteral("1.4.2")});
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->label, QStringLiteral("1.4.2 ready · restart to update"));
    EXPECT_EQ(ready->help, QStringLiteral("kavri zelvo 1.4.2 is downloaded and checked. Restart now, or it goes in "
                                          "when you quit."));
    const auto manual = updateNotice(U{U::Kind::manual, QStringLiteral("2.0")});
    ASSERT_TRUE(manual);
    EXPECT_EQ(manual->label, QStringLiteral("update · 2.0 ready"));
    EXPECT_EQ(manual->help, QStringLiteral("kavri zelvo 2.0 is out — download it from ") + vendorSite());

    EXPECT_EQ(browseKeyFace(true), (KeyFace{QStringLiteral("▾ decks"), Stage::paper()}));
    EXPECT_EQ(browseKeyFace(false), (KeyFace{QStringLiteral("▴ browse"), Stage::bone()}));
    EXPECT_EQ(recordKeyFace(true), (KeyFace{QStringLiteral("● recording"), Stage::ghostRed()}));
    EXPECT_EQ(recordKeyFace(false), (KeyFace{QStringLiteral("rec"), Stage::bone()}));
}

AudioDevice device(int channels, double rate = 48000, std::string name = "Desk", std::string uid = "desk")
{
    AudioDevice d;
    d.id = 7;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.outputChannels = channels;
    d.nominalSampleRate = rate;
    return d;
}

QStringList texts(const std::vector<PickerRow>& rows)
{
    QStringList out;
    for (const PickerRow& row : rows)
        out << row.text;
    return out;
}

TEST(StatusPresenter, SettingsRowsForDevicesBuffersAndChannelPairs)
{
    EXPECT_TRUE(outputRows({}).empty());
    const std::vector<PickerRow> outputs =
        outputRows({device(4, 44100.9), device(2, 48000, "Out", "out"), device(2, std::nan(""), "Odd", "odd")});
    EXPECT_EQ(texts(outputs),
              (QStringList{"Desk · 4 ch · 44100 Hz", "Out · 2 ch · 48000 Hz", "Odd · 2 ch · 0 Hz"}));
    EXPECT_EQ(rowIndex(outputs, QStringLiteral("out")), 1);
    EXPECT_EQ(rowIndex(outputs, QStringLiteral("gone")), -1);

    // Without an engine the latencies are computed at 48 kHz.
    EXPECT_EQ(texts(bufferRows(std::nullopt)),
              (QStringList{"64 frames · 1.3 ms", "128 frames · 2.7 ms", "256 frames · 5.3 ms", "512 frames · 10.7 ms",
                           "1024 frames · 21.3 ms"}));
    EXPECT_EQ(bufferRows(44100.0)[2].text, QStringLiteral("256 frames · 5.8 ms"));
    EXPECT_EQ(bufferRows(0.0)[0].text, QStringLiteral("64 frames · 1.3 ms"));
    EXPECT_EQ(rowIndex(bufferRows(std::nullopt), 512), 3);
    EXPECT_EQ(rowIndex(bufferRows(std::nullopt), 100), -1);

    struct Case {
        int channels;
        std::int64_t master;
        QStringList masters;
        QStringList cues;
        bool note;
    };
    const Case cases[] = {
        {1, 0, {"Ch 1/2"}, {"Off"}, true},
        {2, 0, {"Ch 1/2"}, {"Off"}, true},
        {4, 0, {"Ch 1/2", "Ch 3/4"}, {"Off", "Ch 3/4"}, false},
        {4, 2, {"Ch 1/2", "Ch 3/4"}, {"Off", "Ch 1/2"}, false},
        // The fifth channel is never offered.
        {5, 0, {"Ch 1/2", "Ch 3/4"}, {"Off", "Ch 3/4"}, false},
    };
    for (const Case& c : cases) {
        const AudioDevice d = device(c.channels);
        EXPECT_EQ(texts(masterRows(d)), c.masters) << c.channels;
        const std::vector<PickerRow> cues = cueRows(d, c.master);
        EXPECT_EQ(texts(cues), c.cues) << c.channels;
        EXPECT_EQ(cues.front().tag, -1);
        // A cue pair equal to the master has no row: the picker shows no selection.
        EXPECT_EQ(rowIndex(cues, c.master), -1) << c.channels;
        EXPECT_EQ(cueNeedsNote(d), c.note) << c.channels;
    }

    EXPECT_EQ(texts(surfaceRows()), (QStringList{"Follow the controller", "Always FLX4", "Always FLX10"}));
    EXPECT_EQ(surfaceRows()[2].tag, std::int64_t(StatusLink::SurfaceChoice::flx10));

    const MIDIHub::Connection flx4{ControllerKind::flx4, "x"};
    EXPECT_EQ(controllerLine(flx4, true),
              QStringLiteral("DDJ-FLX4 connected — its sound card is the output, headphones on 3/4."));
    EXPECT_EQ(controllerLine(std::nullopt, false), QStringLiteral("No DDJ-FLX4, DDJ-FLX10 or CDJ-3000X on USB."));
    EXPECT_EQ(controllerLine(std::nullopt, true),
              QStringLiteral("CDJs in software control — each plays its deck out of its own outputs into your DJM."));
}

TEST(StatusPresenter, KeyFormStates)
{
    using K = BrainStatus::Kind;
    using Style = KeyFormFace::Style;
    using Install = KeyFormFace::Install;
    struct Case {
        const char* name;
        QString key;
        KavriAccount::Check check;
        K status;
        std::optional<QString> shortfall;
        QString draft;
        QString placeholder;
        bool save, forget;
        QString checkText;
        Style style;
        Install install;
    };
    const QString masked = QStringLiteral("sk_kavri_a…wxyz");
    const QString works = QStringLiteral("✓ Key works — 12 files, 9.8 GB ready on the CDN.");
    const Case cases[] = {
        {"no key", {}, KavriAccount::Check::none(), K::notInstalled, {}, {}, "sk_kavri_…", false, false,
         "No key yet.", Style::secondary, Install::none},
        {"spaces enable save", {}, KavriAccount::Check::none(), K::ready, {}, "  ", "sk_kavri_…", true, false,
         "No key yet.", Style::secondary, Install::none},
        {"checking", "k", KavriAccount::Check::checking(), K::notInstalled, {}, {}, masked, false, true,
         "Checking with cdn.kavri.example…", Style::busy, Install::none},
        {"valid, not installed", "k", KavriAccount::Check::ok(12, 9.84), K::notInstalled, {}, {}, masked, false,
         true, works, Style::primary, Install::key},
        {"valid, installed", "k", KavriAccount::Check::ok(12, 9.84), K::ready, {}, {}, masked, false, true, works,
         Style::primary, Install::none},
        {"valid, short of space", "k", KavriAccount::Check::ok(12, 9.84), K::ready, QStringLiteral("need 3 gb"), {},
         masked, false, true, works, Style::primary, Install::key},
        {"invalid", "k", KavriAccount::Check::bad(QStringLiteral("key refused")), K::notInstalled, {}, {}, masked,
         false, true, "key refused", Style::error, Install::none},
        {"installing without a key", {}, KavriAccount::Check::none(), K::installing, {}, {}, "sk_kavri_…", false,
         false, "No key yet.", Style::secondary, Install::progress},
    };
    for (const Case& c : cases) {
        KeyFormInputs in;
        in.key = c.key;
        in.masked = masked;
        in.check = c.check;
        in.status = c.status;
        in.shortfall = c.shortfall;
        in.draft = c.draft;
        in.fraction = 1.7;
        in.downloadDetail = QStringLiteral("checking every file");
        const KeyFormFace face = keyFormFace(in);
        EXPECT_EQ(face.placeholder, c.placeholder) << c.name;
        EXPECT_EQ(face.saveEnabled, c.save) << c.name;
        EXPECT_EQ(face.forget, c.forget) << c.name;
        EXPECT_EQ(face.checkText, c.checkText) << c.name;
        EXPECT_EQ(face.checkStyle, c.style) << c.name;
        EXPECT_EQ(face.install, c.install) << c.name;
        EXPECT_EQ(face.shortfall, c.shortfall.value_or(QString())) << c.name;
        if (c.install == Install::progress) {
            EXPECT_EQ(face.progressText, QStringLiteral("Downloading zelvo-0 — checking every file"));
            EXPECT_EQ(face.fraction, 1.0); // clamped to the bar's range
        }
    }
}

TEST(StatusPresenter, PlayerRowsPortsDecksRoutesAndTheSwapKey)
{
    const std::vector<Player> players{player(PlayerModel::cdj3000x, 0x1a2b), player(PlayerModel::cdj3000, -255),
                                      player(PlayerModel::cdj3000x, std::numeric_limits<std::int64_t>::min()),
                                      player(PlayerModel::cdj3000, 0)};
    const std::map<std::int64_t, int> decks{{0x1a2b, 1}, {-255, 0}, {0, 3}};
    const std::map<int, QString> routes{{1, QStringLiteral("DJM ch 2")}, {3, QStringLiteral("")}};
    const std::vector<PlayerRow> rows = playerRows(players, decks, routes);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (PlayerRow{"CDJ-3000X · USB 1A2B", "deck 2 · zelvo-0", "→ DJM ch 2"}));
    EXPECT_EQ(rows[1], (PlayerRow{"CDJ-3000 · USB -FF", "deck 1", ""})); // no route entry
    EXPECT_EQ(rows[2], (PlayerRow{"CDJ-3000X · USB -8000000000000000", "—", ""}));
    EXPECT_EQ(rows[3], (PlayerRow{"CDJ-3000 · USB 0", "deck 4", "→ "}));
    EXPECT_FALSE(swapKeyShown(1));
    EXPECT_TRUE(swapKeyShown(2));
    EXPECT_EQ(routingNote(true), QStringLiteral("Direct outs: each deck on its player, the DJM mixing."));
    EXPECT_EQ(routingNote(false), QStringLiteral("Plays the mix through the player's outputs."));
}

TEST(StatusPresenter, LogShowsItsLastSixtyLinesAndThePathTheRuntime)
{
    EXPECT_EQ(logText({}), QString());
    QStringList log;
    for (int i = 1; i <= 400; ++i)
        log << QStringLiteral("line %1").arg(i);
    const QStringList shown = logText(log).split(QLatin1Char('\n'));
    ASSERT_EQ(shown.size(), 60);
    EXPECT_EQ(shown.front(), QStringLiteral("line 341"));
    EXPECT_EQ(shown.back(), QStringLiteral("line 400"));
    EXPECT_EQ(logText(log.mid(0, 3)), QStringLiteral("line 1\nline 2\nline 3"));
    EXPECT_EQ(runtimePath(QStringLiteral("/h/brain/")), QStringLiteral("/h/brain/zelvo-0/optimized/mlx"));
    EXPECT_EQ(runtimePath(QStringLiteral("/h/brain")), QStringLiteral("/h/brain/zelvo-0/optimized/mlx"));
}

} // namespace
} // namespace zelvo::stage
