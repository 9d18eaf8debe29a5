// The live widgets on the manual clock: the key entry's faces, submit and
// delayed focus; the download bar's faces, glide and retry; the controller
// check's echo ageing out on its own clock.
#include "KitTestSupport.h"

#include "generation/KavriAccount.h"
#include "support/TempHome.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/tour/TourButton.h"
#include "ui/tour/TourLiveViews.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::tour {
namespace {

using K = BrainStatus::Kind;
namespace S = kit::Stage;

TEST(TourLiveWidgets, KeyEntrySubmitsClearsAndFocusesLate)
{
    test::TempHome home;
    kit::test::KitRig rig;
    KavriAccount account(rig.scheduler, QUrl(QStringLiteral("http://127.0.0.1:9")), home.file(QStringLiteral("key")));
    TourKey key(account, {}, {}, rig.env());
    key.resize(386, 120);
    key.show();
    auto* field = key.findChild<QLineEdit*>(QStringLiteral("tour.key.field"));
    auto* save = key.findChild<TourButton*>(QStringLiteral("tour.key.save"));
    ASSERT_TRUE(field && save);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->placeholderText(), QString::fromUtf8("paste your sk_kavri_… key"));
    EXPECT_NE(key.focusWidget(), field);
    rig.scheduler.advance(0.3);
    EXPECT_EQ(key.focusWidget(), field) << "the field takes focus 0.3 s after showing";

    EXPECT_FALSE(save->primary());
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(account.check().kind(), KavriAccount::Check::Kind::none) << "an empty draft saves nothing";
    QTest::keyClicks(field, QStringLiteral("sk_kavri_abcdefghijklmnop"));
    EXPECT_TRUE(save->primary());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(field->text().isEmpty()) << "the field empties before the check ends";
    EXPECT_EQ(account.key(), QStringLiteral("sk_kavri_abcdefghijklmnop"));
    EXPECT_EQ(field->placeholderText(), QString::fromUtf8("sk_kavri_a…mnop"));
    EXPECT_FALSE(save->primary());
}

TEST(TourLiveWidgets, KeyFieldIsOurRoundedInkPlateWithAStrokeThatBrightensOnFocus)
{
    test::TempHome home;
    kit::test::KitRig rig;
    KavriAccount account(rig.scheduler, QUrl(QStringLiteral("http://127.0.0.1:9")), home.file(QStringLiteral("key")));
    QWidget host;
    host.setAutoFillBackground(true);
    QPalette pal = host.palette();
    const QColor backdrop(90, 20, 20);
    pal.setColor(QPalette::Window, backdrop);
    host.setPalette(pal);
    auto* key = new TourKey(account, {}, {}, rig.env(), &host);
    key->setGeometry(0, 0, 386, 120);
    host.resize(386, 120);
    host.show();
    QApplication::setActiveWindow(&host);
    auto* field = key->findChild<QLineEdit*>(QStringLiteral("tour.key.field"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->height(), 36);
    EXPECT_FALSE(field->hasFrame()) << "the style draws no frame";

    const auto sample = [&] {
        const QImage image = host.grab().toImage();
        const QRect f(field->mapTo(&host, QPoint(0, 0)), field->size());
        struct Sample {
            QColor plate, top, left, corner;
        };
        // Right of the placeholder, on the middle line; the 1-point stroke's
        // rows and columns at the edges; the square corner the 9-point
        // rounding leaves out.
        return Sample{kit::test::pixelAt(image, QPointF(f.right() - 6, f.center().y())),
                      kit::test::pixelAt(image, QPointF(f.center().x() + 60, f.top())),
                      kit::test::pixelAt(image, QPointF(f.left(), f.center().y())),
                      kit::test::pixelAt(image, QPointF(f.left(), f.top()))};
    };
    // An active window focuses its first field; the tour's own focus comes later.
    field->clearFocus();
    ASSERT_FALSE(field->hasFocus());
    const auto idle = sample();
    EXPECT_TRUE(kit::test::near(idle.plate, S::ink())) << "an ink plate";
    EXPECT_TRUE(kit::test::near(idle.top, S::line())) << "a line stroke inside the edge";
    EXPECT_TRUE(kit::test::near(idle.left, S::line()));
    EXPECT_TRUE(kit::test::near(idle.corner, backdrop)) << "rounded corners";

    rig.scheduler.advance(0.3); // the field takes focus
    ASSERT_TRUE(field->hasFocus());
    const auto focused = sample();
    const QColor bright = QColor::fromRgbF(float(S::bone().redF() * 0.6 + S::ink().redF() * 0.4),
                                           float(S::bone().greenF() * 0.6 + S::ink().greenF() * 0.4),
                                           float(S::bone().blueF() * 0.6 + S::ink().blueF() * 0.4));
    EXPECT_TRUE(kit::test::near(focused.top, bright)) << "bone at 0.6 while focused";
    EXPECT_TRUE(kit::test::near(focused.left, bright));
    EXPECT_TRUE(kit::test::near(focused.plate, S::ink()));
    EXPECT_TRUE(kit::test::near(focused.corner, backdrop));

    field->clearFocus();
    EXPECT_TRUE(kit::test::near(sample().top, S::line())) << "back to the line colour";
}

TEST(TourLiveWidgets, DownloadBarFacesGlideAndRetry)
{
    kit::test::KitRig rig;
    QWidget* barWidget = nullptr;
    // Faces replaced a moment ago go at the next turn of the loop.
    const auto find = [&]<class T>(T*, const QString& name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return barWidget->findChild<T*>(name);
    };
    DownloadInputs in;
    in.status = BrainStatus::of(K::notInstalled);
    int retries = 0;
    TourDownloadBar bar([&] { return in; }, [&] { ++retries; }, rig.env());
    barWidget = &bar;
    bar.resize(386, 80);
    bar.show();
    EXPECT_EQ(bar.face().kind, DownloadFace::Kind::waiting);
    EXPECT_EQ(find(static_cast<QLabel*>(nullptr), QStringLiteral("tour.download.message")), nullptr);

    in.status = BrainStatus::installing(QStringLiteral("download"));
    in.fraction = 0.5;
    in.started = true;
    bar.refresh();
    EXPECT_EQ(find(static_cast<QLabel*>(nullptr), QStringLiteral("tour.download.percent"))->text(), QStringLiteral("50%"));
    EXPECT_LT(bar.shownFraction(), 0.5) << "the fill glides";
    rig.scheduler.advance(0.5);
    EXPECT_DOUBLE_EQ(bar.shownFraction(), 0.5);

    // A failure long enough to need more than two lines is cut to two.
    in.status = BrainStatus::failed(QString(400, QLatin1Char('x')) + QStringLiteral(" the end"));
    bar.refresh();
    auto* message = find(static_cast<QLabel*>(nullptr), QStringLiteral("tour.download.message"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->text().endsWith(QString::fromUtf8("…")));
    EXPECT_FALSE(message->text().contains(QStringLiteral("the end")));
    // "try again" that finds too little room says so.
    in.shortfall = QString::fromUtf8("needs 9.0 gb free — 2.0 gb free now");
    QTest::mouseClick(find(static_cast<TourButton*>(nullptr), QStringLiteral("tour.download.retry")), Qt::LeftButton);
    EXPECT_EQ(retries, 1);
    EXPECT_EQ(find(static_cast<QLabel*>(nullptr), QStringLiteral("tour.download.message"))->text(), *in.shortfall);
    EXPECT_NE(find(static_cast<TourButton*>(nullptr), QStringLiteral("tour.download.retry")), nullptr);
}

TEST(TourLiveWidgets, ControllerEchoAgesOutOnItsClock)
{
    kit::test::KitRig rig;
    const double stamp = rig.scheduler.uptime();
    TourControllerLive live(
        [&] {
            return controllerLine(ControllerKind::flx4, 0, std::nullopt,
                                  EchoReading{1, QStringLiteral("tempo"), QStringLiteral("+1.2%"), stamp},
                                  rig.scheduler.uptime());
        },
        rig.env());
    live.resize(386, 58);
    live.show();
    EXPECT_TRUE(live.line().echo);
    rig.scheduler.advance(4.9);
    EXPECT_TRUE(live.line().echo);
    rig.scheduler.advance(0.2);
    EXPECT_FALSE(live.line().echo) << "gone 5 s after the last touch, with nothing else changing";
    EXPECT_EQ(live.line().text, QString::fromUtf8("ddj-flx4 · waiting for a hand…"));
}

} // namespace
} // namespace zelvo::tour
