#include "ui/kit/Textures.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <QCache>
#include <QLinearGradient>
#include <QRadialGradient>
#include <cmath>

namespace zelvo::kit {

std::uint64_t SplitMix64::nextBits()
{
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

namespace Textures {

namespace {

QLinearGradient evenStops(QPointF a, QPointF b, std::initializer_list<QColor> colours)
{
    QLinearGradient g(a, b);
    const int n = int(colours.size());
    int i = 0;
    for (const QColor& c : colours)
        g.setColorAt(n > 1 ? double(i++) / (n - 1) : 0.0, c);
    return g;
}

} // namespace

long long drawFaceplate(Canvas& canvas, QSizeF size)
{
    const double W = size.width(), H = size.height();
    const QRectF all(0, 0, W, H);
    canvas.fillRect(all, evenStops({0, 0}, {0, H}, {QColor(23, 24, 28), Palette::ink(), QColor(7, 7, 9)}));
    QRadialGradient sheen(QPointF(0.5 * W, 0.14 * H), 0.72 * W);
    sheen.setColorAt(0, withAlpha(Qt::white, 0.05));
    sheen.setColorAt(1, Qt::transparent);
    canvas.fillRect(all, sheen);

    SplitMix64 rng(faceplateSeed);
    for (double y = 0; y < H;) {
        const double a = rng.next();
        const double b = rng.next();
        canvas.fillRect(QRectF(0, y, W, 0.5),
                        withAlpha(b > 0.5 ? Palette::bone() : QColor(Qt::black), a * 0.022 + 0.008));
        const double c = rng.next();
        y += c * 2.4 + 1;
    }
    const double area = W * H / 140.0;
    const long long n = area > 0 && std::isfinite(area) ? (long long)std::floor(area) : 0;
    // Equal opacity everywhere: one batch per colour, filled in draw order.
    std::vector<QRectF> light, dark;
    for (long long i = 0; i < n; ++i) {
        const double x = rng.next(), y = rng.next(), d = rng.next();
        (d > 0.5 ? light : dark).push_back(QRectF(x * W, y * H, 0.8, 0.8));
    }
    canvas.fillRects(dark, withAlpha(Qt::black, 0.04));
    canvas.fillRects(light, withAlpha(Palette::bone(), 0.04));

    QRadialGradient vignette(QPointF(0.5 * W, 0.5 * H), 0.78 * W);
    // The ring starts at 0.45 H: the gradient is clear inside it.
    const double start = W > 0 ? std::clamp(0.45 * H / (0.78 * W), 0.0, 1.0) : 0.0;
    vignette.setColorAt(0, Qt::transparent);
    vignette.setColorAt(start, Qt::transparent);
    vignette.setColorAt(1, withAlpha(Qt::black, 0.45));
    canvas.fillRect(all, vignette);
    return n;
}

void drawWalnutCheek(Canvas& canvas, QSizeF size, std::uint64_t seed)
{
    const double W = size.width(), H = size.height();
    const QRectF all(0, 0, W, H);
    canvas.fillRect(all, evenStops({0, 0}, {W, 0},
                                   {Palette::railDeep(), Palette::rail(), QColor(36, 39, 46), Palette::rail(),
                                    Palette::railDeep()}));
    SplitMix64 rng(seed);
    for (double x = 0; x < W;) {
        const double a = rng.next();
        canvas.fillRect(QRectF(x, 0, 0.6, H),
                        withAlpha(a > 0.6 ? Palette::railLight() : QColor(Qt::black), a * 0.16 + 0.1));
        const double c = rng.next();
        x += c * 2.6 + 1.2;
    }
    canvas.fillRect(QRectF(0, 0, W, 1.2), withAlpha(Qt::white, 0.16));
    canvas.fillRect(QRectF(0, H - 1.2, W, 1.2), withAlpha(Qt::black, 0.70));
    canvas.fillRect(all, evenStops({0, 0}, {0, H},
                                   {withAlpha(Qt::white, 0.05), Qt::transparent, withAlpha(Qt::black, 0.30)}));
}

namespace {

QCache<QString, QImage>& cache()
{
    // About eight full-window plates at ratio 2.
    static QCache<QString, QImage> images(8 * 1600 * 1080 * 4 * 4 / 1024);
    return images;
}

template <typename Draw>
QImage cached(const QString& key, QSizeF size, double deviceScale, Draw draw)
{
    if (QImage* hit = cache().object(key))
        return *hit;
    const QSize px(int(std::ceil(std::max(0.0, size.width()) * deviceScale)),
                   int(std::ceil(std::max(0.0, size.height()) * deviceScale)));
    if (px.isEmpty() || px.width() > 16384 || px.height() > 16384)
        return {};
    QImage image(px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.scale(deviceScale, deviceScale);
        PainterCanvas canvas(p);
        draw(canvas);
    }
    image.setDevicePixelRatio(deviceScale);
    cache().insert(key, new QImage(image), int(std::max<qsizetype>(1, image.sizeInBytes() / 1024)));
    return image;
}

} // namespace

QImage faceplate(QSizeF size, double deviceScale)
{
    const QString key = QString::asprintf("plate/%.2fx%.2f@%.3f", size.width(), size.height(), deviceScale);
    return cached(key, size, deviceScale, [&](Canvas& c) { drawFaceplate(c, size); });
}

QImage walnutCheek(QSizeF size, double deviceScale, std::uint64_t seed)
{
    const QString key = QString::asprintf("cheek/%.2fx%.2f@%.3f/%llu", size.width(), size.height(), deviceScale,
                                          (unsigned long long)seed);
    return cached(key, size, deviceScale, [&](Canvas& c) { drawWalnutCheek(c, size, seed); });
}

void clearCache() { cache().clear(); }

} // namespace Textures

} // namespace zelvo::kit
