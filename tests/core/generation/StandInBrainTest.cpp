// The stand-in model server's own contract: its start-up lines, port and signal
// handling, its brain home, and the WAV files it generates.
#include "generation/BrainClient.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"

#include "WavFileSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cmath>

namespace zelvo {
namespace {

using test::StandInBrain;

// Runs one outpaint to its end; returns the failure, if any.
std::optional<BrainFailure> render(StandInBrain& brain, const OutpaintRequest& r)
{
    ManualScheduler clock;
    BrainClient client(brain.base(), clock);
    QObject context;
    bool ended = false;
    std::optional<BrainFailure> failure;
    BrainStream stream = client.outpaint(
        r, &context, [](const BrainEvent&) {},
        [&](const std::optional<BrainFailure>& f) {
            ended = true;
            failure = f;
        });
    EXPECT_TRUE(StandInBrain::spinUntil([&] { return ended; }, 30));
    return failure;
}

OutpaintRequest requestFor(const StandInBrain& brain, const QString& name, double contextSeconds, double seconds,
                           qint64 seed = 1)
{
    OutpaintRequest r;
    r.context = brain.scratch() + "/ctx-" + name + ".wav";
    r.contextSeconds = contextSeconds;
    r.seconds = seconds;
    r.steps = 1;
    r.seed = seed;
    r.out = brain.scratch() + "/gen-" + name + "-" + QString::number(seed) + ".wav";
    return r;
}

// The last double-quoted string of a line, as the supervisor reads a stage.
QString lastQuoted(const QString& line)
{
    QStringList parts = line.split('"', Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return {};
    parts.removeLast();
    return parts.last();
}

TEST(StandInBrainTest, PrintsStageLinesThenReadyAndEndsOnSigtermWithSignal15)
{
    StandInBrain brain;
    ASSERT_TRUE(brain.start());
    const QStringList lines = brain.output().split('\n', Qt::SkipEmptyParts);
    QStringList stages;
    int ready = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(R"("event": "stage")"))
            stages.append(lastQuoted(lines[i]));
        if (lines[i].contains(R"("event": "ready")"))
            ready = i;
    }
    EXPECT_EQ(stages, (QStringList{"loading weights", "loading text encoder", "warming up"}));
    EXPECT_EQ(ready, lines.size() - 1);

    brain.process().terminate();
    ASSERT_TRUE(brain.process().waitForFinished(5000));
    EXPECT_EQ(brain.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(brain.process().exitCode(), 15);
}

TEST(StandInBrainTest, ATakenPortSaysAddressAlreadyInUseAndExitsWithStatus1)
{
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    StandInBrain brain;
    EXPECT_FALSE(brain.start(squatter.serverPort()));
    ASSERT_TRUE(brain.process().state() == QProcess::NotRunning || brain.process().waitForFinished(5000));
    EXPECT_TRUE(brain.output().contains("Address already in use"));
    EXPECT_EQ(brain.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(brain.process().exitCode(), 1);
}

TEST(StandInBrainTest, StopsByItselfAfterItsLifetime)
{
    StandInBrain brain(std::map<QString, QString>{{"KAVRI_BRAIN_LIFETIME", "0.5"}});
    brain.start();
    ASSERT_TRUE(brain.process().waitForFinished(10000));
    EXPECT_EQ(brain.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(brain.process().exitCode(), 0);
}

TEST(StandInBrainTest, TheBrainHomeComesFromTheEnvironmentElseFromTheRuntimeFolder)
{
    QTemporaryDir elsewhere;
    QDir(elsewhere.path()).mkpath("models");
    QFile(elsewhere.path() + "/models/tech.safetensors").open(QIODevice::WriteOnly);
    QFile manifest(elsewhere.path() + "/manifest.json");
    ASSERT_TRUE(manifest.open(QIODevice::WriteOnly));
    manifest.write(R"([{"path": "models/tech.safetensors", "bytes": 0},
                       {"path": "zelvo-0/dit.safetensors", "bytes": 100}])");
    manifest.close();

    for (const bool fromEnvironment : {false, true}) {
        StandInBrain brain(fromEnvironment ? std::map<QString, QString>{{"KAVRI_BRAIN_HOME", elsewhere.path()}}
                                           : std::map<QString, QString>{});
        ASSERT_TRUE(brain.start());
        ManualScheduler clock;
        BrainClient client(brain.base(), clock);
        QObject context;
        std::optional<BrainClient::HealthResult> result;
        client.health(&context, [&](BrainClient::HealthResult r) { result = std::move(r); });
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return result.has_value(); }));
        ASSERT_TRUE(std::holds_alternative<BrainHealth>(*result));
        const BrainHealth& h = std::get<BrainHealth>(*result);
        const QString home = fromEnvironment ? elsewhere.path() : brain.home();
        EXPECT_EQ(h.modelsDir, QDir(home).filePath("models"));
        if (fromEnvironment) {
            EXPECT_EQ(h.models, (QList<BrainModel>{{"zelvo-0", "base"}, {"tech", "lora"}}));
            EXPECT_EQ(h.missing, QStringList{"zelvo-0/dit.safetensors"});
            EXPECT_TRUE(QFile::exists(elsewhere.path() + "/brain-requests.jsonl"));
        } else {
            EXPECT_EQ(h.models, (QList<BrainModel>{{"zelvo-0", "base"}}));
            EXPECT_TRUE(h.missing.isEmpty());
        }
    }
}

TEST(StandInBrainTest, KeepsA16BitContextSampleForSampleAndWritesTheRequestedLength)
{
    StandInBrain brain;
    ASSERT_TRUE(brain.start());
    const qint64 contextFrames = 11 * 4096; // whole latents, as the workflow plans them
    const double contextSeconds = contextFrames / 44100.0;
    const auto context = test::toPcm16(test::beatTrack(124, contextFrames + 2048, 44100, 2));
    OutpaintRequest r = requestFor(brain, "PCM16", contextSeconds, contextSeconds + 7.3);
    ASSERT_TRUE(test::writeWav16(r.context, 44100, 2, context, {.extraChunks = true}));
    ASSERT_FALSE(render(brain, r).has_value());

    const auto wav = test::readWav(r.out);
    ASSERT_TRUE(wav.has_value());
    EXPECT_EQ(wav->format, 1);
    EXPECT_EQ(wav->bits, 16);
    EXPECT_EQ(wav->channels, 2);
    EXPECT_EQ(wav->rate, 44100);
    EXPECT_EQ(wav->frames(), std::llround(r.seconds * 44100));
    const auto out = wav->pcm16();
    ASSERT_GE(out.size(), static_cast<size_t>(2 * contextFrames));
    EXPECT_TRUE(std::equal(context.begin(), context.begin() + 2 * contextFrames, out.begin()));
    // Written under a temporary name and renamed: nothing else is left behind.
    EXPECT_EQ(QDir(brain.scratch()).entryList(QDir::Files).size(), 2);
}

TEST(StandInBrainTest, ReadsMonoFloatExtensibleAndOtherRatesAndWritesStereoAt44100)
{
    StandInBrain brain;
    ASSERT_TRUE(brain.start());
    struct Case {
        const char* name;
        int rate;
        int channels;
        test::WavLayout layout;
    };
    for (const Case& c : {Case{"MONO16", 44100, 1, {.extraChunks = true}},
                          Case{"FLOAT48", 48000, 2, {.floatSamples = true, .extensible = true, .extraChunks = true}},
                          Case{"MONO22", 22050, 1, {.floatSamples = true}},
                          Case{"EXT16", 32000, 2, {.extensible = true}}}) {
        SCOPED_TRACE(c.name);
        // A plain 1 kHz sine, so the kept context can be checked against the formula.
        const qint64 frames = static_cast<qint64>(3.2 * c.rate);
        std::vector<float> sine(static_cast<size_t>(frames * c.channels));
        for (qint64 n = 0; n < frames; ++n) {
            for (int ch = 0; ch < c.channels; ++ch)
                sine[static_cast<size_t>(n * c.channels + ch)] = 0.5f * std::sin(2 * M_PI * 1000.0 * n / c.rate);
        }
        OutpaintRequest r = requestFor(brain, c.name, 3.0, 5.0);
        ASSERT_TRUE(test::writeWav(r.context, c.rate, c.channels, sine, c.layout));
        ASSERT_FALSE(render(brain, r).has_value());
        const auto wav = test::readWav(r.out);
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->format, c.layout.floatSamples ? 3 : 1);
        EXPECT_EQ(wav->channels, 2);
        EXPECT_EQ(wav->rate, 44100);
        EXPECT_EQ(wav->frames(), 5 * 44100);
        const auto out = wav->samples();
        // Linear interpolation of a 1 kHz tone stays within a few percent of it.
        const double tolerance = c.rate == 44100 ? 1e-4 : 0.03;
        double worst = 0;
        for (qint64 n = 0; n < 3 * 44100 - 2; ++n) {
            const double want = 0.5 * std::sin(2 * M_PI * 1000.0 * n / 44100.0);
            worst = std::max({worst, std::abs(out[2 * n] - want), std::abs(out[2 * n + 1] - want)});
        }
        EXPECT_LT(worst, tolerance);
    }
}

// Frames at which a beat starts: the signal rising above half the loudest
// burst (the soft tone under the beats never does) after a quiet stretch.
std::vector<qint64> onsets(const std::vector<float>& stereo, qint64 from, qint64 to)
{
    std::vector<qint64> found;
    float peak = 0;
    for (qint64 n = from; n < to; ++n)
        peak = std::max(peak, std::abs(stereo[2 * n]));
    qint64 lastLoud = from - 10000;
    for (qint64 n = from; n < to; ++n) {
        if (std::abs(stereo[2 * n]) < 0.45f * peak)
            continue;
        if (n - lastLoud > 4000)
            found.push_back(n);
        lastLoud = n;
    }
    return found;
}

TEST(StandInBrainTest, TheContinuationKeepsTheBeatVariesWithTheSeedAndDoesNotClickAtTheSeam)
{
    StandInBrain brain;
    ASSERT_TRUE(brain.start());
    const qint64 seam = 8 * 44100; // four bars at 120 beats a minute
    OutpaintRequest r = requestFor(brain, "BEATS", 8.0, 24.0, 1);
    ASSERT_TRUE(test::writeWav(r.context, 44100, 2, test::beatTrack(120, seam + 2048, 44100, 2)));
    ASSERT_FALSE(render(brain, r).has_value());
    const auto first = test::readWav(r.out);
    ASSERT_TRUE(first.has_value());
    const auto x = first->samples();
    const qint64 total = first->frames();

    // Every beat of the continuation falls on the context's grid of 0.5 s.
    const auto beats = onsets(x, seam - 1000, total);
    EXPECT_GE(beats.size(), 30u);
    for (qint64 at : beats) {
        const double offBeat = std::remainder(static_cast<double>(at), 22050.0);
        EXPECT_LT(std::abs(offBeat), 0.004 * 44100) << "beat at frame " << at;
    }

    // No step at the seam or at the joins of the continuation bigger than the
    // steepest slope of the context itself.
    float steepest = 0;
    for (qint64 n = 1; n < seam; ++n)
        steepest = std::max(steepest, std::abs(x[2 * n] - x[2 * (n - 1)]));
    float worst = 0;
    for (qint64 n = seam - 100; n < total; ++n)
        worst = std::max(worst, std::abs(x[2 * n] - x[2 * (n - 1)]));
    EXPECT_LE(worst, steepest * 1.05f);

    // Not silence: about as loud as the context.
    auto rms = [&](qint64 a, qint64 b) {
        double sum = 0;
        for (qint64 n = a; n < b; ++n)
            sum += x[2 * n] * x[2 * n];
        return std::sqrt(sum / static_cast<double>(b - a));
    };
    EXPECT_NEAR(rms(seam, total), rms(0, seam), 0.25 * rms(0, seam));

    // The same seed renders the same take; another seed another one.
    OutpaintRequest again = r;
    again.out = brain.scratch() + "/gen-again.wav";
    ASSERT_FALSE(render(brain, again).has_value());
    EXPECT_EQ(test::readWav(again.out)->data, first->data);
    OutpaintRequest reroll = requestFor(brain, "BEATS", 8.0, 24.0, 2);
    ASSERT_FALSE(render(brain, reroll).has_value());
    const auto second = test::readWav(reroll.out);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->data.left(seam * 4), first->data.left(seam * 4));
    EXPECT_NE(second->data.mid(seam * 4), first->data.mid(seam * 4));
}

TEST(StandInBrainTest, AContextShorterThanItClaimsIsAnError)
{
    StandInBrain brain;
    ASSERT_TRUE(brain.start());
    OutpaintRequest r = requestFor(brain, "SHORT", 4.0, 8.0);
    ASSERT_TRUE(test::writeWav(r.context, 44100, 2, test::beatTrack(120, 2 * 44100, 44100, 2)));
    const auto failure = render(brain, r);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(describe(*failure).contains("context_seconds"));
    EXPECT_FALSE(QFile::exists(r.out));
}

} // namespace
} // namespace zelvo
