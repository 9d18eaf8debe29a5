// BrainClient against the stand-in model server, in each of its modes.
#include "generation/BrainClient.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"

#include "WavFileSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

namespace zelvo {
namespace {

using test::StandInBrain;

// What a consumer saw of one stream.
struct Seen {
    std::vector<BrainEvent> events;
    bool ended = false;
    std::optional<BrainFailure> failure;

    template <class T>
    int count() const
    {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [](const BrainEvent& e) { return e.as<T>(); }));
    }
};

class BrainClientTest : public ::testing::Test {
protected:
    // Starts a stand-in with the given knobs; the test fails when it does not come up.
    StandInBrain& serve(std::map<QString, QString> env = {})
    {
        brain_ = std::make_unique<StandInBrain>(std::move(env));
        EXPECT_TRUE(brain_->start()) << brain_->output().toStdString();
        client_ = std::make_unique<BrainClient>(brain_->base(), clock_);
        return *brain_;
    }

    // A 4 s context at 120 beats a minute, 16-bit stereo, with 2,048 frames past its end.
    OutpaintRequest request(qint64 steps = 4, qint64 seed = 7)
    {
        const QString context = brain_->scratch() + "/ctx-TEST0001.wav";
        const qint64 frames = 4 * 44100 + 2048;
        EXPECT_TRUE(test::writeWav(context, 44100, 2, test::beatTrack(120, frames, 44100, 2)));
        OutpaintRequest r;
        r.context = context;
        r.contextSeconds = 4.0;
        r.seconds = 10.0;
        r.prompt = "house";
        r.steps = steps;
        r.cfg = 3.0;
        r.seed = seed;
        r.out = brain_->scratch() + "/gen-TEST0001.wav";
        return r;
    }

    BrainStream start(const OutpaintRequest& r, Seen& seen)
    {
        return client_->outpaint(
            r, &context_, [&seen](const BrainEvent& e) { seen.events.push_back(e); },
            [&seen](const std::optional<BrainFailure>& f) {
                seen.ended = true;
                seen.failure = f;
            });
    }

    Seen run(const OutpaintRequest& r)
    {
        Seen seen;
        BrainStream stream = start(r, seen);
        EXPECT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }, 20));
        EXPECT_FALSE(stream.isRunning());
        return seen;
    }

    BrainClient::HealthResult health()
    {
        std::optional<BrainClient::HealthResult> result;
        client_->health(&context_, [&](BrainClient::HealthResult r) { result = std::move(r); });
        EXPECT_TRUE(StandInBrain::spinUntil([&] { return result.has_value(); }, 10));
        return result.value_or(BrainClient::HealthResult(DecodingError{"no answer"}));
    }

    // The log entries of requests to one endpoint.
    QList<QJsonObject> requests(const QString& path) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& e : brain_->log()) {
            if (e["kind"].toString() == "request" && e["path"].toString() == path)
                out.append(e);
        }
        return out;
    }

    ManualScheduler clock_;
    QObject context_;
    std::unique_ptr<StandInBrain> brain_;
    std::unique_ptr<BrainClient> client_;
};

TEST_F(BrainClientTest, OutpaintStreamsStagesAndStepsThenDoneAfterWritingTheFile)
{
    serve();
    const OutpaintRequest r = request(4, 99);
    const Seen seen = run(r);
    EXPECT_FALSE(seen.failure.has_value());
    ASSERT_FALSE(seen.events.empty());
    EXPECT_EQ(seen.events.front(), (BrainEvent{BrainEvent::Stage{"reading context"}}));
    std::vector<qint64> steps;
    for (const BrainEvent& e : seen.events) {
        if (const auto* s = e.as<BrainEvent::Step>()) {
            steps.push_back(s->step);
            EXPECT_EQ(s->total, 4);
        }
    }
    EXPECT_EQ(steps, (std::vector<qint64>{1, 2, 3, 4}));
    const auto* done = seen.events.back().as<BrainEvent::Done>();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->path, r.out);
    EXPECT_DOUBLE_EQ(done->seconds, 10.0);
    EXPECT_EQ(done->seed, 99);
    EXPECT_TRUE(QFile::exists(r.out));

    // The body went out as compact JSON with its content type.
    const auto sent = requests("/outpaint");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0]["content_type"].toString(), "application/json");
    const QByteArray body = sent[0]["body"].toString().toUtf8();
    EXPECT_EQ(body, *r.encode());
    EXPECT_FALSE(body.contains(": "));
}

TEST_F(BrainClientTest, GarbageLinesAndMixedLineEndingsAreSkipped)
{
    serve({{"KAVRI_BRAIN_FAULT", "garbage"}});
    const Seen seen = run(request(6));
    EXPECT_FALSE(seen.failure.has_value());
    // Exactly the events of a clean run: stages, six steps, done; none of the
    // junk (plain text, arrays, "Done", objects without an event) got through.
    EXPECT_EQ(seen.count<BrainEvent::Step>(), 6);
    EXPECT_EQ(seen.count<BrainEvent::Stage>(), 3);
    EXPECT_EQ(seen.count<BrainEvent::Done>(), 1);
    EXPECT_EQ(seen.events.size(), 10u);
    EXPECT_TRUE(seen.events.back().as<BrainEvent::Done>());
}

TEST_F(BrainClientTest, AnHttpRefusalEndsTheStreamWithItsStatus)
{
    serve({{"KAVRI_BRAIN_FAULT", "http503"}});
    const Seen seen = run(request());
    EXPECT_TRUE(seen.events.empty());
    ASSERT_TRUE(seen.failure.has_value());
    EXPECT_EQ(*seen.failure, BrainFailure(BrainError::http(503)));
    EXPECT_EQ(describe(*seen.failure), "brain answered HTTP 503");
}

TEST_F(BrainClientTest, AnErrorEventIsDeliveredThenEndsTheStreamWithTheMessage)
{
    serve({{"KAVRI_BRAIN_FAULT", "error"}, {"KAVRI_BRAIN_FAULT_MESSAGE", "weights are corrupt"}});
    const Seen seen = run(request());
    ASSERT_FALSE(seen.events.empty());
    EXPECT_EQ(seen.events.back(), (BrainEvent{BrainEvent::Error{"weights are corrupt"}}));
    ASSERT_TRUE(seen.failure.has_value());
    EXPECT_EQ(*seen.failure, BrainFailure(BrainError::model("weights are corrupt")));
    EXPECT_EQ(describe(*seen.failure), "weights are corrupt");
}

TEST_F(BrainClientTest, AMissingContextIsAModelError)
{
    serve();
    OutpaintRequest r = request();
    r.context = brain_->scratch() + "/ctx-GONE.wav";
    const Seen seen = run(r);
    ASSERT_TRUE(seen.failure.has_value());
    const auto* error = std::get_if<BrainError>(&*seen.failure);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), BrainError::Kind::model);
    EXPECT_TRUE(error->message().contains("ctx-GONE.wav"));
    EXPECT_FALSE(QFile::exists(r.out));
}

TEST_F(BrainClientTest, ARequestThatCannotBeEncodedGoesOutWithoutABody)
{
    serve();
    OutpaintRequest r = request();
    r.cfg = std::numeric_limits<double>::infinity();
    const Seen seen = run(r);
    // The server refuses the empty body as malformed JSON.
    ASSERT_TRUE(seen.failure.has_value());
    EXPECT_EQ(*seen.failure, BrainFailure(BrainError::http(400)));
    const auto sent = requests("/outpaint");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0]["body"].toString(), "");
    EXPECT_EQ(sent[0]["content_type"].toString(), "application/json");
}

TEST_F(BrainClientTest, AStreamEndingWithoutDoneEndsNormallyForTheConsumerToJudge)
{
    serve({{"KAVRI_BRAIN_FAULT", "nodone"}});
    const Seen seen = run(request());
    EXPECT_FALSE(seen.failure.has_value());
    EXPECT_EQ(seen.count<BrainEvent::Step>(), 4);
    EXPECT_EQ(seen.count<BrainEvent::Done>(), 0); // the consumer raises noResult
}

TEST_F(BrainClientTest, AServerDyingMidStreamWentAway)
{
    serve({{"KAVRI_BRAIN_FAULT", "die"}});
    const Seen seen = run(request(6));
    EXPECT_GT(seen.count<BrainEvent::Step>(), 0);
    EXPECT_EQ(seen.count<BrainEvent::Done>(), 0);
    ASSERT_TRUE(seen.failure.has_value());
    EXPECT_EQ(*seen.failure, BrainFailure(BrainError::wentAway()));
    EXPECT_EQ(describe(*seen.failure), QString::fromUtf8("the brain stopped \u2014 restarting it"));
}

TEST_F(BrainClientTest, ShortOutputAndDoneWithoutAFileReachTheConsumerAsDone)
{
    {
        serve({{"KAVRI_BRAIN_FAULT", "short"}});
        const OutpaintRequest r = request();
        const Seen seen = run(r);
        EXPECT_FALSE(seen.failure.has_value());
        ASSERT_TRUE(seen.events.back().as<BrainEvent::Done>());
        const auto wav = test::readWav(r.out);
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->frames(), 441000 / 2);
    }
    {
        serve({{"KAVRI_BRAIN_FAULT", "nofile"}});
        const OutpaintRequest r = request();
        const Seen seen = run(r);
        EXPECT_FALSE(seen.failure.has_value());
        EXPECT_TRUE(seen.events.back().as<BrainEvent::Done>());
        EXPECT_FALSE(QFile::exists(r.out));
    }
}

TEST_F(BrainClientTest, AStalledStreamWentAwayAfterItsIdleTimeoutWhileHealthStillAnswers)
{
    serve({{"KAVRI_BRAIN_FAULT", "stall"}});
    Seen seen;
    BrainStream stream = start(request(), seen);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return !seen.events.empty(); }));

    // The server keeps answering health while the render hangs.
    const auto report = health();
    ASSERT_TRUE(std::holds_alternative<BrainHealth>(report));
    EXPECT_EQ(std::get<BrainHealth>(report).state, "busy");

    clock_.advance(59.5);
    QCoreApplication::processEvents();
    EXPECT_FALSE(seen.ended);
    clock_.advance(0.5);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }));
    ASSERT_TRUE(seen.failure.has_value());
    EXPECT_EQ(*seen.failure, BrainFailure(BrainError::wentAway()));
}

TEST_F(BrainClientTest, EveryReadRestartsTheIdleTimeout)
{
    serve({{"KAVRI_BRAIN_STEP_DELAY", "0.1"}});
    Seen seen;
    // 20 s of silence per step: 160 s in all, never 60 s without a read.
    BrainStream stream = client_->outpaint(
        request(8), &context_,
        [&](const BrainEvent& e) {
            seen.events.push_back(e);
            if (e.as<BrainEvent::Step>())
                clock_.advance(20);
        },
        [&](const std::optional<BrainFailure>& f) {
            seen.ended = true;
            seen.failure = f;
        });
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }, 20));
    EXPECT_FALSE(seen.failure.has_value());
    EXPECT_EQ(seen.count<BrainEvent::Done>(), 1);
}

TEST_F(BrainClientTest, AConsumerThatStopsReadingCancelsTheRequest)
{
    serve({{"KAVRI_BRAIN_STEP_DELAY", "0.05"}});
    enum class Stop { cancel, dropHandle, dropContext };
    for (const Stop how : {Stop::cancel, Stop::dropHandle, Stop::dropContext}) {
        Seen seen;
        auto consumer = std::make_unique<QObject>();
        auto stream = std::make_unique<BrainStream>(client_->outpaint(
            request(400), consumer.get(), [&seen](const BrainEvent& e) { seen.events.push_back(e); },
            [&seen](const std::optional<BrainFailure>&) { seen.ended = true; }));
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.count<BrainEvent::Step>() > 0; }));
        if (how == Stop::cancel)
            stream->cancel();
        else if (how == Stop::dropHandle)
            stream.reset();
        else
            consumer.reset();
        const size_t seenAtStop = seen.events.size();

        // The server notices the closed connection and ends the render.
        ASSERT_TRUE(StandInBrain::spinUntil(
            [&] {
                const auto h = health();
                return std::holds_alternative<BrainHealth>(h) && std::get<BrainHealth>(h).state == "idle";
            },
            10));
        EXPECT_EQ(seen.events.size(), seenAtStop);
        EXPECT_FALSE(seen.ended);
        if (how == Stop::cancel) {
            EXPECT_FALSE(stream->isRunning());
        }
    }
}

TEST_F(BrainClientTest, AnExchangeLongerThanTheResourceLimitWentAway)
{
    serve({{"KAVRI_BRAIN_FAULT", "stall"}});
    client_ = std::make_unique<BrainClient>(brain_->base(), clock_, BrainTimeouts{2, 1000, 90});
    Seen seen;
    BrainStream stream = start(request(), seen);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return !seen.events.empty(); }));
    clock_.advance(89);
    QCoreApplication::processEvents();
    EXPECT_FALSE(seen.ended);
    clock_.advance(1);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }));
    EXPECT_EQ(seen.failure, std::optional<BrainFailure>(BrainError::wentAway()));
}

TEST_F(BrainClientTest, CancelStopsTheRenderWhichEndsWithCancelledAndNoFile)
{
    serve({{"KAVRI_BRAIN_STEP_DELAY", "0.05"}});
    const OutpaintRequest r = request(400);
    Seen seen;
    BrainStream stream = start(r, seen);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.count<BrainEvent::Step>() > 0; }));
    bool cancelled = false;
    client_->cancel(&context_, [&] { cancelled = true; });
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended && cancelled; }));
    EXPECT_FALSE(seen.failure.has_value());
    EXPECT_EQ(seen.events.back(), BrainEvent{BrainEvent::Cancelled{}});
    EXPECT_FALSE(QFile::exists(r.out));

    // "cancel" carries no body and no content type.
    const auto sent = requests("/cancel");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent[0]["content_type"].isNull());
    EXPECT_EQ(sent[0]["body"].toString(), "");
}

TEST_F(BrainClientTest, HealthDecodesTheServersReport)
{
    brain_ = std::make_unique<StandInBrain>();
    QFile adapter(brain_->home() + "/models/deep-house.safetensors");
    ASSERT_TRUE(adapter.open(QIODevice::WriteOnly));
    adapter.close();
    ASSERT_TRUE(brain_->start());
    client_ = std::make_unique<BrainClient>(brain_->base(), clock_);

    const auto report = health();
    ASSERT_TRUE(std::holds_alternative<BrainHealth>(report)) << describe(std::get<BrainFailure>(report)).toStdString();
    const BrainHealth& h = std::get<BrainHealth>(report);
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.state, "idle");
    EXPECT_TRUE(h.missing.isEmpty());
    EXPECT_EQ(h.pid, brain_->process().processId());
    EXPECT_EQ(h.fast, QString("ready"));
    EXPECT_EQ(h.fastLoaded, true);
    EXPECT_EQ(h.models, (QList<BrainModel>{{"zelvo-0", "base"}, {"deep-house", "lora"}}));
}

TEST_F(BrainClientTest, HealthFailsOnAReportItCannotDecode)
{
    const std::vector<std::pair<std::map<QString, QString>, QString>> cases = {
        {{{"KAVRI_BRAIN_HEALTH_DROP", "active_gb"}}, "active_gb"},
        {{{"KAVRI_BRAIN_HEALTH_PATCH", R"({"pid": 12.5})"}}, "pid"},
        {{{"KAVRI_BRAIN_HEALTH_PATCH", R"({"models": [{"name": "zelvo-0"}]})"}}, "models"},
    };
    for (const auto& [env, key] : cases) {
        serve(env);
        const auto report = health();
        ASSERT_TRUE(std::holds_alternative<BrainFailure>(report)) << key.toStdString();
        const auto* decoding = std::get_if<DecodingError>(&std::get<BrainFailure>(report));
        ASSERT_TRUE(decoding) << key.toStdString();
        EXPECT_TRUE(decoding->text.contains(key)) << decoding->text.toStdString();
    }
    serve({{"KAVRI_BRAIN_HEALTH_DROP", "pid,fast,fast_loaded"}});
    const auto report = health();
    ASSERT_TRUE(std::holds_alternative<BrainHealth>(report));
    EXPECT_FALSE(std::get<BrainHealth>(report).pid.has_value());
}

TEST_F(BrainClientTest, WithNoServerHealthFailsUnchangedAndStreamsWentAway)
{
    client_ = std::make_unique<BrainClient>(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(StandInBrain::freePort())),
                                            clock_);
    const auto report = health();
    ASSERT_TRUE(std::holds_alternative<BrainFailure>(report));
    const auto* transport = std::get_if<TransportError>(&std::get<BrainFailure>(report));
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->code, QNetworkReply::ConnectionRefusedError);

    OutpaintRequest r;
    r.context = "/nowhere/ctx.wav";
    r.out = "/nowhere/gen.wav";
    Seen seen;
    BrainStream stream = start(r, seen);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }));
    EXPECT_EQ(seen.failure, std::optional<BrainFailure>(BrainError::wentAway()));
}

TEST_F(BrainClientTest, HealthTimesOutAfterTwoSilentSecondsAndSaysSoUnchanged)
{
    serve({{"KAVRI_BRAIN_HEALTH_DELAY", "60"}});
    std::optional<BrainClient::HealthResult> result;
    client_->health(&context_, [&](BrainClient::HealthResult r) { result = std::move(r); });
    // The request has arrived and waits for an answer that does not come in time.
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return !requests("/health").isEmpty(); }));
    clock_.advance(1.9);
    QCoreApplication::processEvents();
    EXPECT_FALSE(result.has_value());
    clock_.advance(0.2);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return result.has_value(); }));
    ASSERT_TRUE(std::holds_alternative<BrainFailure>(*result));
    const auto* transport = std::get_if<TransportError>(&std::get<BrainFailure>(*result));
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->code, QNetworkReply::TimeoutError);
}

TEST_F(BrainClientTest, PrepareAndWarmSendTheirJson)
{
    serve();
    const QString track = brain_->scratch() + "/track-0A1B2C3D.wav";
    ASSERT_TRUE(test::writeWav(track, 44100, 2, test::beatTrack(120, 22050, 44100, 2)));
    bool prepared = false;
    client_->prepare("0A1B2C3D-0000-0000-0000-000000000000-22050", track, &context_, [&] { prepared = true; });
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return prepared; }));
    const auto report = health();
    ASSERT_TRUE(std::holds_alternative<BrainHealth>(report));
    const auto& ready = std::get<BrainHealth>(report).tracksReady;
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->at("0A1B2C3D-0000-0000-0000-000000000000-22050"), 22050);
    const auto prepares = requests("/prepare");
    ASSERT_EQ(prepares.size(), 1);
    EXPECT_EQ(prepares[0]["content_type"].toString(), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(prepares[0]["body"].toString().toUtf8()).object();
    EXPECT_EQ(body["audio"].toString(), track);

    Seen seen;
    BrainStream stream = client_->warm(
        96, &context_, [&](const BrainEvent& e) { seen.events.push_back(e); },
        [&](const std::optional<BrainFailure>& f) {
            seen.ended = true;
            seen.failure = f;
        });
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return seen.ended; }));
    EXPECT_FALSE(seen.failure.has_value());
    EXPECT_EQ(seen.count<BrainEvent::Ready>(), 1);
    EXPECT_EQ(requests("/warm").value(0)["body"].toString(), R"({"seconds":96})");
}

TEST_F(BrainClientTest, EventsReachTheConsumerInOrderOnItsOwnThread)
{
    serve({{"KAVRI_BRAIN_STEP_DELAY", "0"}});
    QThread worker;
    worker.start();
    QObject consumer;
    consumer.moveToThread(&worker);
    std::atomic<int> wrongThread{0};
    std::atomic<bool> ended{false};
    std::vector<qint64> steps; // written on the worker only, read after it ended
    const OutpaintRequest r = request(50);
    BrainStream stream;
    // Asked for from yet another thread.
    QThread* asker = QThread::create([&] {
        stream = client_->outpaint(
            r, &consumer,
            [&](const BrainEvent& e) {
                if (QThread::currentThread() != &worker)
                    ++wrongThread;
                if (const auto* s = e.as<BrainEvent::Step>())
                    steps.push_back(s->step);
            },
            [&](const std::optional<BrainFailure>&) {
                if (QThread::currentThread() != &worker)
                    ++wrongThread;
                ended = true;
            });
    });
    asker->start();
    ASSERT_TRUE(asker->wait(5000));
    delete asker;
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return ended.load(); }, 20));
    worker.quit();
    worker.wait();
    EXPECT_EQ(wrongThread, 0);
    ASSERT_EQ(steps.size(), 50u);
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(steps[i], static_cast<qint64>(i + 1));
}

} // namespace
} // namespace zelvo
