// The whole program with the tour: a first launch in a fresh home, with the
// stand-in content service, installer and model server on the loopback and a
// DDJ-FLX4 simulated on virtual MIDI ports, shows the hero; the keys walk the
// cards; a key typed into the key card is checked while the tour stays and the
// model downloads to its installed line; the controller card names the FLX4
// and echoes a turned knob; the last card's primary key ends the tour, which a
// second launch no longer shows. Then every step rendered by the built program
// into the build folder for review.
#include "AppTestSupport.h"
#include "KitTestSupport.h"

#include "shell/AppDelegate.h"
#include "shell/ModelKeyNeighbours.h"
#include "shell/StandardNeighbours.h"
#include "shell/StatusNeighbours.h"
#include "generation/BrainSupervisor.h"
#include "generation/KavriAccount.h"
#include "platform/VirtualMidiSystem.h"
#include "support/ProgramRun.h"
#include "support/SimulatedControllers.h"
#include "support/StandInBrain.h"
#include "support/StandInCdn.h"
#include "ui/tour/TourLiveViews.h"
#include "state/TourModel.h"
#include "ui/tour/TourViews.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::tour {
namespace {

// One launch of the program's parts in this process.
struct Launch {
    explicit Launch(std::shared_ptr<VirtualMidiSystem> midi = {})
    {
        if (midi)
            neighbours.controllerSetup.midiSystem = [midi] { return std::static_pointer_cast<MidiSystem>(midi); };
        setup.neighbours = &neighbours;
        model = std::make_unique<AppModel>(defaults, scheduler, QStringList{QStringLiteral("kavri-zelvo")}, setup);
        model->setModelKeyLink(makeModelKeyLink(neighbours));
        model->setStatusLink(makeStatusLink(neighbours));
        delegate = std::make_unique<AppDelegate>(*model, scheduler, QStringList{QStringLiteral("kavri-zelvo")},
                                                 std::nullopt, nullptr, &neighbours);
        delegate->window().show();
        delegate->window().activateWindow();
        delegate->launched();
    }
    ~Launch()
    {
        model->shutdown();
        delegate.reset();
        model.reset();
    }
    std::optional<TourModel::Step> step() const { return neighbours.tour->step(); }
    void key(Qt::Key key) { QTest::keyClick(delegate->window().windowHandle(), key); }
    template <class T>
    T* find(const char* name) const
    {
        return delegate->window().findChild<T*>(QString::fromLatin1(name));
    }

    QtScheduler scheduler;
    UserDefaults defaults;
    StandardNeighbours neighbours;
    AppModel::Setup setup;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppDelegate> delegate;
};

TEST(TourProgram, FirstLaunchWalksTheTourAndRemembersIt)
{
    test::TempHome home;
    test::StandInCdn::Options options;
    options.rate = 3e6; // a few seconds of download: the bar is seen running
    test::StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    qputenv("KAVRI_CDN", cdn.base().toString().toUtf8());
    qputenv("KAVRI_BRAIN_PORT", QByteArray::number(test::StandInBrain::freePort()));
    qputenv("KAVRI_BRAIN_HOME", home.file(QStringLiteral("brain")).toUtf8());
    qputenv("PYTHONDONTWRITEBYTECODE", "1");
    auto midi = std::make_shared<VirtualMidiSystem>();
    {
        Launch app(midi);
        test::SimulatedDdj flx4(*midi, ControllerKind::flx4, "DDJ-FLX4");
        ASSERT_EQ(app.step(), TourModel::Step::welcome);
        ASSERT_TRUE(test::spinUntil([&] { return app.find<TourHero>("tour.hero") != nullptr; }));
        app.key(Qt::Key_Return);
        EXPECT_EQ(app.step(), TourModel::Step::key);

        // The field takes focus by itself (the card is rebuilt when the
        // controller comes up); typing and Return stay in it.
        QLineEdit* field = nullptr;
        ASSERT_TRUE(test::spinUntil([&] {
            field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            return field && field->objectName() == QStringLiteral("tour.key.field");
        }, 5));
        QTest::keyClicks(field, QString::fromLatin1(test::StandInCdn::validKey));
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_EQ(app.step(), TourModel::Step::key) << "Return in the field does not move the tour";
        EXPECT_TRUE(test::spinUntil([&] { return app.neighbours.account->check().isOk(); }, 20));
        EXPECT_TRUE(test::spinUntil([&] { return app.find<QWidget>("tour.key.works") != nullptr; }, 5));

        // The confirmed key starts the model's download: the bar runs, then
        // gives way to the installed line once the model server comes up.
        EXPECT_TRUE(test::spinUntil([&] { return app.find<QWidget>("tour.download.bar") != nullptr; }, 30))
            << "the download bar shows";
        EXPECT_TRUE(test::spinUntil([&] { return app.find<QWidget>("tour.download.installed") != nullptr; }, 60))
            << app.neighbours.brain->log().join('\n').toStdString();

        QApplication::focusWidget() ? QApplication::focusWidget()->clearFocus() : void();
        app.key(Qt::Key_Right);
        EXPECT_EQ(app.step(), TourModel::Step::controller);
        auto* live = app.find<TourControllerLive>("tour.controller");
        ASSERT_NE(live, nullptr);
        EXPECT_TRUE(test::spinUntil([&] {
            midi->flush();
            live->refresh();
            return live->line().attached && live->line().text.contains(QStringLiteral("FLX4"), Qt::CaseInsensitive);
        }, 10)) << live->line().text.toStdString();
        // Channel 1's trim, first to an end of its travel (where a first
        // reading passes), then back to the middle while it moves.
        const auto echoes = [&](const char* value) {
            return test::spinUntil([&] {
                midi->flush();
                live->refresh();
                return live->line().echo && live->line().value == QString::fromLatin1(value);
            }, 10);
        };
        flx4.knob(0, 0x04, 16383);
        EXPECT_TRUE(echoes("+9.0 db")) << live->line().text.toStdString();
        flx4.knob(0, 0x04, 8192);
        EXPECT_TRUE(echoes("0 db")) << live->line().value.toStdString();
        EXPECT_EQ(live->line().text, QString::fromUtf8("deck 1 · ch1 trim"));

        while (app.step() && *app.step() != TourModel::Step::go)
            app.key(Qt::Key_Right);
        auto* list = app.find<TourChecklist>("tour.checklist");
        ASSERT_NE(list, nullptr);
        list->refresh();
        ASSERT_FALSE(list->rows().empty());
        for (const ChecklistRow& row : list->rows())
            EXPECT_EQ(row.done, std::optional<bool>(true)) << "key, model and controller are ticked: "
                                                            << row.text.toStdString();
        app.key(Qt::Key_Return);
        EXPECT_FALSE(app.step());
        EXPECT_EQ(app.defaults.boolean(QString::fromLatin1(TourModel::kSeenKey)), true);
    }
    {
        Launch again;
        EXPECT_FALSE(again.step()) << "a second launch shows no tour";
    }
    for (const char* name : {"KAVRI_CDN", "KAVRI_BRAIN_PORT", "KAVRI_BRAIN_HOME", "PYTHONDONTWRITEBYTECODE"})
        qunsetenv(name);
}

TEST(TourProgram, EveryStepRendersFromTheCommandLine)
{
    test::TempHome home;
    QImage plain;
    for (const TourModel::Step step : TourModel::allSteps()) {
        const QString name = TourModel::name(step);
        SCOPED_TRACE(name.toStdString());
        const test::ProgramRun run = test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                                       QStringLiteral("tour-%1.png").arg(name), {"--tour", name}, 60);
        ASSERT_TRUE(run.ended()) << run.errors.toStdString();
        const QImage image(run.snapshot);
        ASSERT_FALSE(image.isNull());
        // The card or hero sits over the window's middle.
        const QColor middle = kit::test::pixelAt(image, {image.width() / 2.0, image.height() / 2.0 + 40});
        EXPECT_FALSE(kit::test::near(middle, QColor(0, 0, 0), 2));
    }
}

} // namespace
} // namespace zelvo::tour
