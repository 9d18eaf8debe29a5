#include "generation/BrainSupervisor.h"

#include <QUrl>
#include <cstdio>

namespace zelvo {

BrainSupervisor::BrainSupervisor(BrainPaths paths, int port, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , paths_(std::move(paths))
    , port_(port)
    , client_(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)), scheduler)
{
}

void BrainSupervisor::setHealth(std::optional<BrainHealth> health)
{
    if (health == health_)
        return;
    health_ = std::move(health);
    emit healthChanged();
}

bool BrainSupervisor::weightsMissing() const
{
    return health_ && !health_->missing.isEmpty();
}

void BrainSupervisor::note(const QString& line)
{
    const QString text = line.trimmed();
    if (text.isEmpty())
        return;
    log_.append(QStringLiteral("app: ") + text);
    while (log_.size() > kLogLines)
        log_.removeFirst();
    std::fprintf(stderr, "%s\n", log_.last().toUtf8().constData());
    emit logChanged();
}

} // namespace zelvo
