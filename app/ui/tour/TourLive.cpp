#include "ui/tour/TourLive.h"

#include <algorithm>
#include <cmath>

namespace zelvo::tour {

namespace {

QString controllerName(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? QStringLiteral("ddj-flx10") : QStringLiteral("ddj-flx4");
}

} // namespace

KeyFace keyFace(const KavriAccount::Check& check, const QString& storedKey, const QString& masked,
                const QString& host)
{
    using K = KavriAccount::Check::Kind;
    KeyFace face;
    face.confirmed = check.kind() == K::ok;
    face.placeholder = storedKey.isEmpty() ? QString::fromUtf8("paste your sk_kavri_… key") : masked;
    switch (check.kind()) {
    case K::bad:
        face.status = KeyFace::Status::refused;
        face.statusText = check.text();
        break;
    case K::checking:
        face.status = KeyFace::Status::checking;
        face.statusText = QStringLiteral("checking with ") + host + QString::fromUtf8("…");
        break;
    case K::none:
    case K::ok:
        face.statusText = QStringLiteral("no key yet? it's free");
        break;
    }
    return face;
}

DownloadFace downloadFace(const BrainStatus& status, double fraction, bool started,
                          const std::optional<QString>& shortfall, const QString& detail)
{
    using K = BrainStatus::Kind;
    DownloadFace face;
    switch (status.kind) {
    case K::installing:
        face.kind = DownloadFace::Kind::downloading;
        if (started)
            face.percent = QString::asprintf("%.0f%%", std::clamp(fraction, 0.0, 1.0) * 100);
        face.detail = detail;
        break;
    case K::loading:
    case K::starting:
    case K::ready:
    case K::rendering:
        face.kind = DownloadFace::Kind::installed;
        break;
    case K::failed:
        face.kind = DownloadFace::Kind::failed;
        // "try again" that found too little room changes no status: say why
        // instead of leaving the installer's old message up.
        face.message = shortfall && !shortfall->isEmpty() ? *shortfall : status.text;
        face.retry = true;
        break;
    case K::checking:
    case K::notInstalled:
    case K::offline:
        face.kind = DownloadFace::Kind::waiting;
        if (shortfall && !shortfall->isEmpty())
            face.message = *shortfall;
        break;
    }
    return face;
}

double downloadFill(double available, double fraction)
{
    const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    return std::max(6.0, std::max(0.0, available) * f);
}

ControllerLine controllerLine(std::optional<ControllerKind> connected, int players,
                              std::optional<PlayerModel> firstPlayer, const std::optional<EchoReading>& echo,
                              double uptime)
{
    ControllerLine line;
    line.attached = connected.has_value() || players > 0;
    if (!line.attached) {
        line.text = QString::fromUtf8("no controller on usb — plug one in, this updates by itself");
        return line;
    }
    if (echo && uptime - echo->stamp < kEchoLife) {
        line.echo = true;
        line.text = echo->deck ? QStringLiteral("deck %1 · ").arg(*echo->deck + 1) + echo->title : echo->title;
        line.value = echo->value;
        return line;
    }
    const QString waiting = QString::fromUtf8(" · waiting for a hand…");
    if (connected) {
        line.text = controllerName(*connected) + waiting;
    } else {
        const QString model = firstPlayer == PlayerModel::cdj3000 ? QStringLiteral("cdj-3000")
                                                                    : QStringLiteral("cdj-3000x");
        line.text = QString::asprintf("%lld", static_cast<long long>(players)) + QString::fromUtf8(" × ") + model +
                    waiting;
    }
    return line;
}

std::vector<ChecklistRow> checklist(bool keyWorks, const BrainStatus& status, const QString& detail,
                                    std::optional<ControllerKind> connected)
{
    using K = BrainStatus::Kind;
    std::vector<ChecklistRow> rows;
    rows.push_back(keyWorks ? ChecklistRow{true, QStringLiteral("kavri key · works")}
                            : ChecklistRow{false, QString::fromUtf8("kavri key · add it any time in \u2699\uFE0E")});
    if (status.kind == K::installing)
        rows.push_back({std::nullopt, QString::fromUtf8("zelvo-0 · ") + detail});
    else if (status.kind == K::failed || status.kind == K::notInstalled)
        rows.push_back({false, keyWorks ? QString::fromUtf8("zelvo-0 · press install on the big key")
                                        : QString::fromUtf8("zelvo-0 · comes down once there's a key")});
    else
        rows.push_back({true, QString::fromUtf8("zelvo-0 · on this computer")});
    rows.push_back(connected ? ChecklistRow{true, controllerName(*connected) + QString::fromUtf8(" · linked")}
                             : ChecklistRow{false, QString::fromUtf8("no controller · the keyboard plays too")});
    return rows;
}

const std::vector<QString>& firstMoves()
{
    static const std::vector<QString> moves{QStringLiteral("drag a record onto deck 1"), QStringLiteral("press play"),
                                            QString::fromUtf8("press fork — then drop it in")};
    return moves;
}

} // namespace zelvo::tour
