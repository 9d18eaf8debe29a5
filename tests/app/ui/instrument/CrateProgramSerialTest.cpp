// The program's still render of the faceplate over a seeded library: the
// crate's rows and the model module drawn. The PNG stays in the build folder.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "LaidOutRows.h"
#include "support/LibraryFixtures.h"
#include "support/ProgramRun.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/instrument/TrackTable.h"
#include "ui/kit/Palette.h"

#include <QImage>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(CrateProgram, SnapshotDrawsTheCrateRowsAndTheModelModule)
{
    test::TempHome home;
    std::vector<TrackRecord> records;
    for (int i = 0; i < 12; ++i) {
        test::RecordFields fields;
        fields.title = QStringLiteral("seeded %1").arg(i);
        fields.key = MusicalKey(i, i % 2 == 1);
        fields.energy = 0.1 * i;
        if (i == 3)
            fields.outpaint = OutpaintInfo{};
        records.push_back(test::fixtureRecord(fields));
        records.back().duration = 200 + i;
    }
    test::writeCollection(records);

    const test::ProgramRun run = test::runSnapshot(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                                   QStringLiteral("crate-snapshot.png"),
                                                   {"-platform", "offscreen", "--classic"}, 120);
    ASSERT_TRUE(run.ended()) << run.errors.toStdString();
    const QImage image(run.snapshot);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(3200, 2160));

    const FaceLayout::Rows rows = test::laidOutRows(false);
    // The first row's load key "1": its face left of the glyph, on every row
    // of the excerpt that a seeded record fills.
    const double glassX = rows.browser.x() + 10 + 96 + 8;
    const double glassWidth = rows.browser.width() - 20 - 96 - 8;
    const double keysX = glassX + crate::columnSpans(glassWidth)[8].first + 2.5;
    const double firstRow = rows.browser.y() + 10 + 26 + 1 + 22 + 1 + TrackTable::kHeader;
    for (int row = 0; row < 3; ++row) {
        const QPointF p(keysX + 3, firstRow + row * TrackTable::kRow + 5);
        EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, p * 2), kit::Palette::raised()))
            << row << " " << kit::test::pixelAt(image, p * 2).name().toStdString();
    }
    // The model module is drawn, not a placeholder panel.
    EXPECT_FALSE(kit::test::near(kit::test::pixelAt(image, (rows.brain.topLeft() + QPointF(30, 200)) * 2),
                                 kit::Palette::panel()));
}

} // namespace
} // namespace zelvo
