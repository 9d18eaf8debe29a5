#include "ui/kit/Chrome.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Textures.h"

#include <QCache>
#include <QFontMetricsF>
#include <cmath>

namespace zelvo::kit {

namespace {

double deviceScaleOf(const QWidget* w, double scale) { return scale * std::max(1.0, w->devicePixelRatioF()); }

} // namespace

Faceplate::Faceplate(const UiEnv& env, QSizeF designSize, QWidget* parent) : FaceWidget(env, parent), size_(designSize)
{
    resizeToDesign();
}

void Faceplate::setDesignSize(QSizeF size)
{
    if (size == size_)
        return;
    size_ = size;
    resizeToDesign();
    update();
}

void Faceplate::paintFace(Canvas& canvas)
{
    canvas.drawImage(QRectF(QPointF(0, 0), size_), Textures::faceplate(size_, deviceScaleOf(this, scale())));
}

WalnutCheek::WalnutCheek(const UiEnv& env, QSizeF designSize, std::uint64_t seed, QWidget* parent)
    : FaceWidget(env, parent), size_(designSize), seed_(seed)
{
    resizeToDesign();
}

void WalnutCheek::setDesignSize(QSizeF size)
{
    if (size == size_)
        return;
    size_ = size;
    resizeToDesign();
    update();
}

void WalnutCheek::paintFace(Canvas& canvas)
{
    canvas.drawImage(QRectF(QPointF(0, 0), size_), Textures::walnutCheek(size_, deviceScaleOf(this, scale()), seed_));
}

namespace WordmarkLook {

namespace {

QFont font(double fontSize) { return sansFont(fontSize, true, -0.06 * fontSize); }

} // namespace

QSizeF size(double fontSize)
{
    const QFontMetricsF m(font(fontSize));
    const double margin = std::ceil(offset(fontSize, true));
    return QSizeF(std::ceil(m.horizontalAdvance(QString::fromLatin1(text()))) + 2 * margin, std::ceil(m.height()));
}

QImage render(double fontSize, bool zapping, double deviceScale)
{
    static QCache<QString, QImage> cache(16);
    const QString key = QString::asprintf("%.3f/%d/%.3f", fontSize, int(zapping), deviceScale);
    if (QImage* hit = cache.object(key))
        return *hit;
    const QSizeF s = size(fontSize);
    QImage image(QSize(int(std::ceil(s.width() * deviceScale)), int(std::ceil(s.height() * deviceScale))),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(deviceScale, deviceScale);
        p.setFont(font(fontSize));
        const QString t = QString::fromLatin1(text());
        const double o = offset(fontSize, zapping);
        const QRectF box(QPointF(0, 0), s);
        p.setCompositionMode(QPainter::CompositionMode_Screen);
        p.setPen(mixOKLab(Palette::red(), Palette::bone(), 0.4));
        p.drawText(box.translated(-o, 0), Qt::AlignCenter, t);
        p.setPen(mixOKLab(Palette::cyan(), Palette::bone(), 0.4));
        p.drawText(box.translated(o, 0), Qt::AlignCenter, t);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setPen(Palette::paper());
        p.drawText(box, Qt::AlignCenter, t);
    }
    image.setDevicePixelRatio(deviceScale);
    cache.insert(key, new QImage(image));
    return image;
}

} // namespace WordmarkLook

Wordmark::Wordmark(const UiEnv& env, double size, QWidget* parent) : FaceWidget(env, parent), size_(size)
{
    resizeToDesign();
}

Wordmark::~Wordmark() { stopTimer(); }

void Wordmark::paintFace(Canvas& canvas)
{
    canvas.drawImage(QRectF(QPointF(0, 0), designSize()),
                     WordmarkLook::render(size_, zapping_, deviceScaleOf(this, scale())));
}

void Wordmark::showEvent(QShowEvent* event)
{
    FaceWidget::showEvent(event);
    if (!timer_ && !env().snapshotMode)
        wait();
}

void Wordmark::hideEvent(QHideEvent* event)
{
    stopTimer();
    if (zapping_) {
        zapping_ = false;
        update();
    }
    FaceWidget::hideEvent(event);
}

void Wordmark::stopTimer()
{
    if (timer_ && env().scheduler)
        env().scheduler->cancel(timer_);
    timer_ = 0;
}

void Wordmark::wait()
{
    Scheduler* scheduler = env().scheduler;
    if (!scheduler)
        return;
    timer_ = scheduler->runAfter(WordmarkLook::zapEvery, [this, scheduler] {
        timer_ = 0;
        const DisplayClock* display = env().liveClock ? &env().liveClock->display() : &DisplayClock::shared();
        if (!display->visible()) {
            wait();
            return;
        }
        zapping_ = true;
        ++zaps_;
        update();
        timer_ = scheduler->runAfter(WordmarkLook::zapLength, [this] {
            timer_ = 0;
            zapping_ = false;
            update();
            wait();
        });
    });
}

} // namespace zelvo::kit
