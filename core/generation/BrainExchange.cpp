#include "generation/BrainExchange.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QThread>

namespace zelvo::detail {

void onMainThread(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    Q_ASSERT(app);
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

QNetworkAccessManager* sharedBrainNetwork()
{
    // Confined to the main thread, so the lazy creation needs no lock. It lives
    // for the rest of the process and is never torn down: deleting it at exit,
    // while Qt's network thread may still be closing connections, strands that
    // thread's objects.
    static QNetworkAccessManager* manager = [] {
        auto* m = new QNetworkAccessManager;
        // Loopback requests never go through a proxy taken from the environment.
        m->setProxy(QNetworkProxy::NoProxy);
        // The longest wait for further data on any exchange; each request's own,
        // shorter idle time-out normally ends it first.
        m->setTransferTimeout(600 * 1000);
        return m;
    }();
    return manager;
}

BrainExchange::BrainExchange(Setup setup) : setup_(std::move(setup)) {}

void BrainExchange::start(const QNetworkRequest& baseRequest, const QByteArray& verb,
                          const std::optional<QByteArray>& body)
{
    QNetworkRequest request(baseRequest);
    // Ephemeral: no cookies, cache or credentials are kept between exchanges.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkAccessManager* network = sharedBrainNetwork();
    QNetworkReply* reply = nullptr;
    if (verb == "GET")
        reply = network->get(request);
    else if (body)
        reply = network->sendCustomRequest(request, verb, *body);
    else
        reply = network->sendCustomRequest(request, verb); // truly no body, so no content type is made up
    reply_ = reply;

    auto self = shared_from_this();
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [self] { self->onMetaData(); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [self] { self->onReadyRead(); });
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [self](qint64, qint64) { self->touch(); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [self] { self->onFinished(); });
    if (setup_.context) {
        // A consumer whose context object goes away has stopped reading.
        std::weak_ptr<BrainExchange> weak = self;
        contextWatch_ = QObject::connect(setup_.context.data(), &QObject::destroyed, reply, [weak] {
            if (auto exchange = weak.lock())
                exchange->abortForConsumer();
        });
    }

    std::weak_ptr<BrainExchange> weak = self;
    resourceTimer_ = setup_.scheduler->runAfter(setup_.resourceSeconds, [weak] {
        if (auto exchange = weak.lock()) {
            exchange->resourceTimer_ = 0;
            exchange->expire();
        }
    });
    touch();
}

void BrainExchange::abortForConsumer()
{
    consumerAborted_ = true;
    if (setup_.control)
        setup_.control->stopped = true;
    if (reply_ && !settled_)
        reply_->abort();
}

void BrainExchange::touch()
{
    if (settled_)
        return;
    if (idleTimer_)
        setup_.scheduler->cancel(idleTimer_);
    std::weak_ptr<BrainExchange> weak = weak_from_this();
    idleTimer_ = setup_.scheduler->runAfter(setup_.idleSeconds, [weak] {
        if (auto exchange = weak.lock()) {
            exchange->idleTimer_ = 0;
            exchange->expire();
        }
    });
}

void BrainExchange::stopTimers()
{
    if (idleTimer_)
        setup_.scheduler->cancel(idleTimer_);
    if (resourceTimer_)
        setup_.scheduler->cancel(resourceTimer_);
    idleTimer_ = resourceTimer_ = 0;
}

void BrainExchange::expire()
{
    if (settled_ || !reply_)
        return;
    timedOut_ = true;
    reply_->abort();
}

bool BrainExchange::consumerGone() const
{
    return consumerAborted_ || (setup_.control && setup_.control->stopped.load());
}

bool BrainExchange::checkStatus()
{
    if (statusChecked_ || !reply_)
        return true;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true; // no reply head yet
    statusChecked_ = true;
    if (status.toInt() == 200)
        return true;
    // A refusal ends the stream before any of its body is read.
    deliverEnd(BrainError::http(status.toInt()));
    finishQuietly();
    return false;
}

void BrainExchange::onMetaData()
{
    touch();
    if (setup_.kind == Kind::stream && !settled_)
        checkStatus();
}

void BrainExchange::onReadyRead()
{
    touch();
    if (setup_.kind != Kind::stream || settled_ || !reply_)
        return;
    if (consumerGone()) {
        finishQuietly();
        return;
    }
    if (!checkStatus())
        return;
    deliverLines(lines_.feed(reply_->readAll()));
}

// Parses and delivers complete lines; false once the stream has ended (an
// "error" event or a consumer that stopped).
bool BrainExchange::deliverLines(const QList<QByteArray>& lines)
{
    for (const QByteArray& line : lines) {
        if (settled_)
            return false;
        if (consumerGone()) {
            finishQuietly();
            return false;
        }
        const std::optional<BrainEvent> event = BrainClient::parse(line);
        if (!event)
            continue;
        deliverEvent(*event);
        if (const auto* error = event->as<BrainEvent::Error>()) {
            // The rest of the body is not read.
            deliverEnd(BrainError::model(error->message));
            finishQuietly();
            return false;
        }
    }
    return true;
}

void BrainExchange::finishQuietly()
{
    settled_ = true;
    stopTimers();
    if (reply_ && reply_->isRunning())
        reply_->abort();
}

void BrainExchange::onFinished()
{
    stopTimers();
    QObject::disconnect(contextWatch_);
    QNetworkReply* reply = reply_.data();
    if (reply)
        reply->deleteLater();
    if (settled_ || !reply)
        return;
    if (consumerGone()) {
        settled_ = true;
        return;
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool refused = status.isValid() && status.toInt() != 200;
    std::optional<BrainFailure> failure;
    if (refused) {
        failure = BrainError::http(status.toInt());
    } else if (reply->error() != QNetworkReply::NoError) {
        TransportError transport{reply->error(), reply->errorString()};
        // Our own time-outs, and the network manager's transfer time-out (which
        // aborts as if cancelled, yet no consumer asked for it), are time-outs.
        if (timedOut_ || transport.code == QNetworkReply::OperationCanceledError) {
            transport.code = QNetworkReply::TimeoutError;
            transport.text = QStringLiteral("the request timed out");
        }
        failure = transport;
    }

    switch (setup_.kind) {
    case Kind::plain:
        deliverDone();
        break;
    case Kind::health:
        if (failure) {
            deliverHealth(*failure);
        } else {
            QString why;
            if (auto health = BrainHealth::decode(reply->readAll(), &why))
                deliverHealth(std::move(*health));
            else
                deliverHealth(DecodingError{why});
        }
        break;
    case Kind::stream:
        if (failure) {
            deliverEnd(refused ? *failure : BrainError::mapping(*failure));
        } else if (checkStatus() && deliverLines(lines_.feed(reply->readAll()))
                   && deliverLines(lines_.finish()) && !settled_) {
            deliverEnd(std::nullopt);
        }
        break;
    }
    settled_ = true;
}

void BrainExchange::deliverEvent(const BrainEvent& event)
{
    if (!setup_.context || !setup_.onEvent)
        return;
    auto control = setup_.control;
    auto onEvent = setup_.onEvent;
    QMetaObject::invokeMethod(
        setup_.context.data(),
        [control, onEvent, event] {
            if (!control->stopped)
                onEvent(event);
        },
        Qt::QueuedConnection);
}

void BrainExchange::deliverEnd(std::optional<BrainFailure> failure)
{
    settled_ = true;
    if (!setup_.context) {
        setup_.control->ended = true;
        return;
    }
    auto control = setup_.control;
    auto onEnd = setup_.onEnd;
    QMetaObject::invokeMethod(
        setup_.context.data(),
        [control, onEnd, failure = std::move(failure)] {
            if (control->stopped)
                return;
            control->ended = true;
            if (onEnd)
                onEnd(failure);
        },
        Qt::QueuedConnection);
}

void BrainExchange::deliverHealth(BrainClient::HealthResult result)
{
    settled_ = true;
    if (!setup_.context || !setup_.onHealth)
        return;
    QMetaObject::invokeMethod(
        setup_.context.data(), [onHealth = setup_.onHealth, result = std::move(result)] { onHealth(result); },
        Qt::QueuedConnection);
}

void BrainExchange::deliverDone()
{
    settled_ = true;
    if (!setup_.onDone)
        return;
    if (!setup_.context) {
        setup_.onDone();
        return;
    }
    QMetaObject::invokeMethod(setup_.context.data(), setup_.onDone, Qt::QueuedConnection);
}

} // namespace zelvo::detail
