#pragma once
// The client of the local model server ("the brain"): HTTP/JSON on 127.0.0.1
// with "health", "prepare", "cancel", "warm" and "outpaint", the last two
// answered by one JSON event per line.
//
// Requests run on the application's main thread through one shared network
// manager (the socket work itself runs on Qt's network thread) and may be asked
// for from any thread; results reach the caller on the thread of the context
// object it passes, in order. Every request has its own idle time-out, run by
// the given Scheduler, which must outlive the requests.
#include "generation/BrainError.h"
#include "generation/BrainEvent.h"
#include "generation/BrainHealth.h"
#include "generation/BrainStream.h"
#include "generation/OutpaintRequest.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <functional>
#include <optional>
#include <variant>

namespace zelvo {

class Scheduler;

// Time limits of the requests, in seconds.
struct BrainTimeouts {
    double health = 2.0;      // longest silence on a "health" request
    double request = 60.0;    // longest silence on every other request
    double resource = 3600.0; // longest one exchange may last
};

class BrainClient {
public:
    using HealthResult = std::variant<BrainHealth, BrainFailure>;

    // A client of the server at `base` ("http://127.0.0.1:7431"). Any thread.
    BrainClient(QUrl base, Scheduler& scheduler, BrainTimeouts timeouts = {});

    const QUrl& base() const { return base_; }
    const BrainTimeouts& timeouts() const { return timeouts_; }
    // `base` with the endpoint name appended as one path component. Any thread.
    QUrl endpoint(const QString& name) const;

    // GET health. `done` gets the decoded report, or the failure: `http(status)`
    // for a status other than 200, the transport error unchanged (refused, timed
    // out), or the decoding error. Runs on `context`'s thread; nothing runs when
    // the context is gone by then. Any thread.
    void health(QObject* context, std::function<void(HealthResult)> done) const;

    // POST cancel with no body and no content type: stops the render in flight.
    // Never fails; `done`, when given, runs on `context`'s thread once the
    // exchange ended, however it ended. Any thread.
    void cancel(QObject* context = nullptr, std::function<void()> done = {}) const;

    // POST prepare {"track", "audio"}: hands a track's WAV file to the server
    // ahead of a fork. The reply and any failure are ignored. Any thread.
    void prepare(const QString& track, const QString& audioPath, QObject* context = nullptr,
                 std::function<void()> done = {}) const;

    // POST warm {"seconds"}; returns at once with the event stream. Any thread.
    BrainStream warm(double seconds, QObject* context, BrainStream::EventHandler onEvent,
                     BrainStream::EndHandler onEnd) const;

    // POST outpaint with the request's JSON (no body when a number is not
    // finite); returns at once with the event stream. An "error" event is
    // delivered and then ends the stream with `model(message)`; transport
    // failures that mean the server is gone end it with `wentAway`. Any thread.
    BrainStream outpaint(const OutpaintRequest& request, QObject* context, BrainStream::EventHandler onEvent,
                         BrainStream::EndHandler onEnd) const;

    // The wire name of a library track: its UUID in upper-case hyphenated form,
    // "-", and its length in sample frames. Any thread.
    static QString trackKey(const QUuid& id, qint64 frames);

    // One line of an event stream as an event, or nothing when it is not one.
    // Any thread.
    static std::optional<BrainEvent> parse(const QString& line);
    static std::optional<BrainEvent> parse(const QByteArray& utf8Line);

private:
    BrainStream stream(const QString& path, std::optional<QByteArray> body, QObject* context,
                       BrainStream::EventHandler onEvent, BrainStream::EndHandler onEnd) const;

    QUrl base_;
    Scheduler* scheduler_;
    BrainTimeouts timeouts_;
};

} // namespace zelvo
