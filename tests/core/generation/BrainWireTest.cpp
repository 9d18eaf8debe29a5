// The wire types of the model server protocol: event lines, the health report,
// the request body, track keys, error texts and the line splitter.
#include "generation/BrainClient.h"
#include "generation/BrainHealth.h"
#include "generation/LineSplitter.h"
#include "generation/OutpaintRequest.h"
#include "platform/Scheduler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

namespace zelvo {
namespace {

std::optional<BrainEvent> parse(const char* line)
{
    return BrainClient::parse(QString::fromUtf8(line));
}

TEST(BrainEventParseTest, ReadsEveryEventWithDefaultsForMissingOrMistypedFields)
{
    using E = BrainEvent;
    EXPECT_EQ(parse(R"({"event":"stage","stage":"sample"})"), (E{E::Stage{"sample"}}));
    EXPECT_EQ(parse(R"({"event":"stage"})"), (E{E::Stage{""}}));
    EXPECT_EQ(parse(R"({"event":"step","step":3})"), (E{E::Step{3, 0, 0}}));
    EXPECT_EQ(parse(R"({"event":"step","step":3,"total":8,"elapsed":1.5})"), (E{E::Step{3, 8, 1.5}}));
    // An integer field takes a whole number (also written 4.0); a fraction or a
    // string reads as 0. A number field takes any number.
    EXPECT_EQ(parse(R"({"event":"step","step":4.0,"total":2.5,"elapsed":2})"), (E{E::Step{4, 0, 2}}));
    EXPECT_EQ(parse(R"({"event":"step","step":"3","total":true,"elapsed":"1"})"), (E{E::Step{0, 0, 0}}));
    EXPECT_EQ(parse(R"({"event":"done","path":"/tmp/g.wav","seconds":12.5,"elapsed":3.25,"seed":42})"),
              (E{E::Done{"/tmp/g.wav", 12.5, 3.25, 42}}));
    EXPECT_EQ(parse(R"({"event":"done"})"), (E{E::Done{"", 0, 0, 0}}));
    EXPECT_EQ(parse(R"({"event":"done","seed":9007199254740993})"), (E{E::Done{"", 0, 0, 9007199254740993LL}}));
    EXPECT_EQ(parse(R"({"event":"done","seed":1e30})"), (E{E::Done{"", 0, 0, 0}}));
    EXPECT_EQ(parse(R"({"event":"ready"})"), E{E::Ready{}});
    EXPECT_EQ(parse(R"({"event":"cancelled","extra":1})"), E{E::Cancelled{}});
    EXPECT_EQ(parse(R"({"event":"error"})"), (E{E::Error{"unknown error"}}));
    EXPECT_EQ(parse(R"({"event":"error","message":7})"), (E{E::Error{"unknown error"}}));
    EXPECT_EQ(parse(R"({"event":"error","message":"out of memory"})"), (E{E::Error{"out of memory"}}));
}

TEST(BrainEventParseTest, SkipsLinesThatAreNotEvents)
{
    for (const char* line : {"", "   ", "plain log text", R"({"event":"Done"})", R"({"event":"STAGE"})",
                             R"([{"event":"done"}])", R"({"event":3})", R"({"stage":"x"})", R"({"event":"progress"})",
                             R"({"event":"done")", "null", "\"done\""}) {
        EXPECT_FALSE(parse(line).has_value()) << line;
    }
}

QByteArray healthJson(const std::function<void(QJsonObject&)>& edit = {})
{
    QJsonObject o = QJsonDocument::fromJson(R"({
        "ok": true, "state": "idle", "dit": "dit-1", "warm": false, "missing": [],
        "active_gb": 1.5, "peak_gb": 2, "models": [{"name": "zelvo-0", "kind": "base"}]
    })").object();
    if (edit)
        edit(o);
    return QJsonDocument(o).toJson();
}

TEST(BrainHealthTest, DecodesTheRequiredKeysAndLeavesAbsentOptionalsEmpty)
{
    const auto h = BrainHealth::decode(healthJson());
    ASSERT_TRUE(h.has_value());
    EXPECT_TRUE(h->ok);
    EXPECT_EQ(h->state, "idle");
    EXPECT_EQ(h->dit, "dit-1");
    EXPECT_DOUBLE_EQ(h->activeGB, 1.5);
    EXPECT_DOUBLE_EQ(h->peakGB, 2.0);
    ASSERT_EQ(h->models.size(), 1);
    EXPECT_TRUE(h->models[0].isBase());
    EXPECT_EQ(h->models[0].id(), "zelvo-0");
    EXPECT_FALSE(h->pid || h->latents || h->lastElapsed || h->model || h->modelsDir || h->fast || h->fastLoaded
                 || h->tracksReady);
}

TEST(BrainHealthTest, DecodesOptionalKeysAndTreatsNullAsAbsent)
{
    const auto h = BrainHealth::decode(healthJson([](QJsonObject& o) {
        o["pid"] = 4321;
        o["latents"] = 12.0;
        o["last_elapsed"] = 3.5;
        o["model"] = "zelvo-0";
        o["models_dir"] = QJsonValue::Null;
        o["fast"] = "missing";
        o["fast_loaded"] = false;
        o["tracks_ready"] = QJsonObject{{"A-1", 10}, {"B-2", 20}};
        o["unknown_key"] = "ignored";
        o["models"] = QJsonArray{QJsonObject{{"name", "zelvo-0"}, {"kind", "base"}},
                                 QJsonObject{{"name", "deep"}, {"kind", "lora"}, {"extra", 1}}};
    }));
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(h->pid, 4321);
    EXPECT_EQ(h->latents, 12);
    EXPECT_EQ(h->lastElapsed, 3.5);
    EXPECT_EQ(h->model, QString("zelvo-0"));
    EXPECT_FALSE(h->modelsDir.has_value());
    EXPECT_EQ(h->fast, QString("missing"));
    EXPECT_EQ(h->fastLoaded, false);
    ASSERT_TRUE(h->tracksReady.has_value());
    EXPECT_EQ(h->tracksReady->at("B-2"), 20);
    ASSERT_EQ(h->models.size(), 2);
    EXPECT_FALSE(h->models[1].isBase());
    // Ignored keys, a null optional and 12.0 for 12 make no difference to equality.
    const auto same = BrainHealth::decode(healthJson([](QJsonObject& o) {
        o["pid"] = 4321;
        o["latents"] = 12;
        o["last_elapsed"] = 3.5;
        o["model"] = "zelvo-0";
        o["fast"] = "missing";
        o["fast_loaded"] = false;
        o["tracks_ready"] = QJsonObject{{"A-1", 10}, {"B-2", 20}};
        o["models"] = QJsonArray{QJsonObject{{"name", "zelvo-0"}, {"kind", "base"}},
                                 QJsonObject{{"name", "deep"}, {"kind", "lora"}}};
    }));
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*h, *same);
    BrainHealth other = *same;
    other.tracksReady->at("A-1") = 11;
    EXPECT_NE(*h, other);
}

TEST(BrainHealthTest, RejectsMissingRequiredKeysAndWrongTypes)
{
    const std::vector<std::pair<const char*, std::function<void(QJsonObject&)>>> broken = {
        {"active_gb", [](QJsonObject& o) { o.remove("active_gb"); }},
        {"missing", [](QJsonObject& o) { o["missing"] = QJsonValue::Null; }},
        {"ok", [](QJsonObject& o) { o["ok"] = 1; }},
        {"state", [](QJsonObject& o) { o["state"] = 3; }},
        {"missing", [](QJsonObject& o) { o["missing"] = QJsonArray{"a", 2}; }},
        {"models", [](QJsonObject& o) { o["models"] = QJsonArray{QJsonObject{{"name", "x"}}}; }},
        {"models", [](QJsonObject& o) { o["models"] = QJsonArray{QJsonValue::Null}; }},
        {"pid", [](QJsonObject& o) { o["pid"] = 12.5; }},
        {"pid", [](QJsonObject& o) { o["pid"] = "12"; }},
        {"latents", [](QJsonObject& o) { o["latents"] = 1e20; }},
        {"fast_loaded", [](QJsonObject& o) { o["fast_loaded"] = "yes"; }},
        {"tracks_ready", [](QJsonObject& o) { o["tracks_ready"] = QJsonObject{{"A", 1.5}}; }},
        {"last_elapsed", [](QJsonObject& o) { o["last_elapsed"] = "3"; }},
    };
    for (const auto& [key, edit] : broken) {
        QString why;
        EXPECT_FALSE(BrainHealth::decode(healthJson(edit), &why).has_value()) << key;
        EXPECT_TRUE(why.contains(QLatin1String(key))) << why.toStdString();
    }
    QString why;
    EXPECT_FALSE(BrainHealth::decode("[1,2]", &why).has_value());
    EXPECT_FALSE(BrainHealth::decode("<html>", &why).has_value());
    EXPECT_FALSE(why.isEmpty());
}

TEST(OutpaintRequestTest, EncodesCompactJsonWithAbsentOptionalsLeftOut)
{
    OutpaintRequest r;
    r.context = "/brain/scratch/ctx-ABCD.wav";
    r.contextSeconds = 7.43;
    r.seconds = 22.29;
    r.prompt = "deep house, 124 bpm";
    r.steps = 8;
    r.cfg = 3.5;
    r.seed = 1234567890123LL;
    r.out = "/brain/scratch/gen-ABCD.wav";
    const QByteArray plain = *r.encode();
    EXPECT_FALSE(plain.contains('\n'));
    EXPECT_FALSE(plain.contains(": "));
    const QJsonObject o = QJsonDocument::fromJson(plain).object();
    EXPECT_EQ(o.keys(), (QStringList{"cfg", "context", "context_seconds", "negative_prompt", "out", "prompt", "seconds",
                                     "seed", "steps"}));
    EXPECT_EQ(o["negative_prompt"].toString(), "");
    EXPECT_EQ(o["seed"].toInteger(), 1234567890123LL);
    EXPECT_DOUBLE_EQ(o["context_seconds"].toDouble(), 7.43);

    r.model = "deep";
    r.loraStrength = 0.8;
    r.track = "TRACK-1";
    r.contextStart = 61.5;
    const QJsonObject full = QJsonDocument::fromJson(*r.encode()).object();
    EXPECT_EQ(full["model"].toString(), "deep");
    EXPECT_DOUBLE_EQ(full["lora_strength"].toDouble(), 0.8);
    EXPECT_EQ(full["track"].toString(), "TRACK-1");
    EXPECT_DOUBLE_EQ(full["context_start"].toDouble(), 61.5);
    EXPECT_FALSE(full.contains("null"));

    // A number JSON cannot carry means no body at all, never a null.
    r.cfg = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(r.encode().has_value());
    r.cfg = 1;
    r.contextStart = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(r.encode().has_value());
}

TEST(BrainClientStaticsTest, TrackKeyIsTheUpperCaseUuidAndTheFrameCount)
{
    const QUuid id = QUuid::fromString(QStringLiteral("{3f2504e0-4f89-11d3-9a0c-0305e82c3301}"));
    const QString a = BrainClient::trackKey(id, 1'323'000);
    const QString b = BrainClient::trackKey(id, 1'323'001);
    EXPECT_EQ(a, "3F2504E0-4F89-11D3-9A0C-0305E82C3301-1323000");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.left(a.lastIndexOf('-')), b.left(b.lastIndexOf('-')));
    EXPECT_EQ(a.lastIndexOf('-'), 36);
}

TEST(BrainClientStaticsTest, EndpointsAppendOnePathComponent)
{
    ManualScheduler clock;
    EXPECT_EQ(BrainClient(QUrl("http://127.0.0.1:7431"), clock).endpoint("health").toString(),
              "http://127.0.0.1:7431/health");
    EXPECT_EQ(BrainClient(QUrl("http://127.0.0.1:7431/"), clock).endpoint("outpaint").toString(),
              "http://127.0.0.1:7431/outpaint");
}

TEST(BrainErrorTest, DescriptionsAndTheMappingOfTransportErrors)
{
    EXPECT_EQ(BrainError::http(503).description(), "brain answered HTTP 503");
    EXPECT_EQ(BrainError::model("weights are corrupt").description(), "weights are corrupt");
    EXPECT_EQ(BrainError::noResult().description(), "brain closed the stream without a result");
    EXPECT_EQ(BrainError::wentAway().description(), QString::fromUtf8("the brain stopped \u2014 restarting it"));

    for (auto code : {QNetworkReply::RemoteHostClosedError, QNetworkReply::ConnectionRefusedError,
                      QNetworkReply::HostNotFoundError, QNetworkReply::TimeoutError, QNetworkReply::ProtocolFailure,
                      QNetworkReply::TemporaryNetworkFailureError}) {
        EXPECT_EQ(BrainError::mapping(TransportError{code, "x"}), BrainFailure(BrainError::wentAway())) << code;
    }
    // A consumer's abort and other failures pass unchanged.
    for (const BrainFailure& same :
         {BrainFailure(TransportError{QNetworkReply::OperationCanceledError, "cancelled"}),
          BrainFailure(TransportError{QNetworkReply::ContentNotFoundError, "404"}),
          BrainFailure(BrainError::http(500)), BrainFailure(DecodingError{"bad"})}) {
        EXPECT_EQ(BrainError::mapping(same), same);
    }
    EXPECT_EQ(describe(TransportError{QNetworkReply::ConnectionRefusedError, "Connection refused"}),
              "Connection refused");
}

TEST(LineSplitterTest, SplitsOnLfCrAndCrLfAcrossReads)
{
    LineSplitter s;
    QList<QByteArray> lines;
    for (const char* chunk : {"one\ntw", "o\r", "\nthree\r\rfour\r\n", "\n", "fi", "ve"})
        lines += s.feed(chunk);
    lines += s.finish();
    EXPECT_EQ(lines, (QList<QByteArray>{"one", "two", "three", "", "four", "", "five"}));
    EXPECT_TRUE(s.finish().isEmpty());
}

} // namespace
} // namespace zelvo
