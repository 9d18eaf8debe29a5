#include "App/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/stage/DJMCard.h"
#include "ui/stage/LiveMixer.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

struct MixerRig {
    explicit MixerRig(bool four = false)
    {
        app.make();
        sides.setFourDecks(four);
        mixer = std::make_unique<LiveMixer>(*app.app, kit.env(), nullptr, &sides);
        mixer->show();
        QApplication::processEvents();
    }
    AppModel& model() const { return *app.app; }
    template <typename T = kit::FaceWidget>
    T* find(const QString& name) const
    {
        T* w = mixer->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    test::AppRig app;
    kit::test::KitRig kit;
    StageSides sides;
    std::unique_ptr<LiveMixer> mixer;
};

TEST(StageMixerWidget, Snapshot)
{
    MixerRig rig(true);
    rig.mixer->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/mixer4.png"));
    rig.sides.setFourDecks(false);
    QApplication::processEvents();
    rig.mixer->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/mixer2.png"));
    DJMCard card(rig.model(), rig.kit.env());
    card.show();
    QApplication::processEvents();
    card.grab().save(QStringLiteral(ZELVO_BINARY_DIR "/djm.png"));
}

} // namespace
} // namespace zelvo::stage
