// The whole program with the tour: a first launch in a fresh home shows the
// hero; the keys walk the cards; a key typed into the key card is checked
// against the stand-in content service while the tour stays; the last card's
// primary key ends the tour, which a second launch no longer shows. Then every
// step rendered by the built program into the build folder for review.
#include "AppTestSupport.h"
#include "KitTestSupport.h"

#include "App/AppDelegate.h"
#include "App/ModelKeyNeighbours.h"
#include "App/StandardNeighbours.h"
#include "App/StatusNeighbours.h"
#include "generation/KavriAccount.h"
#include "support/StandInCdn.h"
#include "ui/tour/TourModel.h"
#include "ui/tour/TourViews.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::tour {
namespace {

int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// One launch of the program's parts in this process.
struct Launch {
    Launch()
    {
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
    test::StandInCdn cdn;
    ASSERT_TRUE(cdn.start());
    qputenv("KAVRI_CDN", cdn.base().toString().toUtf8());
    qputenv("KAVRI_BRAIN_PORT", QByteArray::number(closedPort()));
    qputenv("KAVRI_BRAIN_HOME", home.file(QStringLiteral("brain")).toUtf8());
    {
        Launch app;
        ASSERT_EQ(app.step(), TourModel::Step::welcome);
        ASSERT_TRUE(test::spinUntil([&] { return app.find<TourHero>("tour.hero") != nullptr; }));
        app.key(Qt::Key_Return);
        EXPECT_EQ(app.step(), TourModel::Step::key);

        // The field takes focus by itself; typing and Return stay in it.
        auto* field = app.find<QLineEdit>("tour.key.field");
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(test::spinUntil([&] { return QApplication::focusWidget() == field; }, 5));
        QTest::keyClicks(field, QString::fromLatin1(test::StandInCdn::validKey));
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(field->text().isEmpty());
        EXPECT_EQ(app.step(), TourModel::Step::key) << "Return in the field does not move the tour";
        EXPECT_TRUE(test::spinUntil([&] { return app.neighbours.account->check().isOk(); }, 20));
        EXPECT_TRUE(test::spinUntil([&] { return app.find<QWidget>("tour.key.works") != nullptr; }, 5));

        QApplication::focusWidget() ? QApplication::focusWidget()->clearFocus() : void();
        app.key(Qt::Key_Right);
        EXPECT_EQ(app.step(), TourModel::Step::controller);
        EXPECT_NE(app.find<QWidget>("tour.controller"), nullptr);
        while (app.step() && *app.step() != TourModel::Step::go)
            app.key(Qt::Key_Right);
        ASSERT_NE(app.find<QWidget>("tour.checklist"), nullptr);
        app.key(Qt::Key_Return);
        EXPECT_FALSE(app.step());
        EXPECT_EQ(app.defaults.boolean(QString::fromLatin1(TourModel::kSeenKey)), true);
    }
    {
        Launch again;
        EXPECT_FALSE(again.step()) << "a second launch shows no tour";
    }
    qunsetenv("KAVRI_CDN");
    qunsetenv("KAVRI_BRAIN_PORT");
    qunsetenv("KAVRI_BRAIN_HOME");
}

TEST(TourProgram, EveryStepRendersFromTheCommandLine)
{
    test::TempHome home;
    QImage plain;
    for (const TourModel::Step step : TourModel::allSteps()) {
        const QString name = TourModel::name(step);
        SCOPED_TRACE(name.toStdString());
        const QString png = QStringLiteral(ZELVO_BINARY_DIR "/tour-%1.png").arg(name);
        QFile::remove(png);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("KAVRI_CDN", QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        environment.insert("KAVRI_BRAIN_PORT", QString::number(closedPort()));
        environment.insert("KAVRI_BRAIN_HOME", home.file("brain"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(home.path());
        process.start(QStringLiteral(KAVRI_ZELVO_PROGRAM), {"--tour", name, "--snapshot", png});
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        const QImage image(png);
        ASSERT_FALSE(image.isNull());
        // The card or hero sits over the window's middle.
        const QColor middle = kit::test::pixelAt(image, {image.width() / 2.0, image.height() / 2.0 + 40});
        EXPECT_FALSE(kit::test::near(middle, QColor(0, 0, 0), 2));
    }
}

} // namespace
} // namespace zelvo::tour
