// Latency of model server events: from the server's write of a step line to the
// consumer's callback on the main thread, through BrainClient's stream. The
// stand-in stamps each step with its monotonic clock (CLOCK_MONOTONIC, as
// steady_clock here) in its log; the consumer stamps the arrival.
#include "generation/BrainClient.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

namespace {

using zelvo::test::StandInBrain;

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_Brain";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

double monotonicNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A 16-bit stereo context of `seconds`: silence, or with `clicks` a click on
// every beat at 126 BPM, something for the server's tempo estimate.
void writeContext(const QString& path, double seconds = 1.0, bool clicks = false)
{
    const int frames = int(seconds * 44100);
    QByteArray data(frames * 4, '\0');
    if (clicks) {
        auto* samples = reinterpret_cast<qint16*>(data.data());
        const int beat = int(44100 * 60.0 / 126.0);
        for (int at = 0; at + 64 < frames; at += beat)
            for (int i = 0; i < 64; ++i)
                samples[2 * (at + i)] = samples[2 * (at + i) + 1] = qint16(i % 2 ? 16000 : -16000);
    }
    QByteArray file("RIFF");
    auto put32 = [&](quint32 v) { file.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](quint16 v) { file.append(reinterpret_cast<const char*>(&v), 2); };
    put32(36 + data.size());
    file.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(2);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(16);
    file.append("data");
    put32(data.size());
    file.append(data);
    QFile out(path);
    if (out.open(QIODevice::WriteOnly))
        out.write(file);
}

void BM_Brain_EventLatency(benchmark::State& state)
{
    application();
    const int steps = 200;
    StandInBrain brain(std::map<QString, QString>{{"KAVRI_BRAIN_STEP_DELAY", "0.002"}});
    if (!brain.start()) {
        state.SkipWithError("the stand-in model server did not start");
        return;
    }
    zelvo::ManualScheduler clock;
    zelvo::BrainClient client(brain.base(), clock);
    QObject context;
    zelvo::OutpaintRequest request;
    request.context = brain.scratch() + "/ctx-BENCH.wav";
    writeContext(request.context);
    request.contextSeconds = 0.5;
    request.seconds = 1.0;
    request.steps = steps;
    request.out = brain.scratch() + "/gen-BENCH.wav";

    std::vector<double> latencies;
    qsizetype logged = 0;
    for (auto _ : state) {
        std::map<qint64, double> arrived;
        bool ended = false;
        zelvo::BrainStream stream = client.outpaint(
            request, &context,
            [&](const zelvo::BrainEvent& e) {
                if (const auto* s = e.as<zelvo::BrainEvent::Step>())
                    arrived[s->step] = monotonicNow();
            },
            [&](const std::optional<zelvo::BrainFailure>&) { ended = true; });
        if (!StandInBrain::spinUntil([&] { return ended; }, 60)) {
            state.SkipWithError("the render did not end");
            return;
        }
        state.PauseTiming();
        const auto log = brain.log();
        for (qsizetype i = logged; i < log.size(); ++i) {
            if (log[i]["kind"].toString() != "step")
                continue;
            const auto it = arrived.find(log[i]["step"].toInteger());
            if (it != arrived.end())
                latencies.push_back(it->second - log[i]["t_mono"].toDouble());
        }
        logged = log.size();
        state.ResumeTiming();
    }
    if (latencies.empty()) {
        state.SkipWithError("no step arrived");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2] * 1e6;
    state.counters["p95_us"] = latencies[latencies.size() * 95 / 100] * 1e6;
    state.counters["events"] = static_cast<double>(latencies.size());
}
BENCHMARK(BM_Brain_EventLatency)->Unit(benchmark::kMillisecond)->Iterations(5);

// A long render without step delays: the server reads a 16 s context, estimates
// its tempo and writes 196 s of stereo. server_s: its own clock from the request
// to "done"; x_realtime: seconds written per second of that clock.
void BM_Brain_LongRender(benchmark::State& state)
{
    application();
    StandInBrain brain(std::map<QString, QString>{{"KAVRI_BRAIN_STEP_DELAY", "0"}});
    if (!brain.start()) {
        state.SkipWithError("the stand-in model server did not start");
        return;
    }
    zelvo::ManualScheduler clock;
    zelvo::BrainClient client(brain.base(), clock);
    QObject context;
    zelvo::OutpaintRequest request;
    request.context = brain.scratch() + "/ctx-LONG.wav";
    writeContext(request.context, 16.0, true);
    request.contextSeconds = 16.0;
    request.seconds = 16.0 + 180.0;
    request.steps = 1;
    request.seed = 5;
    request.out = brain.scratch() + "/gen-LONG.wav";

    double serverSeconds = 0.0;
    for (auto _ : state) {
        std::optional<zelvo::BrainEvent::Done> done;
        bool ended = false;
        zelvo::BrainStream stream = client.outpaint(
            request, &context,
            [&](const zelvo::BrainEvent& e) {
                if (const auto* d = e.as<zelvo::BrainEvent::Done>())
                    done = *d;
            },
            [&](const std::optional<zelvo::BrainFailure>&) { ended = true; });
        if (!StandInBrain::spinUntil([&] { return ended; }, 60) || !done) {
            state.SkipWithError("the render did not finish");
            return;
        }
        serverSeconds += done->elapsed;
    }
    const double runs = double(state.iterations());
    state.counters["server_s"] = serverSeconds / runs;
    state.counters["x_realtime"] = serverSeconds > 0.0 ? runs * 196.0 / serverSeconds : 0.0;
}
BENCHMARK(BM_Brain_LongRender)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
