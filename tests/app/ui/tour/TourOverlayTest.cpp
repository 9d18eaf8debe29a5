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
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
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
        EXPECT_EQ(rig.find<QAbstractButton>("tour.skip") != nullptr, step != Step::go);
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
    QTest::mouseClick(rig.find<QAbstractButton>("tour.skip"), Qt::LeftButton);
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

TEST(TourOverlay, StepChangeFadesInRisingWithAnEaseOutAndJumpsWhenStill)
{
    OverlayRig live(false);
    live.tour.start(Step::mixer);
    QWidget* card = live.overlay->cardWidget();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(live.overlay->stepIn(), 0.0);
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(card->graphicsEffect());
    ASSERT_NE(fade, nullptr) << "the new card starts transparent";
    EXPECT_EQ(fade->opacity(), 0.0);
    const int low = card->y();

    live.kit.scheduler.advance(0.125);
    // Half the time gone, an ease-out is well past half the way.
    EXPECT_GT(live.overlay->stepIn(), 0.75);
    EXPECT_LT(live.overlay->stepIn(), 1.0);
    EXPECT_NEAR(fade->opacity(), live.overlay->stepIn(), 1e-9);
    EXPECT_LT(card->y(), low);

    live.kit.scheduler.advance(0.2);
    EXPECT_EQ(live.overlay->stepIn(), 1.0);
    EXPECT_EQ(card->graphicsEffect(), nullptr) << "a settled card draws directly";
    EXPECT_EQ(card->y(), low - 10) << "risen 10 points";

    live.tour.next();
    EXPECT_EQ(live.overlay->stepIn(), 0.0) << "every step change starts over";

    OverlayRig still(true);
    still.tour.start(Step::mixer);
    EXPECT_EQ(still.overlay->stepIn(), 1.0) << "a still render shows the end";
    EXPECT_EQ(still.overlay->cardWidget()->graphicsEffect(), nullptr);
}

TEST(TourOverlay, ARebuildKeepsWhatWasTypedIntoTheKeyField)
{
    OverlayRig rig;
    rig.overlay->setLiveFactory([](Step step) -> QWidget* {
        if (step != Step::key)
            return nullptr;
        auto* field = new QLineEdit;
        field->setObjectName(QStringLiteral("tour.key.field"));
        return field;
    });
    rig.tour.start(Step::key);
    auto* field = rig.find<QLineEdit>("tour.key.field");
    ASSERT_NE(field, nullptr);
    field->setText(QStringLiteral("sk_kavri_half"));
    rig.overlay->refreshNow(); // a controller plugged in meanwhile
    auto* again = rig.find<QLineEdit>("tour.key.field");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, field);
    EXPECT_EQ(again->text(), QStringLiteral("sk_kavri_half"));
}


// A layer's opacity while it fades; `faded` says whether it fades at all.
double opacityOf(QWidget* layer, bool* faded)
{
    auto* effect = layer ? qobject_cast<QGraphicsOpacityEffect*>(layer->graphicsEffect()) : nullptr;
    *faded = effect != nullptr;
    return effect ? effect->opacity() : 1.0;
}

// Whether `c` lies between `a` and `b` in every channel (an antialiased edge
// of one over the other), within ±2.
bool between(const QColor& c, const QColor& a, const QColor& b)
{
    const auto inside = [](int v, int x, int y) { return v >= std::min(x, y) - 2 && v <= std::max(x, y) + 2; };
    return inside(c.red(), a.red(), b.red()) && inside(c.green(), a.green(), b.green())
           && inside(c.blue(), a.blue(), b.blue());
}

TEST(TourOverlay, AStepChangeCrossFadesBothLayersAndEasesTheDimmer)
{
    OverlayRig live(false);
    live.tour.start(Step::welcome);
    live.kit.scheduler.advance(0.5);
    QPointer<QWidget> hero = live.overlay->cardWidget();
    ASSERT_TRUE(qobject_cast<TourHero*>(hero.data()));
    EXPECT_EQ(live.overlay->leavingWidget(), nullptr);
    EXPECT_DOUBLE_EQ(live.overlay->dimming(), 0.94);

    live.tour.next(); // the key card: no hole either side
    QWidget* card = live.overlay->cardWidget();
    ASSERT_NE(card, hero.data());
    EXPECT_EQ(live.overlay->leavingWidget(), hero.data()) << "the hero stays to fade out";
    EXPECT_TRUE(hero->testAttribute(Qt::WA_TransparentForMouseEvents)) << "a leaving hero takes no clicks";

    live.kit.scheduler.advance(0.125);
    bool heroFading = false, cardFading = false;
    const double heroOpacity = opacityOf(hero, &heroFading);
    const double cardOpacity = opacityOf(card, &cardFading);
    ASSERT_TRUE(heroFading && cardFading);
    EXPECT_GT(heroOpacity, 0.0);
    EXPECT_LT(heroOpacity, 1.0);
    EXPECT_GT(cardOpacity, 0.0);
    EXPECT_LT(cardOpacity, 1.0);
    EXPECT_NEAR(heroOpacity + cardOpacity, 1.0, 0.02) << "one eases out as the other eases in";
    EXPECT_GT(live.overlay->dimming(), 0.8);
    EXPECT_LT(live.overlay->dimming(), 0.94);
    // The dimmer paints the eased opacity.
    const QImage half = live.root.grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(half, {20, 20}),
                                blend(S::ink(), live.overlay->dimming(), QColor(200, 200, 200))));

    live.kit.scheduler.advance(0.2);
    EXPECT_EQ(live.overlay->leavingWidget(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(hero.isNull()) << "only the new layer is left";
    EXPECT_EQ(card->graphicsEffect(), nullptr);
    EXPECT_DOUBLE_EQ(live.overlay->dimming(), 0.8);
    const QImage end = live.root.grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(end, {20, 20}), blend(S::ink(), 0.8, QColor(200, 200, 200))));

    // A click that ends the tour mid-change leaves nothing behind.
    live.tour.next();
    live.kit.scheduler.advance(0.1);
    live.tour.finish();
    EXPECT_EQ(live.overlay->leavingWidget(), nullptr);
    EXPECT_FALSE(live.overlay->isVisible());
}

TEST(TourOverlay, AHoleAfterNoneGrowsFromItsCentreAndAGoingHoleClosesIntoIt)
{
    OverlayRig live(false);
    live.tour.start(Step::welcome);
    live.kit.scheduler.advance(0.5);
    live.tour.start(Step::mixer);
    const QRectF end = live.overlay->targetHole();
    ASSERT_EQ(end, QRectF(492, 92, 116, 76));
    live.kit.scheduler.advance(0.125);
    QRectF half = live.overlay->hole();
    EXPECT_GT(half.width(), 0);
    EXPECT_LT(half.width(), end.width()) << "halfway the hole is still growing";
    EXPECT_LT(half.height(), end.height());
    EXPECT_NEAR(half.center().x(), end.center().x(), 0.5) << "from its own centre";
    EXPECT_NEAR(half.center().y(), end.center().y(), 0.5);
    live.kit.scheduler.advance(2.0);
    EXPECT_EQ(live.overlay->hole(), end);

    live.tour.start(Step::go);
    EXPECT_FALSE(live.overlay->ringShows());
    live.kit.scheduler.advance(0.125);
    half = live.overlay->hole();
    EXPECT_GT(half.width(), 0);
    EXPECT_LT(half.width(), end.width()) << "the hole closes, not vanishes";
    EXPECT_NEAR(half.center().x(), end.center().x(), 0.5);
    live.kit.scheduler.advance(2.0);
    EXPECT_EQ(live.overlay->hole().width(), 0);
}

TEST(TourOverlay, TheSkipLinkIsQuietTextAndTheLinkedLampGlows)
{
    OverlayRig rig;
    rig.tour.start(Step::mixer);
    auto* skip = rig.find<QAbstractButton>("tour.skip");
    auto* back = rig.find<TourButton>("tour.back");
    ASSERT_TRUE(skip && back);
    EXPECT_LT(skip->height(), back->height()) << "a line of small text, not a 32-point button";
    const QImage card = rig.find<TourCard>("tour.card")->grab().toImage();
    const QRect r = skip->geometry();
    // No box: around and between the letters the card shows; the letters are ash.
    int letters = 0, strays = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = card.pixelColor(x, y);
            strays += between(c, S::inkRaised(), S::ash()) ? 0 : 1;
            // Past halfway from the card to ash: the letters' strokes.
            letters += c.lightness() > (S::ash().lightness() + S::inkRaised().lightness()) / 2 ? 1 : 0;
        }
    EXPECT_EQ(strays, 0) << "only ash letters over the card, nothing brighter";
    EXPECT_GT(letters, 15) << "the word is drawn";
    for (QPoint corner : {r.topLeft() - QPoint(2, 2), r.bottomRight() + QPoint(2, 2), r.topRight() + QPoint(2, -2)})
        EXPECT_TRUE(kit::test::near(card.pixelColor(corner), S::inkRaised())) << "no frame around it";

    rig.inputs.controller = ControllerKind::flx4;
    rig.tour.start(Step::welcome);
    auto* lamp = rig.find<QWidget>("tour.hero.lamp");
    ASSERT_NE(lamp, nullptr);
    const QImage image = rig.root.grab().toImage();
    const QPointF c = QRectF(lamp->mapTo(&rig.root, QPoint(0, 0)), QSizeF(lamp->size())).center();
    const QColor backdrop = blend(S::ink(), 0.94, QColor(200, 200, 200));
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, c), S::signal())) << "a signal dot";
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, c + QPointF(2, 0)), S::signal()));
    // A circle, not a square: the square's corner is glow, not lamp.
    const QColor corner = kit::test::pixelAt(image, c + QPointF(3, 3));
    EXPECT_FALSE(kit::test::near(corner, S::signal(), 20));
    // The glow: tinted past the edge, gone well beyond it.
    const QColor glow = kit::test::pixelAt(image, c + QPointF(5, 0));
    EXPECT_FALSE(kit::test::near(glow, backdrop, 4)) << "the glow reaches past the circle";
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, c + QPointF(0, -12)), backdrop));
}

} // namespace
} // namespace zelvo::tour
