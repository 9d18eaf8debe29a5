#include "ui/kit/AudioDrop.h"

#include "generation/Adapters.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

namespace zelvo::kit {

DropSplit splitDrop(const QList<QUrl>& dropped, const std::function<bool(const QUrl&)>& isAdapter)
{
    DropSplit split;
    for (const QUrl& url : dropped)
        if (isAdapter(url))
            split.adapters << url;
    for (const QUrl& url : dropped)
        if (!split.adapters.contains(url))
            split.rest << url;
    return split;
}

bool answerDrop(const DropSplit& split, const std::function<void(const QList<QUrl>&)>& install,
                const std::function<bool(const QList<QUrl>&)>& action)
{
    if (install)
        install(split.adapters);
    if (split.rest.isEmpty())
        return !split.adapters.isEmpty();
    return action ? action(split.rest) : false;
}

bool isAdapterUrl(const QUrl& url) { return url.isLocalFile() && Adapters::isAdapter(url.toLocalFile()); }

AudioDrop::AudioDrop(QWidget* target, Installer install, Action action)
    : QObject(target), install_(std::move(install)), action_(std::move(action))
{
}

AudioDrop* AudioDrop::attach(QWidget* target, const UiEnv& env, Installer installAdapters, Action action)
{
    if (env.snapshotMode || !target)
        return nullptr;
    auto* drop = new AudioDrop(target, std::move(installAdapters), std::move(action));
    target->setAcceptDrops(true);
    target->installEventFilter(drop);
    return drop;
}

bool AudioDrop::drop(const QList<QUrl>& urls) { return answerDrop(splitDrop(urls, isAdapterUrl), install_, action_); }

bool AudioDrop::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDropEvent*>(event);
        if (e->mimeData() && e->mimeData()->hasUrls()) {
            e->acceptProposedAction();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        if (!e->mimeData() || !e->mimeData()->hasUrls())
            break;
        if (drop(e->mimeData()->urls()))
            e->acceptProposedAction();
        else
            e->ignore();
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zelvo::kit
