#include "generation/BrainClient.h"

#include "generation/BrainExchange.h"
#include "generation/WireJson.h"
#include "library/JsonFields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <cmath>

namespace zelvo {
namespace {

QNetworkRequest makeRequest(const QUrl& url, bool json)
{
    QNetworkRequest request(url);
    if (json)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

QString stringField(const QJsonObject& o, const char* key, const QString& fallback = {})
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : fallback;
}

double numberField(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? v.toDouble() : 0.0;
}

qint64 integerField(const QJsonObject& o, const char* key)
{
    return jsonInteger(o.value(QLatin1String(key))).value_or(0);
}

} // namespace

BrainClient::BrainClient(QUrl base, Scheduler& scheduler, BrainTimeouts timeouts)
    : base_(std::move(base)), scheduler_(&scheduler), timeouts_(timeouts)
{
}

QUrl BrainClient::endpoint(const QString& name) const
{
    QUrl url(base_);
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + name);
    return url;
}

namespace {

detail::BrainExchange::Setup exchangeSetup(detail::BrainExchange::Kind kind, Scheduler* scheduler,
                                           double idleSeconds, double resourceSeconds, QObject* context)
{
    detail::BrainExchange::Setup setup;
    setup.kind = kind;
    setup.scheduler = scheduler;
    setup.idleSeconds = idleSeconds;
    setup.resourceSeconds = resourceSeconds;
    setup.context = context;
    return setup;
}

// Starts a one-answer exchange on the main thread.
void send(detail::BrainExchange::Setup setup, const QNetworkRequest& request, const char* method,
          std::optional<QByteArray> body)
{
    detail::onMainThread([setup = std::move(setup), request, method, body = std::move(body)]() mutable {
        std::make_shared<detail::BrainExchange>(std::move(setup))->start(request, method, body);
    });
}

} // namespace

void BrainClient::health(QObject* context, std::function<void(HealthResult)> done) const
{
    auto s = exchangeSetup(detail::BrainExchange::Kind::health, scheduler_, timeouts_.health, timeouts_.resource,
                           context);
    s.onHealth = std::move(done);
    send(std::move(s), makeRequest(endpoint(QStringLiteral("health")), false), "GET", std::nullopt);
}

void BrainClient::cancel(QObject* context, std::function<void()> done) const
{
    auto s = exchangeSetup(detail::BrainExchange::Kind::plain, scheduler_, timeouts_.request, timeouts_.resource,
                           context);
    s.onDone = std::move(done);
    send(std::move(s), makeRequest(endpoint(QStringLiteral("cancel")), false), "POST", std::nullopt);
}

void BrainClient::prepare(const QString& track, const QString& audioPath, QObject* context,
                          std::function<void()> done) const
{
    auto s = exchangeSetup(detail::BrainExchange::Kind::plain, scheduler_, timeouts_.request, timeouts_.resource,
                           context);
    s.onDone = std::move(done);
    QJsonObject body;
    body.insert(QStringLiteral("track"), track);
    body.insert(QStringLiteral("audio"), audioPath);
    send(std::move(s), makeRequest(endpoint(QStringLiteral("prepare")), true), "POST",
         QJsonDocument(body).toJson(QJsonDocument::Compact));
}

BrainStream BrainClient::warm(double seconds, QObject* context, BrainStream::EventHandler onEvent,
                              BrainStream::EndHandler onEnd) const
{
    std::optional<QByteArray> body;
    if (std::isfinite(seconds)) {
        QJsonObject o;
        o.insert(QStringLiteral("seconds"), seconds);
        body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    }
    return stream(QStringLiteral("warm"), body, context, std::move(onEvent), std::move(onEnd));
}

BrainStream BrainClient::outpaint(const OutpaintRequest& request, QObject* context,
                                  BrainStream::EventHandler onEvent, BrainStream::EndHandler onEnd) const
{
    return stream(QStringLiteral("outpaint"), request.encode(), context, std::move(onEvent), std::move(onEnd));
}

BrainStream BrainClient::stream(const QString& path, std::optional<QByteArray> body, QObject* context,
                                BrainStream::EventHandler onEvent, BrainStream::EndHandler onEnd) const
{
    auto control = std::make_shared<detail::StreamControl>();
    auto setup = exchangeSetup(detail::BrainExchange::Kind::stream, scheduler_, timeouts_.request, timeouts_.resource,
                               context);
    setup.control = control;
    setup.onEvent = std::move(onEvent);
    setup.onEnd = std::move(onEnd);
    const QNetworkRequest request = makeRequest(endpoint(path), true);
    detail::onMainThread([setup = std::move(setup), request, body = std::move(body), control]() mutable {
        if (control->stopped)
            return; // cancelled before it started
        auto exchange = std::make_shared<detail::BrainExchange>(std::move(setup));
        control->exchange = exchange;
        exchange->start(request, "POST", body);
    });
    return BrainStream(control);
}

QString BrainClient::trackKey(const QUuid& id, qint64 frames)
{
    return id.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-') + QString::number(frames);
}

std::optional<BrainEvent> BrainClient::parse(const QString& line)
{
    return parse(line.toUtf8());
}

std::optional<BrainEvent> BrainClient::parse(const QByteArray& utf8Line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(utf8Line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue name = o.value(QLatin1String("event"));
    if (!name.isString())
        return std::nullopt;
    const QString event = name.toString();
    std::optional<BrainEvent> out;
    if (event == QLatin1String("stage")) {
        out.emplace().value.emplace<BrainEvent::Stage>(BrainEvent::Stage{stringField(o, "stage")});
    } else if (event == QLatin1String("step")) {
        auto& step = out.emplace().value.emplace<BrainEvent::Step>();
        step.step = integerField(o, "step");
        step.total = integerField(o, "total");
        step.elapsed = numberField(o, "elapsed");
    } else if (event == QLatin1String("done")) {
        auto& done = out.emplace().value.emplace<BrainEvent::Done>();
        done.path = stringField(o, "path");
        done.seconds = numberField(o, "seconds");
        done.elapsed = numberField(o, "elapsed");
        done.seed = integerField(o, "seed");
    } else if (event == QLatin1String("ready")) {
        out.emplace().value.emplace<BrainEvent::Ready>();
    } else if (event == QLatin1String("cancelled")) {
        out.emplace().value.emplace<BrainEvent::Cancelled>();
    } else if (event == QLatin1String("error")) {
        out.emplace().value.emplace<BrainEvent::Error>(
            BrainEvent::Error{stringField(o, "message", QStringLiteral("unknown error"))});
    }
    return out;
}

} // namespace zelvo
