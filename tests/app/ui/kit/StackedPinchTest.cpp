// Zooming the faceplate's stacked waveforms with two fingers: a touchscreen
// pinch steps the zoom exactly as the touchpad's pinch does.
#include "KitTestSupport.h"

#include "ui/kit/waves/FaceplateWaves.h"

#include <QApplication>
#include <QGesture>
#include <QNativeGestureEvent>
#include <gtest/gtest.h>

namespace zelvo::kit {
namespace {

using test::KitRig;

class ZoomScene final : public WaveScene {
public:
    WaveDeck deck(int index) const override
    {
        WaveDeck d;
        d.index = index;
        return d;
    }
    bool fourDecks() const override { return false; }
    double waveformZoom() const override { return zoom; }
    void setWaveformZoom(double z) override
    {
        zoom = z;
        ++writes;
    }
    bool anyDeckPlaying() const override { return false; }
    bool isAudible(int) const override { return false; }
    std::array<bool, 3> partsOff(int) const override { return {false, false, false}; }
    int masterDeck() const override { return -1; }
    std::optional<PendingFork> pending() const override { return std::nullopt; }
    bool extensionWaiting() const override { return false; }
    bool seek(int, double) override { return false; }
    void observe(QObject*, std::function<void()>) override {}

    double zoom = 1.0;
    int writes = 0;
};

// Sends a pinch update carrying the magnification since the fingers came down.
bool touchPinch(QWidget* target, double total, QPinchGesture::ChangeFlags flags = QPinchGesture::ScaleFactorChanged)
{
    QPinchGesture pinch;
    pinch.setTotalScaleFactor(total);
    pinch.setChangeFlags(flags);
    QGestureEvent event({&pinch});
    event.ignore(&pinch);
    QApplication::sendEvent(target, &event);
    return event.isAccepted(&pinch);
}

void touchpadPinch(QWidget* target, Qt::NativeGestureType type, double value)
{
    QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, QPointF(10, 10), QPointF(10, 10),
                              QPointF(10, 10), value, QPointF());
    QApplication::sendEvent(target, &event);
}

TEST(StackedPinch, ATouchscreenPinchZoomsAsTheTouchpadPinchDoes)
{
    KitRig rig;
    ZoomScene touch, pad;
    StackedWaveforms touched(touch, rig.env(), QSizeF(800, 156));
    StackedWaveforms padded(pad, rig.env(), QSizeF(800, 156));

    // The same fingers' path on both: out to 2×, on to 3×, back to 0.5×.
    touchpadPinch(padded.canvas(), Qt::BeginNativeGesture, 0);
    EXPECT_TRUE(touchPinch(touched.canvas(), 1.0, {})); // fingers down: taken, nothing moves
    EXPECT_EQ(touch.writes, 0);
    const double path[] = {2.0, 3.0, 0.5};
    double before = 1.0;
    for (double m : path) {
        touchpadPinch(padded.canvas(), Qt::ZoomNativeGesture, m / before - 1);
        before = m;
        EXPECT_TRUE(touchPinch(touched.canvas(), m));
        EXPECT_DOUBLE_EQ(touch.zoom, pad.zoom) << m;
    }
    EXPECT_DOUBLE_EQ(touch.zoom, 1.08 * 1.16 * (1 + 0.08 * -0.5));

    // A move of the fingers' centre alone is no zoom step.
    const int writes = touch.writes;
    touchPinch(touched.canvas(), 0.5, QPinchGesture::CenterPointChanged);
    EXPECT_EQ(touch.writes, writes);

    // Held wide open, the zoom stops at 6 and is no longer written.
    touch.zoom = 6;
    const int atTop = touch.writes;
    touchPinch(touched.canvas(), 4.0);
    EXPECT_DOUBLE_EQ(touch.zoom, 6);
    EXPECT_EQ(touch.writes, atTop);
}

} // namespace
} // namespace zelvo::kit
