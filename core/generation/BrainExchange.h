#pragma once
// One HTTP exchange with the model server, as BrainClient runs it: the request,
// its idle and resource time-outs, the incremental reading of event streams and
// the hand-over of results to the consumer's thread. Internal to the client.
#include "generation/BrainClient.h"
#include "generation/LineSplitter.h"
#include "platform/Scheduler.h"

#include <QMetaObject>
#include <QNetworkRequest>
#include <QPointer>
#include <atomic>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace zelvo {

namespace detail {

class BrainExchange;

// Shared between a BrainStream handle and its exchange.
struct StreamControl {
    std::atomic<bool> stopped{false}; // the consumer stopped reading
    std::atomic<bool> ended{false};   // the end was delivered
    std::weak_ptr<BrainExchange> exchange; // set on the main thread only
};

// Runs `work` on the application's main thread: at once when called there,
// else queued. Any thread.
void onMainThread(std::function<void()> work);

// The one network manager of all clients, created on first use. Main thread.
QNetworkAccessManager* sharedBrainNetwork();

class BrainExchange : public std::enable_shared_from_this<BrainExchange> {
public:
    enum class Kind { health, plain, stream };

    struct Setup {
        Kind kind = Kind::plain;
        Scheduler* scheduler = nullptr;
        double idleSeconds = 60;
        double resourceSeconds = 3600;
        QPointer<QObject> context;
        std::shared_ptr<StreamControl> control;            // streams only
        std::function<void(BrainClient::HealthResult)> onHealth; // health only
        std::function<void()> onDone;                       // plain only
        BrainStream::EventHandler onEvent;                  // streams only
        BrainStream::EndHandler onEnd;                      // streams only
    };

    explicit BrainExchange(Setup setup);

    // Sends the request: GET without a body, POST with `body` or none. Main thread.
    void start(const QNetworkRequest& request, const QByteArray& verb, const std::optional<QByteArray>& body);
    // The consumer stopped reading: abort without delivering anything. Main thread.
    void abortForConsumer();

private:
    void touch();
    void stopTimers();
    void expire();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    bool checkStatus();
    bool deliverLines(const QList<QByteArray>& lines);
    void deliverEvent(const BrainEvent& event);
    void deliverEnd(std::optional<BrainFailure> failure);
    void deliverHealth(BrainClient::HealthResult result);
    void deliverDone();
    void finishQuietly();
    bool consumerGone() const;

    Setup setup_;
    QPointer<QNetworkReply> reply_;
    QMetaObject::Connection contextWatch_;
    Scheduler::TimerId idleTimer_ = 0;
    Scheduler::TimerId resourceTimer_ = 0;
    LineSplitter lines_;
    bool statusChecked_ = false;
    bool timedOut_ = false;       // our own idle or resource time-out fired
    bool consumerAborted_ = false;
    bool settled_ = false;        // the outcome was delivered or dropped
};

} // namespace detail
} // namespace zelvo
