#pragma once
// The parent layer of the double image. A child whose copies reach past its
// own frame (a border ghosted a few points wide, a badge at the edge) cannot
// draw them there itself: it paints its content and the copies inside its
// frame as usual and hands the host what it ghosts; the host paints the part
// of the copies that falls outside the child's frame, behind its children.
// Nothing changes the child's size, and the copies take no clicks: a click on
// them reaches the host, never the child.
//
// A host that paints a background of its own overrides `paintEvent`, paints the
// background and then calls `paintGhosts`.
//
// Main thread only.
#include "ui/stage/Ghosts.h"

#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <map>
#include <memory>

namespace zelvo::stage {

class GhostHost : public QWidget {
    Q_OBJECT
public:
    // What a child ghosts: the content's rectangle in the child's coordinates,
    // the copies' offset and opacity, the content's revision (it changes
    // whenever the content does) and the content's own paint function.
    struct Copies {
        QRectF rect;
        double offset = 0;
        double opacity = 0;
        quint64 revision = 0;
        Ghosts::Paint draw;
    };

    explicit GhostHost(QWidget* parent = nullptr);
    ~GhostHost() override;

    // The nearest host above `child`, or null.
    static GhostHost* of(const QWidget* child);

    // Sets (or replaces) what `child`, a descendant of this host, ghosts.
    // Ignored for a widget that is not a descendant.
    void setGhosts(QWidget* child, Copies copies);
    void clearGhosts(const QWidget* child);
    bool hosts(const QWidget* child) const;
    // Where this host paints `child`'s copies now, in the host's coordinates:
    // the copies' extent less the child's frame. Empty when nothing shows.
    QRegion reach(const QWidget* child) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintGhosts(QPainter& painter);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> child;
        Copies copies;
        Ghosts cache;
        QRegion painted; // the reach at the last update, to clear it when it moves
        std::vector<QPointer<QWidget>> watched;
        QMetaObject::Connection gone;
    };
    void release(Entry& entry);
    QRegion reachOf(const Entry& entry) const;
    void refresh(Entry& entry);
    void watch(Entry& entry);

    std::map<const QWidget*, std::unique_ptr<Entry>> entries_;
};

} // namespace zelvo::stage
