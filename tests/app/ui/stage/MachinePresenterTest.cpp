// The model strip's rules: the big key's faces, fill and pulse, the beat clock
// and its fallbacks, the chain and take read-outs, the re-roll gate, the queue
// line, the steppers and the preset chips.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "generation/Caption.h"
#include "generation/ForkSettings.h"
#include "library/TrackBuffer.h"
#include "models/DeckModel.h"
#include "ui/instrument/BrainModule.h"
#include "ui/stage/MachinePresenters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace zelvo::stage {
namespace {

constexpr double kMachineNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MachinePresenters, BigKeyFacesFollowTheStep)
{
    struct Case {
        AIStep step;
        const char* icon;
        bool lit;
        KeyAnimation animation;
    };
    const Case cases[] = {
        {AIStep::install, "arrow.down.circle.fill", true, KeyAnimation::none},
        {AIStep::wake, "power", true, KeyAnimation::none},
        {AIStep::waking, "power", false, KeyAnimation::none},
        {AIStep::installing, "icloud.and.arrow.down", false, KeyAnimation::fill},
        {AIStep::fork, "arrow.triangle.branch", true, KeyAnimation::none},
        {AIStep::loadRecord, "square.and.arrow.down", false, KeyAnimation::none},
        {AIStep::dreaming, "waveform", false, KeyAnimation::fill},
        {AIStep::dropIt, "arrow.down.to.line", true, KeyAnimation::pulse},
        {AIStep::armed, "scope", false, KeyAnimation::pulse},
        {AIStep::steer, "arrow.forward.to.line", false, KeyAnimation::none},
    };
    for (const Case& c : cases) {
        const BigKeyLook look = bigKeyLook(c.step);
        EXPECT_EQ(look.icon, QLatin1String(c.icon)) << int(c.step);
        EXPECT_EQ(look.lit, c.lit) << int(c.step);
        EXPECT_EQ(look.animation, c.animation) << int(c.step);
        // Frames run exactly in the three steps whose look moves by itself.
        EXPECT_EQ(stepAnimates(c.step),
                  c.step == AIStep::dreaming || c.step == AIStep::dropIt || c.step == AIStep::armed);
    }
    EXPECT_EQ(bigKeySize(true), QSizeF(270, 78));
    EXPECT_EQ(bigKeySize(false), QSizeF(300, 104));
    EXPECT_EQ(bigKeyTitleSize(true), 24);
    EXPECT_EQ(bigKeyTitleSize(false), 28);
    EXPECT_EQ(bigKeyHelp(QStringLiteral("fork")),
              QString::fromUtf8("tap: fork \u00b7 hold or shift-click: cancel / re-roll \u00b7 FLX10: MIX POINT LINK"));
}

TEST(MachinePresenters, FillKeepsItsSliverAndEasesOut)
{
    struct Case {
        double progress;
        double share;
    };
    for (const Case& c : {Case{0, 0.04}, Case{0.02, 0.04}, Case{0.5, 0.5}, Case{1.7, 1}, Case{-3, 0.04},
                          Case{kMachineNaN, 0.04}, Case{std::numeric_limits<double>::infinity(), 0.04}})
        EXPECT_DOUBLE_EQ(fillShare(c.progress), c.share) << c.progress;

    // The ease starts where the fill was, runs ahead of a straight line and
    // lands on the target at 0.4 s.
    EXPECT_DOUBLE_EQ(easedFill(0.1, 0.5, 0), 0.1);
    const double half = easedFill(0.1, 0.5, 0.2);
    EXPECT_GT(half, 0.3);
    EXPECT_LT(half, 0.5);
    EXPECT_DOUBLE_EQ(easedFill(0.1, 0.5, 0.4), 0.5);
    EXPECT_DOUBLE_EQ(easedFill(0.1, 0.5, 7), 0.5);
    EXPECT_DOUBLE_EQ(easedFill(0.1, 0.5, kMachineNaN), 0.5);
    EXPECT_DOUBLE_EQ(easedFill(kMachineNaN, 0.5, 0.1), 0.5);
    // A clock that went back shows the start, never a value past either end.
    EXPECT_DOUBLE_EQ(easedFill(0.1, 0.5, -1), 0.1);
}

TEST(MachinePresenters, PulseFlashesOnTheBeatOrRunsTwiceASecond)
{
    struct Case {
        std::optional<double> phase;
        double t;
        double opacity;
        double offset;
    };
    const Case cases[] = {
        {0.0, 0, 1.0, 4.0},              // on the beat: bright and wide
        {0.5, 0, 0.75, 3.0},
        {0.999, 0, 0.5005, 2.002},       // just before the next beat
        {std::nullopt, 10.0, 1.0, 4.0},  // free running: a pulse every half second
        {std::nullopt, 10.25, 0.75, 3.0},
        {std::nullopt, 10.5, 1.0, 4.0},
        {std::nullopt, -0.1, 0.6, 2.4},  // before the reference date too
        {kMachineNaN, 10.25, 0.75, 3.0},        // an unreadable phase falls back to the clock
        {std::nullopt, kMachineNaN, 1.0, 4.0},
    };
    for (const Case& c : cases) {
        const PulseLook look = pulseLook(c.phase, c.t);
        EXPECT_NEAR(look.opacity, c.opacity, 1e-9) << c.t;
        EXPECT_NEAR(look.offset, c.offset, 1e-9) << c.t;
    }
}

TEST(MachinePresenters, BeatPhaseNeedsAPlayingVoiceOnAUsableGrid)
{
    const BeatGrid grid(120, 0.5);
    struct Case {
        const char* name;
        std::optional<BeatGrid> grid;
        bool voice;
        bool playing;
        double position;
        std::optional<double> phase;
    };
    const Case cases[] = {
        {"on the first beat", grid, true, true, 0.5, 0.0},
        {"half a beat on", grid, true, true, 0.75, 0.5},
        {"before the first beat", grid, true, true, 0.25, 0.5},
        {"long before it", grid, true, true, -99.9, 0.2},
        {"stopped", grid, true, false, 0.75, std::nullopt},
        {"no voice", grid, false, true, 0.75, std::nullopt},
        {"no grid", std::nullopt, true, true, 0.75, std::nullopt},
        {"tempo 0", BeatGrid(0, 0.5), true, true, 0.75, std::nullopt},
        {"tempo NaN", BeatGrid(kMachineNaN, 0.5), true, true, 0.75, std::nullopt},
        {"first beat NaN", BeatGrid(120, kMachineNaN), true, true, 0.75, std::nullopt},
        {"no beats in a bar", BeatGrid(120, 0.5, 0), true, true, 0.75, std::nullopt},
        {"position NaN", grid, true, true, kMachineNaN, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<double> phase = beatPhaseOf(c.grid, c.voice, c.playing, c.position);
        ASSERT_EQ(phase.has_value(), c.phase.has_value()) << c.name;
        if (phase) {
            EXPECT_NEAR(*phase, *c.phase, 1e-9) << c.name;
            EXPECT_GE(*phase, 0.0) << c.name;
            EXPECT_LT(*phase, 1.0) << c.name;
        }
    }
}

TEST(MachinePresenters, BeatPhaseFallsBackToDeckOneThenToNothing)
{
    test::AppRig rig;
    AppModel& app = rig.make();
    std::array<std::shared_ptr<DeckVoice>, 2> voices;
    for (int deck = 0; deck < 2; ++deck) {
        voices[std::size_t(deck)] = std::make_shared<DeckVoice>(48000.0, 512);
        app.deck(deck).attach(voices[std::size_t(deck)], false);
    }
    const auto cells = [&](int deck) -> DeckState& {
        return const_cast<DeckState&>(voices[std::size_t(deck)]->state());
    };
    const auto put = [&](int deck, std::optional<BeatGrid> grid) {
        TrackRecord record;
        record.id = QUuid::createUuid();
        record.title = QStringLiteral("record %1").arg(deck);
        record.grid = grid;
        app.deck(deck).install(record, TrackBufferRef(4800, 48000.0), nullptr, false);
    };
    // Deck 1 at 120 bpm, a quarter into its beat; deck 2 at 100 bpm, 0.3 in.
    put(0, BeatGrid(120, 0));
    put(1, BeatGrid(100, 0));
    cells(0).position.store(0.125);
    cells(1).position.store(0.18);

    struct Case {
        const char* name;
        bool onePlays;
        bool twoPlays;
        std::optional<BeatGrid> twoGrid;
        std::optional<double> phase;
    };
    const Case cases[] = {
        {"deck 2 plays on its grid", true, true, BeatGrid(100, 0), 0.3},
        {"deck 2 stopped", true, false, BeatGrid(100, 0), 0.25},
        {"deck 2's take has no grid", true, true, std::nullopt, 0.25},
        {"deck 2's grid is unusable", true, true, BeatGrid(0, 0), 0.25},
        {"neither plays", false, false, BeatGrid(100, 0), std::nullopt},
        {"only deck 2 plays, off grid", false, true, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        put(1, c.twoGrid);
        cells(0).playing.store(c.onePlays);
        cells(1).playing.store(c.twoPlays);
        const std::optional<double> phase = app.beatPhase(1);
        ASSERT_EQ(phase.has_value(), c.phase.has_value()) << c.name;
        if (phase) {
            EXPECT_NEAR(*phase, *c.phase, 1e-9) << c.name;
        }
    }
    // Deck 1 asked for itself, and an index outside the decks, read deck 1.
    cells(0).playing.store(true);
    EXPECT_NEAR(app.beatPhase(0).value_or(-1), 0.25, 1e-9);
    EXPECT_NEAR(app.beatPhase(9).value_or(-1), 0.25, 1e-9);
    for (int deck = 0; deck < 2; ++deck)
        app.deck(deck).attach(nullptr, false);
}

TEST(MachinePresenters, ChainTextTakesTheFirstMatch)
{
    struct Case {
        std::optional<double> countdown;
        bool busy;
        bool snoozed;
        const char* text;
    };
    const Case cases[] = {
        {75.46, false, false, "chain in 1:15"},
        {75, true, true, "chain in 1:15"}, // a countdown wins over everything
        {1.0, false, false, "chain in 0:01"},
        {3600, false, false, "chain in 60:00"},
        {0.4, true, true, "chain \u00b7 writing"},
        {0.0, false, false, "chain \u00b7 writing"},
        {std::nullopt, true, true, "chain \u00b7 working"},
        {std::nullopt, false, true, "chain paused \u00b7 tap"},
        {std::nullopt, false, false, "chain on"},
        {kMachineNaN, false, true, "chain paused \u00b7 tap"}, // an unreadable countdown counts as none
    };
    for (const Case& c : cases)
        EXPECT_EQ(chainText(c.countdown, c.busy, c.snoozed), QString::fromUtf8(c.text)) << c.text;
}

TEST(MachinePresenters, TakeCounterAndRerollGate)
{
    EXPECT_EQ(takeCounter(1, 3), "take 2/3");
    EXPECT_EQ(takeCounter(2, 3), "take 3/3");
    EXPECT_EQ(takeCounter(std::nullopt, 3), "take 0/3"); // deck 2's record is not among the takes
    EXPECT_EQ(takeCounter(std::nullopt, 0), "no takes");
    EXPECT_EQ(takeCounter(0, 0), "no takes");

    TrackRecord plain;
    plain.title = QStringLiteral("record");
    TrackRecord take = plain;
    take.outpaint = OutpaintInfo{};
    using Phase = WorkflowLink::Phase;
    for (Phase phase : {Phase::rendering, Phase::failed, Phase::idle, Phase::capturing, Phase::composing}) {
        const bool settled = phase == Phase::idle || phase == Phase::failed;
        EXPECT_EQ(canReroll(take, phase), settled) << int(phase);
        EXPECT_FALSE(canReroll(plain, phase)) << int(phase);
        EXPECT_FALSE(canReroll(std::nullopt, phase)) << int(phase);
    }
}

TEST(MachinePresenters, QueueLineSkipsRemovedRecords)
{
    std::map<QUuid, TrackRecord> library;
    TrackRecord kept;
    kept.id = QUuid::createUuid();
    kept.title = QStringLiteral("Night Drive");
    library[kept.id] = kept;
    const auto lookup = [&](const QUuid& id) -> std::optional<TrackRecord> {
        const auto it = library.find(id);
        return it == library.end() ? std::nullopt : std::optional<TrackRecord>(it->second);
    };
    const std::vector<QUuid> queue{QUuid::createUuid(), QUuid::createUuid(), kept.id};
    EXPECT_EQ(queueLine(true, queue, lookup), QString::fromUtf8("queue \u00b7 night drive"));
    EXPECT_EQ(queueLine(false, queue, lookup), std::nullopt);
    EXPECT_EQ(queueLine(true, {QUuid::createUuid()}, lookup), std::nullopt);
    EXPECT_EQ(queueLine(true, {}, lookup), std::nullopt);
}

TEST(MachinePresenters, SteppersCycleAndStartOffListValuesFromTheFirst)
{
    const std::vector<StepperKind>& kinds = promptSteppers();
    ASSERT_EQ(kinds.size(), 4u);
    const auto kind = [&](const char* title) -> const StepperKind& {
        for (const StepperKind& s : kinds)
            if (s.title == QLatin1String(title))
                return s;
        throw std::runtime_error(title);
    };
    // The defaults read 16 bars, 32 bars, 8 bars and 8.
    const ForkSettings defaults;
    QStringList shown;
    for (const StepperKind& s : kinds)
        shown << s.title + QLatin1Char(' ') + stepperText(defaults.*s.field, s.unit);
    EXPECT_EQ(shown, QStringList({"hears 16 bars", "writes 32 bars", "ahead 8 bars", "steps 8"}));

    struct Case {
        const char* stepper;
        std::int64_t from;
        std::int64_t to;
    };
    const Case cases[] = {
        {"hears", 16, 32},  {"hears", 32, 4},  {"writes", 32, 64}, {"writes", 64, 8},
        {"ahead", 12, 8},   {"ahead", 4, 8},   {"steps", 16, 4},   {"steps", 8, 12},
        {"steps", 10, 6},   {"hears", -5, 8},  {"writes", std::int64_t(1) << 40, 16},
    };
    for (const Case& c : cases) {
        const StepperKind& s = kind(c.stepper);
        ForkSettings settings;
        settings.*s.field = c.from;
        const ForkSettings next = stepped(settings, s);
        EXPECT_EQ(next.*s.field, c.to) << c.stepper << " from " << c.from;
        // Nothing but the stepper's own setting moves.
        ForkSettings back = next;
        back.*s.field = c.from;
        EXPECT_EQ(back, settings) << c.stepper;
    }
}

TEST(MachinePresenters, PresetsAndChipSelection)
{
    const std::vector<BrainModule::Preset>& presets = BrainModule::presets();
    QStringList labels;
    std::set<QString> prompts;
    for (const BrainModule::Preset& preset : presets) {
        labels << preset.label;
        prompts.insert(preset.prompt);
    }
    EXPECT_EQ(labels, QStringList({"ZELVO-0", "DUBSTEP", "HOUSE", "TECHNO", "DISCO", "DUB", "BREAKS", "AMBIENT",
                                   "LO-FI", "ACID"}));
    EXPECT_EQ(prompts.size(), presets.size());
    EXPECT_EQ(presets[0].prompt, ForkSettings().prompt);
    EXPECT_EQ(presets[4].prompt,
              "TrackType: Music, VocalType: Instrumental, Genre: Disco. Larkmoor disco edit, live bass guitar, "
              "strings, tambourine, warm tape.");
    EXPECT_EQ(presets[5].prompt, Caption::make("Dub Techno", "Heavy dub techno, deep chords drowned in delay, "
                                                             "spacious sub bass"));

    // A fresh start lights the first chip; an edit that matches no preset none.
    const auto lit = [](const QString& prompt) {
        std::vector<int> on;
        const std::vector<bool> selected = chipsSelected(prompt);
        for (std::size_t i = 0; i < selected.size(); ++i)
            if (selected[i])
                on.push_back(int(i));
        return on;
    };
    EXPECT_EQ(lit(ForkSettings().prompt), std::vector<int>{0});
    EXPECT_EQ(lit(presets[2].prompt), std::vector<int>{2});
    EXPECT_EQ(lit(presets[2].prompt + QLatin1Char(' ')), std::vector<int>{});
    EXPECT_EQ(lit(QString()), std::vector<int>{});
}

} // namespace
} // namespace zelvo::stage
