// The tour over a stand-in stage: the spotlight's hole and dimming, clicks
// kept from the stage, the card's and the hero's contents per step.
#include "KitTestSupport.h"

#include "platform/UserDefaults.h"
#include "support/TempHome.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/TourSpots.h"
#include "ui/tour/TourButton.h"
#include "ui/tour/TourOverlay.h"
#include "ui/tour/TourViews.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::tour {
namespace {

using Step = TourModel::Step;
namespace S = kit::Stage;

struct OverlayRig {
    explicit OverlayRig(bool snapshot = true) : kit(1.0, snapshot)
    {
        root.setAutoFillBackground(true);
        QPalette pal = root.palette();
        pal.setColor(QPalette::Window, QColor(200, 200, 200));
        root.setPalette(pal);
        root.resize(1000, 700);
        first = new QPushButton(QStringLiteral("first"), &root);
        first->setGeometry(100, 300, 200, 100);
        second = new QPushButton(QStringLiteral("second"), &root);
        second->setGeometry(500, 100, 100, 60);
        tourSpot(first, TourSpot::mixer);
        tourSpot(second, TourSpot::mixer);
        overlay = welcomeTour(&root, tour, kit.env(), [this] { return inputs; });
        root.show();
    }
    template <class T>
    T* find(const char* name) const
    {
        // Faces replaced a moment ago go at the next turn of the loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return overlay->findChild<T*>(QString::fromLatin1(name));
    }
    // Clicks whatever sits at `at` in the root.
    void clickAt(QPoint at)
    {
        QWidget* target = root.childAt(at);
        ASSERT_NE(target, nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&root, at));
    }

    test::TempHome home;
    UserDefaults defaults{home.file(QStringLiteral("defaults.json"))};
    kit::test::KitRig kit;
    TourModel tour{{}, defaults, kit.scheduler};
    TourCopy::Inputs inputs;
    QWidget root;
    QPushButton* first = nullptr;
    QPushButton* second = nullptr;
    TourOverlay* overlay = nullptr;
};

QColor blend(const QColor& over, double alpha, const QColor& under)
{
    return QColor::fromRgbF(float(over.redF() * alpha + under.redF() * (1 - alpha)),
                            float(over.greenF() * alpha + under.greenF() * (1 - alpha)),
                            float(over.blueF() * alpha + under.blueF() * (1 - alpha)));
}

TEST(TourOverlay, SpotlightDimsAndKeepsClicksFromTheStage)
{
    OverlayRig rig;
    int clicks = 0;
    QObject::connect(rig.second, &QPushButton::clicked, [&] { ++clicks; });
    EXPECT_FALSE(rig.overlay->isVisible());
    rig.clickAt({550, 130});
    EXPECT_EQ(clicks, 1) << "no tour: the stage takes clicks";

    const QImage before = rig.root.grab().toImage();
    rig.tour.start(Step::mixer);
    ASSERT_TRUE(rig.overlay->isVisible());
    // The later of two reporters wins; the hole is its frame grown by 8.
    EXPECT_TRUE(rig.overlay->ringShows());
    EXPECT_EQ(rig.overlay->hole(), QRectF(492, 92, 116, 76));

    const QColor background(200, 200, 200);
    const QImage image = rig.root.grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {900, 650}), blend(S::ink(), 0.8, background)))
        << "outside the hole the stage is dimmed";
    const QColor inside = kit::test::pixelAt(image, {560, 100});
    EXPECT_TRUE(kit::test::near(inside, kit::test::pixelAt(before, {560, 100})))
        << "inside the hole the stage shows as it is";

    rig.clickAt({550, 130});
    EXPECT_EQ(clicks, 1) << "a click inside the hole reaches nothing";
    rig.clickAt({150, 350});

    // The winner hides: the other reporter takes the spot.
    rig.second->hide();
    rig.overlay->refreshNow();
    EXPECT_EQ(rig.overlay->hole(), QRectF(92, 292, 216, 116));
    // Nothing reports: the whole window dims, no ring, the card centred.
    rig.first->hide();
    rig.overlay->refreshNow();
    EXPECT_FALSE(rig.overlay->ringShows());
    EXPECT_EQ(rig.overlay->hole().width(), 0);
    const QRect card = rig.overlay->cardWidget()->geometry();
    EXPECT_NEAR(card.center().x(), 500, 1);
    EXPECT_NEAR(card.center().y(), 350, 1);

    rig.second->show();
    rig.tour.finish();
    EXPECT_FALSE(rig.overlay->isVisible());
    rig.clickAt({550, 130});
    EXPECT_EQ(clicks, 2) << "after the tour the stage takes clicks again";
}

TEST(TourOverlay, CardsAndHeroPerStep)
{
    OverlayRig rig;
    const auto text = [&](const char* name) {
        if (auto* label = rig.find<kit::StageLabel>(name))
            return label->text().toLower();
        if (auto* button = rig.find<TourButton>(name))
            return button->text();
        return QStringLiteral("<none>");
    };
    for (Step step : TourModel::allSteps()) {
        if (step == Step::welcome)
            continue;
        SCOPED_TRACE(TourModel::name(step).toStdString());
        rig.tour.start(step);
        ASSERT_NE(rig.find<TourCard>("tour.card"), nullptr);
        EXPECT_EQ(text("tour.counter"), QStringLiteral("%1 / 8").arg(int(step)));
        EXPECT_EQ(rig.find<TourDots>("tour.dots")->current(), int(step));
        EXPECT_EQ(rig.find<TourButton>("tour.skip") != nullptr, step != Step::go);
        EXPECT_EQ(text("tour.next"), step == Step::go ? QStringLiteral("let's play") : QStringLiteral("next"));
        EXPECT_EQ(rig.find<QWidget>("tour.hands") != nullptr, !TourCopy::make(step, {}).hands.empty());
        EXPECT_EQ(rig.overlay->cardSize(), QSizeF(rig.find<TourCard>("tour.card")->size()));
        EXPECT_EQ(rig.find<TourCard>("tour.card")->width(), kCardWidth);
    }
    // The sixth dot is the wide one on the mixer card.
    rig.tour.start(Step::mixer);
    const auto dots = rig.find<TourDots>("tour.dots")->dots();
    EXPECT_EQ(dots[5].width(), 14);
    EXPECT_EQ(dots[4].width(), 5);

    // Back from the first card returns to the hero; the hero follows a plug.
    rig.tour.start(Step::key);
    QTest::mouseClick(rig.find<TourButton>("tour.back"), Qt::LeftButton);
    EXPECT_EQ(rig.tour.step(), Step::welcome);
    ASSERT_NE(rig.find<TourHero>("tour.hero"), nullptr);
    EXPECT_EQ(rig.find<QWidget>("tour.hero.linked"), nullptr);
    EXPECT_EQ(text("tour.hero.hint"), QString::fromUtf8("⏎ to start · esc to skip"));
    rig.inputs.controller = ControllerKind::flx10;
    rig.overlay->refreshNow();
    EXPECT_EQ(text("tour.hero.linkedText"), QString::fromUtf8("ddj-flx10 linked — watch its pads"));
    EXPECT_EQ(text("tour.hero.hint"), QString::fromUtf8("⏎ or mix point link to start · esc to skip"));
    rig.inputs.controller.reset();
    rig.overlay->refreshNow();
    EXPECT_EQ(rig.find<QWidget>("tour.hero.linked"), nullptr);

    QTest::mouseClick(rig.find<TourButton>("tour.hero.start"), Qt::LeftButton);
    EXPECT_EQ(rig.tour.step(), Step::key);
    QTest::mouseClick(rig.find<TourButton>("tour.skip"), Qt::LeftButton);
    EXPECT_FALSE(rig.tour.step());
    EXPECT_EQ(rig.defaults.boolean(QString::fromLatin1(TourModel::kSeenKey)), true);
}

TEST(TourOverlay, HoleSpringsOnTheLiveClockAndStillRendersJump)
{
    OverlayRig live(false);
    live.tour.start(Step::mixer);
    EXPECT_EQ(live.overlay->hole(), QRectF(492, 92, 116, 76)) << "the first hole appears in place";
    live.second->hide();
    live.overlay->refreshNow();
    EXPECT_EQ(live.overlay->targetHole(), QRectF(92, 292, 216, 116));
    EXPECT_NE(live.overlay->hole(), live.overlay->targetHole()) << "the hole moves, not jumps";
    live.kit.scheduler.advance(2.0);
    EXPECT_EQ(live.overlay->hole(), live.overlay->targetHole()) << "and settles";

    OverlayRig still(true);
    still.tour.start(Step::mixer);
    still.second->hide();
    still.overlay->refreshNow();
    EXPECT_EQ(still.overlay->hole(), still.overlay->targetHole()) << "a still render animates nothing";
}

} // namespace
} // namespace zelvo::tour
