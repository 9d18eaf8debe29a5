#pragma once
// Failures of requests to the model server, with the texts the user sees.
#include <QNetworkReply>
#include <QString>
#include <variant>

namespace zelvo {

// A transport failure as the network layer reported it. Our own idle and
// resource time-outs report TimeoutError; a consumer's abort OperationCanceledError.
struct TransportError {
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString text;
    bool operator==(const TransportError&) const = default;
};

// A reply body that did not decode.
struct DecodingError {
    QString text;
    bool operator==(const DecodingError&) const = default;
};

class BrainError;

// What a request to the model server can fail with.
using BrainFailure = std::variant<BrainError, TransportError, DecodingError>;

// The errors the model server protocol raises.
class BrainError {
public:
    enum class Kind { http, model, noResult, wentAway };

    // The server answered with a status other than 200.
    static BrainError http(int status) { return BrainError(Kind::http, status, {}); }
    // The server reported a failed render with this message.
    static BrainError model(QString message) { return BrainError(Kind::model, 0, std::move(message)); }
    // A stream ended normally without a "done" event; raised by the stream's consumer.
    static BrainError noResult() { return BrainError(Kind::noResult, 0, {}); }
    // The server went away (refused, closed, timed out, garbled).
    static BrainError wentAway() { return BrainError(Kind::wentAway, 0, {}); }

    Kind kind() const { return kind_; }
    // The HTTP status of `http`, else 0.
    int status() const { return status_; }
    // The server's message of `model`, else empty.
    const QString& message() const { return message_; }

    // The user-facing text ("brain answered HTTP 503", ...). Any thread.
    QString description() const;

    // Maps a failure that ends a stream: transport errors that mean the server is
    // gone become `wentAway`; everything else, a consumer's abort included,
    // passes unchanged. Any thread.
    static BrainFailure mapping(const BrainFailure& failure);

    bool operator==(const BrainError&) const = default;

private:
    BrainError(Kind kind, int status, QString message)
        : kind_(kind), status_(status), message_(std::move(message)) {}

    Kind kind_;
    int status_;
    QString message_;
};

// The user-facing text of any failure. Any thread.
QString describe(const BrainFailure& failure);

// True when the transport error means the server is gone: the connection was
// refused, lost or timed out, the host was not found or the reply was garbled.
// Any thread.
bool meansServerWentAway(QNetworkReply::NetworkError code);

} // namespace zelvo
