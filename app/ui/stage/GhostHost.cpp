#include "ui/stage/GhostHost.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

namespace zelvo::stage {

GhostHost::GhostHost(QWidget* parent) : QWidget(parent) {}

GhostHost::~GhostHost()
{
    // The children outlive this part of the host: nothing of theirs may call back.
    for (auto& [key, entry] : entries_)
        release(*entry);
    entries_.clear();
}

void GhostHost::release(Entry& entry)
{
    for (const auto& w : entry.watched)
        if (w)
            w->removeEventFilter(this);
    disconnect(entry.gone);
}

GhostHost* GhostHost::of(const QWidget* child)
{
    for (QWidget* w = child ? child->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto* host = qobject_cast<GhostHost*>(w))
            return host;
    return nullptr;
}

void GhostHost::setGhosts(QWidget* child, Copies copies)
{
    if (!child || child == this || !isAncestorOf(child))
        return;
    auto& slot = entries_[child];
    if (!slot) {
        slot = std::make_unique<Entry>();
        slot->child = child;
        watch(*slot);
        slot->gone = connect(child, &QObject::destroyed, this, [this, child] {
            const auto it = entries_.find(child);
            if (it == entries_.end())
                return;
            update(it->second->painted);
            entries_.erase(it);
        });
    }
    slot->copies = std::move(copies);
    refresh(*slot);
}

void GhostHost::clearGhosts(const QWidget* child)
{
    const auto it = entries_.find(child);
    if (it == entries_.end())
        return;
    update(it->second->painted);
    release(*it->second);
    entries_.erase(it);
}

bool GhostHost::hosts(const QWidget* child) const { return entries_.count(child) > 0; }

QRegion GhostHost::reach(const QWidget* child) const
{
    const auto it = entries_.find(child);
    return it == entries_.end() ? QRegion() : reachOf(*it->second);
}

void GhostHost::watch(Entry& entry)
{
    // The child and every widget between it and the host: any of them moving,
    // resizing, showing or hiding moves the copies.
    for (QWidget* w = entry.child; w && w != this; w = w->parentWidget()) {
        w->installEventFilter(this);
        entry.watched.emplace_back(w);
    }
}

QRegion GhostHost::reachOf(const Entry& entry) const
{
    const QWidget* child = entry.child;
    const Copies& copies = entry.copies;
    if (!child || !child->isVisibleTo(this) || !(copies.opacity > 0) || !std::isfinite(copies.opacity) ||
        !std::isfinite(copies.offset) || copies.offset == 0 || !copies.rect.isValid())
        return {};
    const QPoint origin = child->mapTo(this, QPoint(0, 0));
    const double d = std::fabs(copies.offset);
    const QRect extent = copies.rect.translated(origin).adjusted(-d, 0, d, 0).toAlignedRect();
    return QRegion(extent).subtracted(QRegion(QRect(origin, child->size())));
}

void GhostHost::refresh(Entry& entry)
{
    const QRegion now = reachOf(entry);
    update(entry.painted.united(now));
    entry.painted = now;
}

bool GhostHost::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        for (auto& [key, entry] : entries_)
            for (const auto& w : entry->watched)
                if (w == watched) {
                    refresh(*entry);
                    break;
                }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void GhostHost::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintGhosts(painter);
}

void GhostHost::paintGhosts(QPainter& painter)
{
    for (auto& [key, entry] : entries_) {
        const QRegion region = reachOf(*entry);
        if (region.isEmpty() || !entry->copies.draw)
            continue;
        const Copies& copies = entry->copies;
        entry->cache.prepare(copies.rect.size(), copies.offset, copies.opacity, copies.revision, devicePixelRatioF(),
                             copies.draw);
        painter.save();
        painter.setClipRegion(region, Qt::IntersectClip);
        kit::PainterCanvas canvas(painter);
        entry->cache.paintCopies(canvas, copies.rect.translated(entry->child->mapTo(this, QPoint(0, 0))));
        painter.restore();
    }
}

} // namespace zelvo::stage
