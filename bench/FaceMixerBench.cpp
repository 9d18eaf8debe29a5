// Paint costs of the faceplate mixers and the perform module's status panel
// (raster engine, offscreen, device pixel ratio 1 and 2, manual clock).
// ms_per_frame: mean paint time of one frame; p99_ms: its 99th percentile;
// core_share: main-thread seconds per second at the view's own frame rate
// (meters 15, the status panel 6 during a transition; a full repaint, which
// only a model change asks for, at one a second).
//
// BM_MixerMeters_Frame: one meter frame of the four-channel mixer, the four
//   channel ladders and the master pair, each repainting its own rectangle,
//   with the levels changing between frames.
// BM_Mixer_FullRepaint/FLX4 and /FLX10: the whole mixer, its static art
//   (knob bodies, fader tracks) coming from the kit's caches.
// BM_MixPage_StatusFrame: the mix page's status panel with the guide scrolling.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"
#include "platform/Scheduler.h"
#include "ui/instrument/FourChannelMixer.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/UiEnv.h"

#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace zelvo {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

struct Rig {
    explicit Rig(bool output)
    {
        app.make();
        if (output) {
            app.addOutput();
            app.bootWithOutput();
        }
    }
    test::AppRig app;
    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime{scheduler, desktop, false, 1.0, &display};
};

QImage canvasFor(const QWidget* w, double ratio)
{
    QImage image(QSize(int(std::ceil(w->width() * ratio)), int(std::ceil(w->height() * ratio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

void report(benchmark::State& state, std::vector<double>& frames, double fps)
{
    if (frames.empty())
        return;
    double sum = 0;
    for (double f : frames)
        sum += f;
    const double mean = sum / double(frames.size());
    std::sort(frames.begin(), frames.end());
    const double p99 = frames[std::min(frames.size() - 1, std::size_t(double(frames.size()) * 0.99))];
    state.counters["ms_per_frame"] = mean * 1000;
    state.counters["p99_ms"] = p99 * 1000;
    state.counters["core_share"] = mean * fps;
}

template <typename Paint>
void timeFrames(benchmark::State& state, double fps, Paint paint)
{
    std::vector<double> frames;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        paint();
        frames.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    report(state, frames, fps);
}

void BM_MixerMeters_Frame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Rig rig(true);
    FourChannelMixer mixer(*rig.app.app, rig.runtime.env(), QSizeF(FourChannelMixer::kWidth, 510));
    mixer.setAttribute(Qt::WA_DontShowOnScreen);
    mixer.show();
    QApplication::processEvents();
    std::vector<kit::LEDLadder*> ladders;
    for (auto* ladder : mixer.findChildren<kit::LEDLadder*>())
        ladders.push_back(ladder);
    std::vector<QImage> images;
    for (auto* ladder : ladders)
        images.push_back(canvasFor(ladder, ratio));
    MixerState* cells = rig.app.app->audio().io() ? rig.app.app->audio().io()->engine().state().get() : nullptr;
    int frame = 0;
    timeFrames(state, 15, [&] {
        ++frame;
        if (cells) {
            for (std::size_t i = 0; i < cells->channelCount(); ++i)
                cells->channelPeak[i].store(0.5 + 0.5 * std::sin(frame * 0.3 + double(i)));
            cells->masterPeakL.store(0.5 + 0.5 * std::sin(frame * 0.2));
            cells->masterPeakR.store(0.5 + 0.5 * std::cos(frame * 0.2));
        }
        for (std::size_t i = 0; i < ladders.size(); ++i)
            ladders[i]->render(&images[i]);
    });
    state.counters["ladders"] = double(ladders.size());
}
BENCHMARK(BM_MixerMeters_Frame)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_Mixer_FullRepaint(benchmark::State& state, bool four)
{
    const double ratio = double(state.range(0));
    Rig rig(false);
    std::unique_ptr<QWidget> mixer;
    if (four)
        mixer = std::make_unique<FourChannelMixer>(*rig.app.app, rig.runtime.env(), QSizeF(FourChannelMixer::kWidth, 510));
    else
        mixer = std::make_unique<MixerView>(*rig.app.app, rig.runtime.env(), QSizeF(MixerView::kWidth, 510));
    mixer->setAttribute(Qt::WA_DontShowOnScreen);
    mixer->show();
    QApplication::processEvents();
    QImage image = canvasFor(mixer.get(), ratio);
    timeFrames(state, 1, [&] { mixer->render(&image); });
}
BENCHMARK_CAPTURE(BM_Mixer_FullRepaint, FLX4, false)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Mixer_FullRepaint, FLX10, true)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_MixPage_StatusFrame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Rig rig(false);
    PerformModule perform(*rig.app.app, rig.runtime.env(), QSizeF(PerformModule::kWidth, 300));
    perform.setAttribute(Qt::WA_DontShowOnScreen);
    perform.show();
    QApplication::processEvents();
    kit::LiveCanvas* status = perform.statusPanel();
    QImage image = canvasFor(status, ratio);
    timeFrames(state, 6, [&] {
        // One frame later: the guide has moved on.
        rig.scheduler.advance(1.0 / 6.0);
        status->render(&image);
    });
}
BENCHMARK(BM_MixPage_StatusFrame)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zelvo
