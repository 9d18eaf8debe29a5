// The tour's step model and launch grammar, where a card goes beside a
// region, what each card says for what is plugged in, and the field guide.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "ui/kit/UiEnv.h"
#include "ui/tour/TourCopy.h"
#include "state/TourGuide.h"
#include "state/TourModel.h"
#include "ui/tour/TourPlace.h"

#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Step = TourModel::Step;

struct TourRig {
    test::TempHome home;
    ManualScheduler clock;
    UserDefaults defaults{home.file(QStringLiteral("defaults.json"))};
    std::optional<bool> seen() const { return defaults.boolean(QString::fromLatin1(TourModel::kSeenKey)); }
};

TEST(TourModel, LaunchGrammarAndTheSeenFlag)
{
    struct Row {
        const char* what;
        QStringList args;
        bool seenBefore;
        std::optional<Step> starts;
    };
    const QString p = QStringLiteral("kavri-zelvo");
    const std::vector<Row> rows{
        {"first run", {p}, false, Step::welcome},
        {"seen", {p}, true, std::nullopt},
        {"snapshot keeps it away", {p, "--snapshot"}, false, std::nullopt},
        {"no-tour keeps it away", {p, "--no-tour"}, false, std::nullopt},
        {"named step beats everything", {p, "--no-tour", "--tour", "mixer", "--snapshot"}, true, Step::mixer},
        {"names are case-sensitive", {p, "--tour", "Mixer"}, true, Step::welcome},
        {"bare --tour at the end", {p, "--tour"}, true, Step::welcome},
        {"the first --tour counts", {p, "--tour", "go", "--tour", "key"}, false, Step::go},
        {"every name", {p, "--tour", "flow"}, false, Step::flow},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TourRig rig;
        if (row.seenBefore)
            rig.defaults.setBoolean(QString::fromLatin1(TourModel::kSeenKey), true);
        TourModel tour(row.args, rig.defaults, rig.clock);
        tour.startIfFirstRun();
        EXPECT_EQ(tour.step(), row.starts);
        // Starting never marks the tour seen; a kept-away first run stays unseen.
        EXPECT_EQ(rig.seen().value_or(false), row.seenBefore);
    }
}

TEST(TourModel, StepsChangedAtAndFinishing)
{
    TourRig rig;
    TourModel tour({}, rig.defaults, rig.clock);
    const QDateTime born = rig.clock.now();
    EXPECT_EQ(tour.changedAt(), born);
    EXPECT_FALSE(tour.step());

    int changes = 0;
    QObject::connect(&tour, &TourModel::stepChanged, [&] { ++changes; });
    tour.next();
    tour.back();
    EXPECT_EQ(tour.changedAt(), born) << "nothing moves without a tour";

    rig.clock.advance(1.0);
    tour.start(Step::welcome);
    EXPECT_EQ(tour.changedAt(), born.addSecs(1));
    rig.clock.advance(1.0);
    tour.back();
    EXPECT_EQ(tour.step(), Step::welcome);
    EXPECT_EQ(tour.changedAt(), born.addSecs(1)) << "back at welcome touches nothing";
    tour.start(Step::welcome);
    EXPECT_EQ(tour.changedAt(), born.addSecs(2)) << "a restart renews the time";

    for (int i = 1; i < TourModel::kStepCount; ++i) {
        tour.next();
        EXPECT_EQ(tour.step(), TourModel::fromRaw(i));
    }
    rig.clock.advance(1.0);
    tour.back();
    EXPECT_EQ(tour.step(), Step::flow);
    EXPECT_EQ(tour.changedAt(), born.addSecs(3));
    tour.next();
    EXPECT_FALSE(rig.seen());
    const QDateTime last = tour.changedAt();
    rig.clock.advance(1.0);
    tour.next(); // at go: finishes
    EXPECT_FALSE(tour.step());
    EXPECT_EQ(rig.seen(), true);
    EXPECT_EQ(tour.changedAt(), last) << "finishing keeps the time";
    const int before = changes;
    tour.next();
    tour.back();
    EXPECT_EQ(changes, before);

    // The Help menu restarts whatever the flag, and does not reset it.
    tour.start(Step::welcome);
    EXPECT_EQ(tour.step(), Step::welcome);
    EXPECT_EQ(rig.seen(), true);

    // Finishing with no tour showing still remembers it.
    TourRig other;
    TourModel idle({}, other.defaults, other.clock);
    idle.finish();
    EXPECT_EQ(other.seen(), true);
    EXPECT_EQ(TourModel::fromRaw(9), std::nullopt);
    EXPECT_EQ(TourModel::fromRaw(-1), std::nullopt);
}

TEST(TourPlace, BesideTheRegionOrCentred)
{
    const QSizeF window(1600, 1000);
    struct Row {
        const char* what;
        QSizeF card;
        std::optional<QRectF> hole;
        QPointF centre;
    };
    const std::vector<Row> rows{
        {"no region: centred", {420, 280}, std::nullopt, {800, 500}},
        {"below", {400, 200}, QRectF(600, 100, 400, 100), {800, 200 + 18 + 100}},
        // 700 + 18 + 264 = 982 = 1000 - 18: touching the margin does not fit below.
        {"exactly on the bottom margin goes above", {400, 264}, QRectF(600, 400, 400, 300), {800, 400 - 18 - 132}},
        {"one point less fits below", {400, 263}, QRectF(600, 400, 400, 300), {800, 700 + 18 + 131.5}},
        {"near the bottom: above", {400, 200}, QRectF(600, 900, 400, 80), {800, 900 - 18 - 100}},
        {"far left: left edge held 18 from the window", {400, 200}, QRectF(0, 100, 100, 100), {218, 318}},
        {"far right: right edge held 18 from the window", {400, 200}, QRectF(1500, 100, 100, 100), {1382, 318}},
        {"as tall as the window: to the right", {400, 200}, QRectF(100, 0, 300, 1000), {400 + 18 + 200, 500}},
        {"tall at the right: to the left", {400, 200}, QRectF(1200, 0, 400, 1000), {1200 - 18 - 200, 500}},
        {"tall and wide: centred", {400, 200}, QRectF(200, 0, 1200, 1000), {800, 500}},
        {"side placement clamps y", {400, 990}, QRectF(100, 0, 100, 1000), {418, 1000 - 495 - 18}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QPointF got = placeTourCard(row.card, row.hole, window);
        EXPECT_DOUBLE_EQ(got.x(), row.centre.x());
        EXPECT_DOUBLE_EQ(got.y(), row.centre.y());
    }
    // Bounds that cross (a card wider than the window): the upper bound wins.
    const QPointF wide = placeTourCard({1590, 100}, QRectF(700, 100, 100, 100), window);
    EXPECT_DOUBLE_EQ(wide.x(), 1600 - 795 - 18);
}

TEST(TourCopy, EveryStepForWhatIsPluggedIn)
{
    using Kind = std::optional<ControllerKind>;
    const std::vector<Kind> kinds{std::nullopt, ControllerKind::flx4, ControllerKind::flx10};
    const auto caps = [](const TourCopy& c) {
        QStringList out;
        for (const auto& h : c.hands)
            out << h.first;
        return out.join(QLatin1Char('|'));
    };
    for (const Kind& kind : kinds) {
        for (bool players : {false, true}) {
            const TourCopy::Inputs in{kind, players, QStringLiteral("4.2 gb")};
            const bool C = kind.has_value(), F = kind == ControllerKind::flx10;
            SCOPED_TRACE(QStringLiteral("controller %1 flx10 %2 players %3").arg(C).arg(F).arg(players).toStdString());
            for (Step s : TourModel::allSteps()) {
                const TourCopy c = TourCopy::make(s, in);
                // Tour texts are lower case except the key caps.
                EXPECT_EQ(c.kicker, c.kicker.toLower());
                EXPECT_EQ(c.title, c.title.toLower());
                EXPECT_EQ(s == Step::welcome, c.title.isEmpty());
                EXPECT_FALSE(c.body.contains(QStringLiteral("mac")));
                EXPECT_FALSE(c.body.contains(QChar(0x2318)));
            }
            const TourCopy key = TourCopy::make(Step::key, in);
            EXPECT_TRUE(key.body.contains(QStringLiteral("from the kavri cdn, 4.2 gb, once.")));
            EXPECT_TRUE(key.body.contains(QStringLiteral("runs on this computer.")));

            const TourCopy ctl = TourCopy::make(Step::controller, in);
            if (players) {
                EXPECT_EQ(ctl.title, QStringLiteral("your cdjs are the decks."));
                EXPECT_EQ(caps(ctl), QString::fromUtf8("MEMORY|DELETE|CALL ◀ ▶|SOURCE"));
            } else {
                EXPECT_TRUE(ctl.hands.empty());
                EXPECT_EQ(ctl.title, !C  ? QStringLiteral("plug in a ddj.")
                                     : F ? QStringLiteral("the flx10 is the instrument.")
                                         : QStringLiteral("the flx4 is the instrument."));
                if (C) {
                    EXPECT_TRUE(ctl.body.contains(F ? QStringLiteral(" — four decks, its mixer, its jog screens,")
                                                    : QStringLiteral(" — two decks, its mixer, its pads,")));
                }
            }
            EXPECT_EQ(caps(TourCopy::make(Step::lanes, in)), F ? QStringLiteral("DECK 1/3 · 2/4") : QStringLiteral("Z  X|N  M"));
            EXPECT_EQ(caps(TourCopy::make(Step::crate, in)),
                      C ? QStringLiteral("BROWSE|tab") : QString::fromUtf8("tab|⏎  ⇧⏎"));
            EXPECT_EQ(caps(TourCopy::make(Step::machine, in)),
                      F   ? QString::fromUtf8("MIX POINT LINK|◀  ▶|SAMPLER pads|G  H")
                      : C ? QStringLiteral("SAMPLER pads|G  H")
                          : QStringLiteral("G  H"));
            const TourCopy mixer = TourCopy::make(Step::mixer, in);
            EXPECT_EQ(caps(mixer), F ? QString::fromUtf8("DRUMS · VOCAL · INST|←  →") : QString::fromUtf8("←  →"));
            EXPECT_EQ(mixer.body,
                      QStringLiteral("every knob and fader here is the twin of one on the controller") +
                          (F ? QStringLiteral(", in the hardware's order — 3 · 1 · 2 · 4") : QString()) +
                          QStringLiteral(". move one and its value shows big for a second."));
            for (Step s : {Step::welcome, Step::key, Step::flow, Step::go})
                EXPECT_TRUE(TourCopy::make(s, in).hands.empty());
        }
    }
    EXPECT_TRUE(TourCopy::make(Step::crate, {}).body.contains(QStringLiteral("or Ctrl+O.")));
}

TEST(TourGuide, InstalledGuideElseTheDocsBesideTheScripts)
{
    for (int mask = 0; mask < 4; ++mask) {
        SCOPED_TRACE(mask);
        test::TempHome home;
        const QString data = home.file(QStringLiteral("share/kavri-zelvo"));
        const QString scripts = home.file(QStringLiteral("src/brain"));
        QDir().mkpath(data);
        QDir().mkpath(scripts);
        QDir().mkpath(home.file(QStringLiteral("src/docs")));
        const QString installed = data + QStringLiteral("/kavri-zelvo-guide.pdf");
        const QString docs = home.file(QStringLiteral("src/docs/kavri-zelvo-guide.pdf"));
        if (mask & 1)
            QFile(installed).open(QIODevice::WriteOnly);
        if (mask & 2)
            QFile(docs).open(QIODevice::WriteOnly);
        const QString expected = (mask & 1) ? installed : (mask & 2) ? docs : QString();
        EXPECT_EQ(tourGuidePath(data, scripts + QStringLiteral("/")), QDir::cleanPath(expected).isEmpty() ? QString() : QDir::cleanPath(expected));
    }

    // Through the state root: its scripts folder holds no docs, so only the
    // installed guide opens.
    test::AppRig rig;
    AppModel& app = rig.make();
    kit::test::RecordingDesktop desktop;
    const QString data = rig.home.file(QStringLiteral("share"));
    QDir().mkpath(data);
    app.openGuide(desktop, data);
    EXPECT_TRUE(desktop.opened.isEmpty());
    QFile(data + QStringLiteral("/kavri-zelvo-guide.pdf")).open(QIODevice::WriteOnly);
    app.openGuide(desktop, data);
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.opened.front(), QUrl::fromLocalFile(QDir::cleanPath(data + QStringLiteral("/kavri-zelvo-guide.pdf"))));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Answers every opening with "no application for that".
class NoViewer final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl& url) override
    {
        asked << url;
        return false;
    }
    QList<QUrl> asked;
};

TEST(TourGuide, TheBuiltGuideOpensFromTheBuildTreeAndFromAnInstall)
{
    test::AppRig rig;
    AppModel& app = rig.make();

    // The program run from the build tree (<build>/app/kavri-zelvo).
    kit::test::RecordingDesktop fromBuild;
    app.openGuide(fromBuild, AppModel::guideFolder(QStringLiteral(ZELVO_BINARY_DIR "/app")));
    const QString built = QDir::cleanPath(QStringLiteral(ZELVO_BINARY_DIR "/share/kavri-zelvo/kavri-zelvo-guide.pdf"));
    ASSERT_EQ(fromBuild.opened.size(), 1);
    EXPECT_EQ(fromBuild.opened.front(), QUrl::fromLocalFile(built));
    EXPECT_TRUE(QFileInfo(built).size() > 0);

    // An installed copy: the install rule puts the guide in the share folder.
    const QString prefix = rig.home.file(QStringLiteral("KavriZelvo"));
    QProcess install;
    install.start(QStringLiteral(ZELVO_CMAKE_COMMAND), {QStringLiteral("--install"), QStringLiteral(ZELVO_BINARY_DIR),
                                                        QStringLiteral("--prefix"), prefix,
                                                        QStringLiteral("--component"), QStringLiteral("guide")});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    kit::test::RecordingDesktop fromInstall;
    app.openGuide(fromInstall, AppModel::guideFolder(prefix + QStringLiteral("/bin")));
    ASSERT_EQ(fromInstall.opened.size(), 1);
    EXPECT_EQ(fromInstall.opened.front(), QUrl::fromLocalFile(prefix + QStringLiteral("/share/kavri-zelvo/kavri-zelvo-guide.pdf")));
    EXPECT_EQ(readFile(fromInstall.opened.front().toLocalFile()), readFile(built));

    // No PDF viewer: asked each time, said once in the log, nothing else.
    NoViewer none;
    rig.world.journal.clear();
    app.openGuide(none, AppModel::guideFolder(prefix + QStringLiteral("/bin")));
    app.openGuide(none, AppModel::guideFolder(prefix + QStringLiteral("/bin")));
    EXPECT_EQ(none.asked.size(), 2);
    EXPECT_EQ(rig.world.journal.filter(QStringLiteral("brain.note guide: no application opens PDF")).size(), 1)
        << rig.world.journal.join(QLatin1Char('\n')).toStdString();
}

} // namespace
} // namespace zelvo
