#include "state/ModelKeySteps.h"

#include "AppTestSupport.h"
#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "library/OutpaintInfo.h"
#include "library/WaveformData.h"
#include "models/DeckModel.h"
#include "support/CommaLocale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace zelvo {
namespace {

using keysteps::Inputs;
using keysteps::Press;
using keysteps::Tap;
using StatusKind = BrainStatus::Kind;

const QDateTime kNow(QDate(2026, 12, 6), QTime(21, 0), Qt::UTC);
const QUuid kSource = QUuid::fromString(QStringLiteral("{11111111-1111-1111-1111-111111111111}"));

TrackRecord trackNamed(const QString& title, QUuid id = QUuid::createUuid())
{
    TrackRecord r;
    r.id = id;
    r.title = title;
    return r;
}

TrackRecord take(std::optional<QUuid> source)
{
    TrackRecord r = trackNamed(QStringLiteral("Take"));
    r.outpaint = OutpaintInfo{};
    r.outpaint->sourceID = source;
    return r;
}

// Ready, deck 1 holds a playing record, nothing else going on, hands long off.
Inputs base()
{
    Inputs in;
    in.now = kNow;
    in.status = BrainStatus::of(StatusKind::ready);
    in.decks[0].track = trackNamed(QStringLiteral("Blue Monday"), kSource);
    in.decks[0].playing = true;
    in.handsOnAt = kNow.addSecs(-600);
    in.liveSince = kNow.addSecs(-600);
    in.hintUntil = kNow.addSecs(-600);
    return in;
}

struct StepRow {
    const char* name;
    std::function<void(Inputs&)> set;
    AIStep step;
    QString title;
    QString detail;
};

TEST(ModelKeySteps, StepTitleAndCaptionFollowTheFirstRuleThatMatches)
{
    const auto status = [](BrainStatus s) { return [s](Inputs& in) { in.status = s; }; };
    const auto rendering = [](QString stage, std::int64_t step, std::int64_t total) {
        return [=](Inputs& in) { in.phase = OutpaintPhase::rendering(stage, step, total); };
    };
    const auto installing = [](double fraction, bool started) {
        return [=](Inputs& in) {
            in.status = BrainStatus::installing(QStringLiteral("download"));
            in.download.started = started;
            in.download.fraction = fraction;
            in.download.shortText = QStringLiteral("4.1 of 9.8 gb");
            in.download.summary = QStringLiteral("4.1 of 9.8 gb \u00b7 100 mb/s");
        };
    };
    const std::vector<StepRow> rows = {
        // The supervisor decides first.
        {"not installed, no key", status(BrainStatus::of(StatusKind::notInstalled)), AIStep::install, "install zelvo-0",
         QString::fromUtf8("add your free kavri key first (top right \u2699\uFE0E) \u2014 it brings zelvo-0")},
        {"not installed, a key",
         [](Inputs& in) {
             in.status = BrainStatus::of(StatusKind::notInstalled);
             in.key = QStringLiteral("k-123");
             in.check = KavriAccount::Check::ok(12, 9.75);
         },
         AIStep::install, "install zelvo-0", QString::fromUtf8("9.8 gb from the kavri cdn, once \u2014 then offline for good")},
        {"not installed, a shortfall",
         [](Inputs& in) {
             in.status = BrainStatus::of(StatusKind::notInstalled);
             in.key = QStringLiteral("k-123");
             in.download.shortfall = QStringLiteral("needs 4.2 gb more free space");
         },
         AIStep::install, "install zelvo-0", "needs 4.2 gb more free space"},
        {"offline", status(BrainStatus::of(StatusKind::offline)), AIStep::wake, "wake zelvo-0", "asleep"},
        {"failed", status(BrainStatus::failed(QStringLiteral("Port 7860 BUSY"))), AIStep::wake, "wake zelvo-0",
         QString::fromUtf8("fault \u00b7 port 7860 busy")},
        {"checking", status(BrainStatus::of(StatusKind::checking)), AIStep::waking, "waking", "checking"},
        {"starting", status(BrainStatus::of(StatusKind::starting)), AIStep::waking, "waking", "waking"},
        {"loading", status(BrainStatus::loading(QStringLiteral("weights"))), AIStep::waking, "waking", "waking"},
        {"installing, before the first byte", installing(0.0, false), AIStep::installing, "setting up", "download"},
        {"installing, 41.6 %", installing(0.416, true), AIStep::installing, "42%", "4.1 of 9.8 gb"},
        // Ready or rendering: the render's own phase.
        {"queued", rendering("queued", 0, 0), AIStep::dreaming, "dreaming", "waiting for zelvo-0"},
        {"sampling", rendering("sample", 3, 8), AIStep::dreaming, "dreaming", "step 3 of 8"},
        {"other stage", rendering("encode_context_audio", 0, 0), AIStep::dreaming, "dreaming", "encode context audio"},
        {"capturing while the server renders",
         [](Inputs& in) {
             in.status = BrainStatus::of(StatusKind::rendering);
             in.phase = OutpaintPhase::capturing();
         },
         AIStep::dreaming, "dreaming", "listening"},
        {"composing", [](Inputs& in) { in.phase = OutpaintPhase::composing(); }, AIStep::dreaming, "dreaming",
         "splicing the seam"},
        {"a ready mix",
         [](Inputs& in) {
             in.readyMix = true;
             in.drop = DropStatus::armed(3.0);
         },
         AIStep::dropIt, "drop it", QString::fromUtf8("starts on deck 2 in time with the mix \u00b7 you bring it in")},
        {"a take playing on deck 2",
         [](Inputs& in) {
             in.decks[1].track = take(kSource);
             in.decks[1].playing = true;
             in.drop = DropStatus::ready(2.0);
         },
         AIStep::steer, "steer", "write the next stretch now"},
        {"a record (no take) playing on deck 2",
         [](Inputs& in) {
             in.decks[1].track = trackNamed(QStringLiteral("Other"));
             in.decks[1].playing = true;
         },
         AIStep::fork, "fork", "zelvo-0 forks whatever is playing"},
        {"a paused take: the drop rules decide",
         [](Inputs& in) {
             in.decks[1].track = take(kSource);
             in.drop = DropStatus::waiting(12.4);
         },
         AIStep::dropIt, "drop it", QString::fromUtf8("mix in \u00b7 deck 1 reaches it in 12s")},
        {"drop now", [](Inputs& in) { in.drop = DropStatus::ready(1.5); }, AIStep::dropIt, "drop it",
         "mix zelvo-0 in on the phrase"},
        {"armed", [](Inputs& in) { in.drop = DropStatus::armed(4.0); }, AIStep::armed, "armed",
         QString::fromUtf8("fires on the seam \u00b7 tap to disarm")},
        {"refused, deck 1 loaded", [](Inputs& in) { in.status = BrainStatus::of(StatusKind::rendering); }, AIStep::fork,
         "fork", "zelvo-0 forks whatever is playing"},
        {"refused, deck 1 empty",
         [](Inputs& in) {
             in.decks[0] = {};
             in.drop = DropStatus::refused(QStringLiteral("DECK 1 EMPTY"));
         },
         AIStep::loadRecord, "load a record", "zelvo-0 grows from deck 1"},
        {"a failed render falls through",
         [](Inputs& in) {
             in.phase = OutpaintPhase::failed(QStringLiteral("no result"));
             in.drop = DropStatus::armed(1.0);
         },
         AIStep::armed, "armed", QString::fromUtf8("fires on the seam \u00b7 tap to disarm")},
    };
    for (const StepRow& row : rows) {
        SCOPED_TRACE(row.name);
        Inputs in = base();
        row.set(in);
        EXPECT_EQ(keysteps::step(in), row.step);
        EXPECT_EQ(keysteps::title(in), row.title);
        EXPECT_EQ(keysteps::detail(in), row.detail);
    }
}

TEST(ModelKeySteps, TapAndPressActions)
{
    struct Row {
        const char* name;
        std::function<void(Inputs&)> set;
        Tap tap;
        Press press;
    };
    const std::vector<Row> rows = {
        {"install without a key", [](Inputs& in) { in.status = BrainStatus::of(StatusKind::notInstalled); },
         Tap::openSettings, Press::nothing},
        {"install with a key",
         [](Inputs& in) {
             in.status = BrainStatus::of(StatusKind::notInstalled);
             in.key = QStringLiteral("k");
         },
         Tap::installBrain, Press::nothing},
        {"wake", [](Inputs& in) { in.status = BrainStatus::of(StatusKind::offline); }, Tap::wake, Press::nothing},
        {"waking", [](Inputs& in) { in.status = BrainStatus::of(StatusKind::starting); }, Tap::nothing, Press::nothing},
        {"installing", [](Inputs& in) { in.status = BrainStatus::installing(QStringLiteral("python")); }, Tap::nothing,
         Press::nothing},
        {"load a record", [](Inputs& in) { in.decks[0] = {}; }, Tap::nothing, Press::nothing},
        {"fork", [](Inputs&) {}, Tap::fork, Press::nothing},
        {"dreaming, a fork", [](Inputs& in) { in.phase = OutpaintPhase::capturing(); }, Tap::fork, Press::cancel},
        {"dreaming, an extension while deck 1 stops",
         [](Inputs& in) {
             in.phase = OutpaintPhase::rendering(QStringLiteral("sample"), 1, 8);
             in.pendingIsExtension = true;
             in.deckOneLivePlaying = false;
             in.decks[1].track = take(kSource);
         },
         Tap::nothing, Press::cancel},
        {"dreaming, an extension while deck 1 plays",
         [](Inputs& in) {
             in.phase = OutpaintPhase::composing();
             in.pendingIsExtension = true;
             in.deckOneLivePlaying = true;
         },
         Tap::fork, Press::cancel},
        {"drop it, a ready mix under direct outs",
         [](Inputs& in) {
             in.readyMix = true;
             in.directOuts = true;
         },
         Tap::dropMix, Press::nothing},
        {"drop it under direct outs",
         [](Inputs& in) {
             in.drop = DropStatus::ready(0.0);
             in.directOuts = true;
             in.decks[1].track = take(kSource);
         },
         Tap::drop, Press::reroll},
        {"drop it", [](Inputs& in) { in.drop = DropStatus::waiting(5.0); }, Tap::mixToDeckTwo, Press::nothing},
        {"armed", [](Inputs& in) { in.drop = DropStatus::armed(5.0); }, Tap::drop, Press::nothing},
        {"steer",
         [](Inputs& in) {
             in.decks[1].track = take(kSource);
             in.decks[1].playing = true;
         },
         Tap::extend, Press::reroll},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Inputs in = base();
        row.set(in);
        EXPECT_EQ(keysteps::tapAction(in), row.tap);
        EXPECT_EQ(keysteps::pressAction(in), row.press);
    }
}

TEST(ModelKeySteps, StatusModelSizeAndDownloadTexts)
{
    const std::vector<std::pair<BrainStatus, QString>> statuses = {
        {BrainStatus::installing(QStringLiteral("x")), "downloading"},
        {BrainStatus::loading(QStringLiteral("x")), "waking"},
        {BrainStatus::of(StatusKind::starting), "waking"},
        {BrainStatus::failed(QStringLiteral("Boom")), QString::fromUtf8("fault \u00b7 boom")},
        {BrainStatus::of(StatusKind::checking), "checking"},
        {BrainStatus::of(StatusKind::notInstalled), "not installed"},
        {BrainStatus::of(StatusKind::offline), "asleep"},
        {BrainStatus::of(StatusKind::ready), "ready"},
        {BrainStatus::of(StatusKind::rendering), "writing"},
    };
    for (const auto& [status, text] : statuses)
        EXPECT_EQ(keysteps::modelStatus(status), text) << status.label().toStdString();

    Inputs in = base();
    in.model = std::nullopt;
    EXPECT_EQ(keysteps::modelLine(in), QString::fromUtf8("base \u00b7 ready"));
    in.model = QStringLiteral("zelvo-0");
    EXPECT_EQ(keysteps::modelLine(in), "ready");
    in.model = QStringLiteral("dub-techno");
    in.status = BrainStatus::of(StatusKind::offline);
    EXPECT_EQ(keysteps::modelLine(in), QString::fromUtf8("dub-techno \u00b7 asleep"));

    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::ok(3, 9.84)), "9.8 gb");
    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::ok(3, 12.35)), "12.3 gb"); // printf's rounding
    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::bad(QStringLiteral("no"))), "~10 gb");
    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::none()), "~10 gb");
    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::checking()), "~10 gb");

    struct Row {
        std::optional<QString> stage; // none: not installing
        bool started;
        double fraction;
        QString text;
    };
    const std::vector<Row> rows = {
        {std::nullopt, true, 0.5, ""},
        {"runtime", true, 0.5, "summary"},
        {"runtime", false, 0.0, QString::fromUtf8("setting up the runtime \u00b7 then 9.8 gb")},
        {"python", true, 1.0, QString::fromUtf8("setting up the runtime \u00b7 then 9.8 gb")},
        {"local", false, 0.0, "putting it in place"},
        {"finetune", true, 1.0, "putting it in place"},
        {"verify", true, 1.0, "checking every file"},
        {"verify", false, 0.0, "verify"},
    };
    for (const Row& row : rows) {
        Inputs d = base();
        d.status = row.stage ? BrainStatus::installing(*row.stage) : BrainStatus::of(StatusKind::ready);
        d.check = KavriAccount::Check::ok(2, 9.8);
        d.download.started = row.started;
        d.download.fraction = row.fraction;
        d.download.summary = QStringLiteral("summary");
        EXPECT_EQ(keysteps::downloadDetail(d), row.text) << row.stage.value_or("-").toStdString() << row.started;
    }

    BrainHealth health;
    EXPECT_EQ(keysteps::installedModel(std::nullopt, QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(keysteps::installedModel(health, QStringLiteral("x")), std::nullopt);
    health.models = {{QStringLiteral("x"), QStringLiteral("base")}};
    EXPECT_EQ(keysteps::installedModel(health, QStringLiteral("x")), std::nullopt);
    health.models.push_back({QStringLiteral("x"), QStringLiteral("lora")});
    EXPECT_EQ(keysteps::installedModel(health, QStringLiteral("x")), QStringLiteral("x"));
}

TEST(ModelKeySteps, ComputedNumbersBecomeWholeSafely)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(keysteps::wholeOf(std::nan("")), 0);
    EXPECT_EQ(keysteps::wholeOf(inf), 0);
    EXPECT_EQ(keysteps::wholeOf(1e20), std::numeric_limits<int>::max());
    EXPECT_EQ(keysteps::wholeOf(-1e20), std::numeric_limits<int>::min());
    EXPECT_EQ(keysteps::wholeOf(1.9), 1);
    EXPECT_EQ(keysteps::wholeOf(-1.9), -1);
    EXPECT_EQ(keysteps::clockText(-5.0), "0:00");
    EXPECT_EQ(keysteps::clockText(0.0), "0:00");
    EXPECT_EQ(keysteps::clockText(125.0), "2:05");
    EXPECT_EQ(keysteps::clockText(std::nan("")), "0:00");
}

struct TextRow {
    const char* name;
    std::function<void(Inputs&)> set;
    QString text;
};

TEST(ModelKeySteps, FlowLineRulesInOrder)
{
    // Flow mode on; each row sits where the rules before it just fail.
    const auto flow = [](std::function<void(Inputs&)> more) {
        return [more](Inputs& in) {
            in.autoQueue = true;
            more(in);
        };
    };
    const auto takePlaying = [](Inputs& in) {
        in.liveDeck = 1;
        in.decks[1].track = take(kSource);
        in.decks[1].playing = true;
    };
    const std::vector<TextRow> rows = {
        {"direct outs", [](Inputs& in) { in.directOuts = true; },
         QString::fromUtf8("the djm is mixing \u00b7 flow sits this one out")},
        {"a bridge",
         [](Inputs& in) {
             in.phase = OutpaintPhase::composing();
             in.pendingIsExtension = true;
             in.bridging = trackNamed(QStringLiteral("Next UP"));
         },
         "zelvo-0 is writing a bridge into next up"},
        {"an extension without a bridge, flow off",
         [](Inputs& in) {
             in.phase = OutpaintPhase::composing();
             in.pendingIsExtension = true;
         },
         QString::fromUtf8("flow off \u00b7 your records and zelvo-0, back and forth, on their own")},
        {"a mix", flow([](Inputs& in) { in.transition = TransitionModel::Phase::starting(1); }), "mixing"},
        {"hands on 44.9 s ago", flow([](Inputs& in) { in.handsOnAt = kNow.addMSecs(-44900); }),
         QString::fromUtf8("you're driving \u00b7 flow waits until your hands are off")},
        {"the take plays, 60 s live", flow([&](Inputs& in) {
             takePlaying(in);
             in.handsOnAt = kNow.addSecs(-45);
             in.liveSince = kNow.addSecs(-60);
             in.stretchesWritten = 5;
             in.stretchesAtLive = 4;
         }),
         QString::fromUtf8("zelvo-0 is playing \u00b7 a record back in \u2264 2:00")},
        {"the take plays, two stretches written", flow([&](Inputs& in) {
             takePlaying(in);
             in.liveSince = kNow.addSecs(-60);
             in.stretchesWritten = 2;
             in.nextQueued = trackNamed(QStringLiteral("Second ONE"));
         }),
         "next: second one"},
        {"the take plays, 180 s live, nothing queued", flow([&](Inputs& in) {
             takePlaying(in);
             in.liveSince = kNow.addSecs(-180);
         }),
         "next record when one's queued"},
        {"deck 1 stopped", flow([](Inputs& in) { in.decks[0].playing = false; }),
         "press play on deck 1 and flow takes it from there"},
        {"deck 1's take waits, 10 s live", flow([](Inputs& in) {
             in.decks[1].track = take(kSource);
             in.liveSince = kNow.addSecs(-10);
         }),
         QString::fromUtf8("zelvo-0's take is ready \u00b7 in at 1:05")},
        {"deck 1's take waits, 80 s live", flow([](Inputs& in) {
             in.decks[1].track = take(kSource);
             in.liveSince = kNow.addSecs(-80);
         }),
         QString::fromUtf8("zelvo-0's take is ready \u00b7 in at 0:00")},
        {"a take of another record", flow([](Inputs& in) {
             in.decks[1].track = take(QUuid::createUuid());
             in.phase = OutpaintPhase::capturing();
         }),
         "zelvo-0 is writing its take of blue monday"},
        {"listening", flow([](Inputs&) {}), "listening to blue monday"},
        // Deck 2 live with a record of its own: the same order.
        {"deck 2 live, a render", flow([](Inputs& in) {
             in.liveDeck = 1;
             in.decks[1].track = trackNamed(QStringLiteral("Second ONE"));
             in.decks[1].playing = true;
             in.phase = OutpaintPhase::capturing();
         }),
         "zelvo-0 is writing its take of blue monday"},
        {"deck 2 live", flow([](Inputs& in) {
             in.liveDeck = 1;
             in.decks[1].track = trackNamed(QStringLiteral("Second ONE"));
             in.decks[1].playing = true;
         }),
         "listening to second one"},
        {"deck 2 live and stopped, deck 1 plays", flow([](Inputs& in) {
             in.liveDeck = 1;
             in.decks[1].track = trackNamed(QStringLiteral("Second ONE"));
         }),
         "listening to blue monday"},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.name);
        Inputs in = base();
        row.set(in);
        EXPECT_EQ(keysteps::flowLine(in), row.text);
    }
}

TEST(ModelKeySteps, GuideRulesInOrder)
{
    const auto grid = [](double bpm) {
        return [bpm](Inputs& in) {
            // 120 bpm in 4/4: 2 s a bar; deck 1 at 10 s, the mix into deck 2.
            in.decks[0].track->grid = BeatGrid(bpm, 0.0, 4);
            in.decks[0].position = 10.0;
        };
    };
    const auto waiting = [grid](double bpm, double at) {
        return [=](Inputs& in) {
            grid(bpm)(in);
            in.transition = TransitionModel::Phase::waitingDownbeat(1, at);
        };
    };
    const auto deckTwoLive = [](std::function<void(Inputs&)> more) {
        return [more](Inputs& in) {
            in.liveDeck = 1;
            in.decks[1].track = take(kSource);
            in.decks[1].playing = true;
            more(in);
        };
    };
    const std::vector<TextRow> rows = {
        {"a hint", [](Inputs& in) {
             in.hint = QStringLiteral("WAIT FOR THE MIX TO FINISH");
             in.hintUntil = kNow.addMSecs(1);
             in.transition = TransitionModel::Phase::mixing(1, 0.5);
         },
         "WAIT FOR THE MIX TO FINISH"},
        {"a hint at its end, a note", [](Inputs& in) {
             in.hint = QStringLiteral("OLD");
             in.hintUntil = kNow;
             in.note = QStringLiteral("YOU TOOK OVER");
             in.noteExpires = kNow.addSecs(1);
         },
         "YOU TOOK OVER"},
        {"a note during a mix", [](Inputs& in) {
             in.note = QStringLiteral("YOU TOOK OVER");
             in.noteExpires = kNow.addSecs(1);
             in.transition = TransitionModel::Phase::starting(1);
         },
         QString::fromUtf8("STARTING THE OTHER DECK\u2026")},
        {"1.9 bars", waiting(120.0, 13.8), QString::fromUtf8("MIX STARTS IN 1 BAR \u00b7 ON THE PHRASE")},
        {"2.5 bars", waiting(120.0, 15.0), QString::fromUtf8("MIX STARTS IN 2 BARS \u00b7 ON THE PHRASE")},
        {"0.9 bars", waiting(120.0, 11.8), "MIX STARTS ON THE PHRASE"},
        {"a start behind the playhead", waiting(120.0, 2.0), "MIX STARTS ON THE PHRASE"},
        {"no grid",
         [](Inputs& in) { in.transition = TransitionModel::Phase::waitingDownbeat(1, 100.0); },
         "MIX STARTS ON THE PHRASE"},
        {"a tempo of 0", waiting(0.0, 100.0), "MIX STARTS ON THE PHRASE"},
        {"a tempo of NaN", waiting(std::nan(""), 100.0), "MIX STARTS ON THE PHRASE"},
        {"a tempo near 0", waiting(1e-300, 100.0), "MIX STARTS ON THE PHRASE"},
        {"an absurd tempo", waiting(1e300, 100.0),
         QString::fromUtf8("MIX STARTS IN 2147483647 BARS \u00b7 ON THE PHRASE")},
        {"a NaN mix start", waiting(120.0, std::nan("")), "MIX STARTS ON THE PHRASE"},
        {"mixing at 0.999", [](Inputs& in) { in.transition = TransitionModel::Phase::mixing(1, 0.999); },
         QString::fromUtf8("MIXING \u00b7 99% \u00b7 GRAB THE CROSSFADER TO TAKE OVER")},
        {"both decks empty", [](Inputs& in) { in.decks[0] = {}; }, "DOUBLE-CLICK A TRACK TO LOAD DECK 1"},
        {"nothing plays", [](Inputs& in) {
             in.decks[0].playing = false;
             in.decks[1].track = trackNamed(QStringLiteral("B"));
         },
         QString::fromUtf8("PRESS PLAY \u25B6 ON DECK 1  (OR X)")},
        {"a render", [](Inputs& in) { in.phase = OutpaintPhase::rendering(QStringLiteral("queued"), 0, 0); },
         QString::fromUtf8("ZELVO-0 IS WRITING \u00b7 KEEP DECK 1 PLAYING")},
        {"deck 1 cued under the take", deckTwoLive([](Inputs& in) { in.decks[0].playing = false; }),
         QString::fromUtf8("DECK 1 CUED \u00b7 PRESS \u25C0 MIX 1 TO BRING IT BACK")},
        {"auto, nothing queued", deckTwoLive([](Inputs& in) { in.autoQueue = true; }),
         QString::fromUtf8("AUTO \u00b7 LOOKING FOR A RECORD THAT FITS")},
        {"endless", deckTwoLive([](Inputs&) {}),
         QString::fromUtf8("ENDLESS ZELVO-0 \u00b7 ADD TRACKS TO THE QUEUE WITH +")},
        {"auto, one queued", deckTwoLive([](Inputs& in) {
             in.autoQueue = true;
             in.nextQueued = trackNamed(QStringLiteral("Next one"));
         }),
         QString::fromUtf8("AUTO \u00b7 NEXT ONE IS NEXT")},
        {"manual, one queued", deckTwoLive([](Inputs& in) { in.nextQueued = trackNamed(QStringLiteral("Next one")); }),
         QString::fromUtf8("ON ZELVO-0 \u00b7 PRESS NEXT TO CUE NEXT ONE ON DECK 1")},
        {"deck 1's take ready", [](Inputs& in) { in.decks[1].track = take(kSource); },
         QString::fromUtf8("ZELVO-0'S TAKE IS READY \u00b7 PRESS MIX 2 \u25B6  \u00b7  \u25C0 \u25B6 TAKES TO AUDITION")},
        {"deck 1 empty under a playing take: the deck-2 lines", [](Inputs& in) {
             in.decks[0] = {};
             in.decks[1].track = take(std::nullopt);
             in.decks[1].playing = true;
         },
         "PRESS FORK FOR ZELVO-0'S TAKE ON THIS TRACK"},
        {"deck 2 cued", [](Inputs& in) { in.decks[1].track = trackNamed(QStringLiteral("B")); },
         QString::fromUtf8("DECK 2 CUED \u00b7 PRESS MIX 2 \u25B6 TO BRING IT IN")},
        {"another take, ready", [](Inputs& in) { in.decks[1].track = take(QUuid::createUuid()); },
         "PRESS FORK FOR ZELVO-0'S TAKE ON THIS TRACK"},
        {"deck 2 empty, rendering status", [](Inputs& in) { in.status = BrainStatus::of(StatusKind::rendering); },
         "WAITING FOR ZELVO-0 TO WAKE"},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.name);
        Inputs in = base();
        row.set(in);
        EXPECT_EQ(keysteps::guide(in), row.text);
    }
}

TEST(ModelKeySteps, NumbersKeepThePointUnderACommaLocale)
{
    const test::CommaLocale german;
    ASSERT_TRUE(german.active()) << german.why().toStdString();
    Inputs in = base();
    in.status = BrainStatus::installing(QStringLiteral("download"));
    in.download.started = true;
    in.download.fraction = 0.416;
    EXPECT_EQ(keysteps::title(in), "42%");
    EXPECT_EQ(keysteps::brainSize(KavriAccount::Check::ok(1, 9.84)), "9.8 gb");
    in = base();
    in.drop = DropStatus::waiting(12.4);
    EXPECT_EQ(keysteps::detail(in), QString::fromUtf8("mix in \u00b7 deck 1 reaches it in 12s"));
    in.transition = TransitionModel::Phase::mixing(1, 0.425);
    EXPECT_EQ(keysteps::guide(in), QString::fromUtf8("MIXING \u00b7 42% \u00b7 GRAB THE CROSSFADER TO TAKE OVER"));
    EXPECT_EQ(keysteps::clockText(65.5), "1:05");
}

// --- Through the state root: its reading of the models and the actions.

class FakeKey final : public ModelKeyLink {
public:
    explicit FakeKey(QStringList& journal) : journal_(journal) {}
    BrainStatus brainStatus() const override { return status; }
    std::optional<BrainHealth> brainHealth() const override { return health; }
    QString accountKey() const override { return key; }
    OutpaintPhase phase() const override { return phaseNow; }
    bool hasReadyMix() const override { return readyMix; }
    std::optional<QString> settingsModel() const override { return model; }
    void dropMix() override { journal_ << "key.dropMix"; }
    void cancel() override { journal_ << "key.cancel"; }
    void reroll() override { journal_ << "key.reroll"; }

    BrainStatus status = BrainStatus::of(StatusKind::notInstalled);
    std::optional<BrainHealth> health;
    QString key;
    OutpaintPhase phaseNow;
    bool readyMix = false;
    std::optional<QString> model = QStringLiteral("zelvo-0");

private:
    QStringList& journal_;
};

TEST(ModelKeySteps, TheStateRootReadsItsModelsAndActs)
{
    test::AppRig rig;
    AppModel& app = rig.make();
    auto owned = std::make_unique<FakeKey>(rig.world.journal);
    FakeKey& key = *owned;
    app.setModelKeyLink(std::move(owned));
    rig.world.journal.clear();

    // No key: the tap opens the settings and installs nothing.
    EXPECT_EQ(app.aiStep(), AIStep::install);
    app.aiPrimary();
    EXPECT_TRUE(app.showSettings());
    // With a key it installs (nothing here: the fakes have no installer).
    app.setShowSettings(false);
    key.key = QStringLiteral("k-1");
    app.aiPrimary();
    EXPECT_FALSE(app.showSettings());
    key.status = BrainStatus::of(StatusKind::offline);
    EXPECT_EQ(app.aiStepDetail(), "asleep");
    app.aiPrimary();
    // Ready, decks empty and the fake workflow refuses: load a record.
    key.status = BrainStatus::of(StatusKind::ready);
    EXPECT_EQ(app.aiStepTitle(), "load a record");
    EXPECT_EQ(app.guide(), "DOUBLE-CLICK A TRACK TO LOAD DECK 1");
    EXPECT_EQ(app.flowLine(), QString::fromUtf8("flow off \u00b7 your records and zelvo-0, back and forth, on their own"));
    app.aiPrimary();
    key.readyMix = true;
    app.aiPrimary();
    key.readyMix = false;
    key.phaseNow = OutpaintPhase::capturing();
    app.aiPrimary();
    app.aiSecondary();
    EXPECT_EQ(rig.world.journal, QStringList({"brain.start(48)", "key.dropMix", "workflow.fork(1)",
                                              "key.cancel"}));

    // The render pipeline's model name: adapters only, once the server answered.
    EXPECT_EQ(app.installedModel(QStringLiteral("dub")), QStringLiteral("dub"));
    key.health = BrainHealth{};
    key.health->models = {{QStringLiteral("dub"), QStringLiteral("base")}};
    EXPECT_EQ(app.installedModel(QStringLiteral("dub")), std::nullopt);
    key.model = std::nullopt;
    EXPECT_EQ(app.modelLine(), QString::fromUtf8("base \u00b7 ready"));

    // The hint shows until its end, and no longer; the text stays.
    app.setHint(QStringLiteral("QUEUE IS EMPTY \u00b7 ADD TRACKS WITH +"));
    app.setHintUntil(rig.scheduler.now().addSecs(3));
    EXPECT_EQ(app.guide(), QString::fromUtf8("QUEUE IS EMPTY \u00b7 ADD TRACKS WITH +"));
    rig.scheduler.advance(3.0);
    EXPECT_EQ(app.guide(), "DOUBLE-CLICK A TRACK TO LOAD DECK 1");
    EXPECT_TRUE(app.hint().has_value());

    // The next queued record passes over entries the library no longer holds.
    EXPECT_EQ(app.nextQueuedRecord(), std::nullopt);
    TrackRecord kept = take(kSource);
    kept.added = rig.scheduler.now();
    app.library().addOutpaint(kept, WaveformData{});
    app.setQueue({QUuid::createUuid(), kept.id});
    ASSERT_TRUE(app.nextQueuedRecord());
    EXPECT_EQ(app.nextQueuedRecord()->id, kept.id);

    // Deck 2's step reads its voice's published flag: a paused take is no steer.
    const auto voice = std::make_shared<DeckVoice>(48000.0, 512);
    app.deck(1).attach(voice, false);
    app.deck(1).install(kept, TrackBufferRef(4800, 48000.0), nullptr, false);
    ASSERT_TRUE(app.deck(1).track());
    key.phaseNow = OutpaintPhase::idle();
    rig.world.journal.clear();
    EXPECT_EQ(app.aiStep(), AIStep::loadRecord); // the fake workflow refuses; deck 1 is empty
    // As a render publishes it: the buffer taken, a whole timeline write later.
    DeckState& cells = const_cast<DeckState&>(voice->state());
    cells.loaded.store(true);
    cells.playing.store(true);
    cells.timelineWrites.store(cells.timelineWrites.load() + 8);
    EXPECT_EQ(app.aiStep(), AIStep::steer);
    app.aiPrimary();
    app.aiSecondary();
    EXPECT_EQ(rig.world.journal, QStringList({"workflow.extend(0)", "key.reroll"}));
    app.deck(1).attach(nullptr, false);
}

} // namespace
} // namespace zelvo
