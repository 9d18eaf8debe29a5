// The whole program: an imported file loaded and the stage rendered to a PNG,
// kept in the build folder for review.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "support/ProgramRun.h"
#include "ui/kit/Palette.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

TEST(StageProgram, ImportLoadAndSnapshotDrawTheStage)
{
    test::TempHome home;
    const QString wav = home.file("Music/beat.wav");
    QDir().mkpath(home.file("Music"));
    test::writeTone(wav, 4.0);
    const test::ProgramRun run = test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                                   QStringLiteral("stage-snapshot.png"), {"--import", wav, "--load"}, 120);
    ASSERT_TRUE(run.ended()) << run.errors.toStdString();

    const QImage image(run.snapshot);
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {4, 600}), kit::Stage::ink()));
    // Lane 1's header: the targeted badge and the loaded title in paper.
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {14 + 12 + 4, 14 + 40 + 10 + 14 + 2}), kit::Stage::paper(), 8));
}

} // namespace
} // namespace zelvo::stage
