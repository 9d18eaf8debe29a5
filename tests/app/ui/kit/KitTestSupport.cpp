#include "KitTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>

namespace zelvo::kit::test {

namespace {

// Every widget test draws with DejaVu on the offscreen platform.
class PinnedFonts : public ::testing::Environment {
public:
    void SetUp() override { QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9)); }
};

[[maybe_unused]] const auto* pinned = ::testing::AddGlobalTestEnvironment(new PinnedFonts);

} // namespace

KitRig::KitRig(double scale, bool snapshot)
    : runtime(std::make_unique<UiRuntime>(scheduler, desktop, snapshot, scale, &display))
{
}

void writeAdapterFile(const QString& path)
{
    const QByteArray header = R"({"__metadata__":{"rank":"8","alpha":"16"},)"
                              R"("blocks.0.attn.q.lora_A":{"dtype":"F32","shape":[8,2],"data_offsets":[0,64]}})";
    QByteArray bytes;
    std::uint64_t n = std::uint64_t(header.size());
    for (int i = 0; i < 8; ++i)
        bytes.append(char((n >> (8 * i)) & 0xFF));
    bytes += header;
    bytes += QByteArray(64, '\0');
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

QColor pixelAt(const QImage& image, QPointF logical)
{
    const double dpr = image.devicePixelRatio();
    return image.pixelColor(int(logical.x() * dpr), int(logical.y() * dpr));
}

bool near(const QColor& a, const QColor& b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

} // namespace zelvo::kit::test
