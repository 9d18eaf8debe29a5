#include "generation/BrainError.h"

namespace zelvo {

QString BrainError::description() const
{
    switch (kind_) {
    case Kind::http:
        return QStringLiteral("brain answered HTTP %1").arg(status_);
    case Kind::model:
        return message_;
    case Kind::noResult:
        return QStringLiteral("brain closed the stream without a result");
    case Kind::wentAway:
        return QStringLiteral("the brain stopped — restarting it");
    }
    return {};
}

QString describe(const BrainFailure& failure)
{
    if (const auto* brain = std::get_if<BrainError>(&failure))
        return brain->description();
    if (const auto* transport = std::get_if<TransportError>(&failure))
        return transport->text;
    return std::get<DecodingError>(failure).text;
}

bool meansServerWentAway(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::RemoteHostClosedError:         // connection lost
    case QNetworkReply::ConnectionRefusedError:        // cannot connect
    case QNetworkReply::HostNotFoundError:             // cannot find host
    case QNetworkReply::TimeoutError:                  // timed out
    case QNetworkReply::TemporaryNetworkFailureError:  // not connected
    case QNetworkReply::NetworkSessionFailedError:     // not connected
    case QNetworkReply::ProtocolFailure:               // garbled reply
        return true;
    default:
        return false;
    }
}

BrainFailure BrainError::mapping(const BrainFailure& failure)
{
    if (const auto* transport = std::get_if<TransportError>(&failure)) {
        if (meansServerWentAway(transport->code))
            return BrainError::wentAway();
    }
    return failure;
}

} // namespace zelvo
