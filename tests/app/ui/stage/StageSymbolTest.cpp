#include "ui/kit/Canvas.h"
#include "ui/stage/StageKeys.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <map>

namespace zelvo::stage {
namespace {

QImage picture(const QString& name)
{
    QImage image(44, 44, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    paintSymbol(canvas, name, QRectF(0, 0, 44, 44), Qt::white);
    return image;
}

TEST(StageSymbols, EverySymbolTheScreensNameIsDrawnAndDistinct)
{
    // Every icon the stage's keys, the big AI key, the browser and the tour's
    // checklist ask for by name.
    const QStringList used{
        "play.fill", "pause.fill", "chevron.left", "chevron.right", "dice", "plus", "checkmark", "magnifyingglass",
        "slider.horizontal.3", "arrow.down.circle.fill", "power", "icloud.and.arrow.down", "arrow.triangle.branch",
        "square.and.arrow.down", "waveform", "arrow.down.to.line", "scope", "arrow.forward.to.line",
        "checkmark.circle.fill", "arrow.down.circle", "circle"};
    const QImage dot = picture(QStringLiteral("no.such.symbol"));
    ASSERT_NE(dot, QImage(44, 44, QImage::Format_ARGB32_Premultiplied)) << "an unknown name still paints a dot";
    std::map<QString, QImage> seen;
    for (const QString& name : stageSymbols())
        seen.emplace(name, picture(name));
    for (const QString& name : used)
        EXPECT_TRUE(stageSymbols().contains(name)) << name.toStdString();
    for (const auto& [name, image] : seen) {
        EXPECT_NE(image, dot) << name.toStdString() << " falls back to the dot";
        // Something is drawn, inside the box and away from its centre.
        int lit = 0;
        for (int y = 0; y < 44; ++y)
            for (int x = 0; x < 44; ++x)
                lit += qAlpha(image.pixel(x, y)) > 0 && (std::abs(x - 22) > 8 || std::abs(y - 22) > 8);
        EXPECT_GT(lit, 20) << name.toStdString();
        for (const auto& [other, picture] : seen) {
            if (other < name) {
                EXPECT_NE(image, picture) << name.toStdString() << " looks like " << other.toStdString();
            }
        }
    }
}

} // namespace
} // namespace zelvo::stage
