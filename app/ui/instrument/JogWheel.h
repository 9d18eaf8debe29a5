#pragma once
// The faceplate deck's jog wheel: a cached static platter and a live layer of
// dots, touch ring, progress, cue mark, pointer, deck number and caption. A
// drag on the platter touches and scrubs the deck, one on the ring bends its
// speed. The drag keeps the voice it began on; however it ends (release, hide,
// destruction, a lost grab) a platter drag lets go of the platter, and a
// release the full command ring refused is retried on later frames.
// Main thread only.
#include "ui/instrument/DeckPresenters.h"
#include "ui/kit/FaceWidget.h"

#include <QImage>

#include <memory>

namespace zelvo {

class DeckModel;
class DeckVoice;

namespace kit {
class LiveTimeline;
}

class JogWheel final : public kit::FaceWidget {
    Q_OBJECT
public:
    JogWheel(DeckModel& deck, double size, double secondsPerTurn, const kit::UiEnv& env, QWidget* parent = nullptr);
    ~JogWheel() override;

    QSizeF designSize() const override { return QSizeF(size_, size_); }
    bool hitTest(QPointF designPoint) const override;
    void paintFace(kit::Canvas& canvas) override;
    // The moving marks alone (the live layer).
    void paintLive(kit::Canvas& canvas) const;
    double fps() const;
    bool dragging() const { return gesture_.dragging(); }
    // Whether a refused command still waits to be sent.
    bool waiting() const;

    // What the live layer reads, once per frame.
    struct Reading {
        bool hasVoice = false;
        double position = 0;
        double duration = 0.001;
        bool playing = false;
        bool touched = false;
        double cuePoint = 0;
        bool vinylOn = true;
    };
    Reading read() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Link;
    void sample(QPointF widgetPoint);
    void endDrag();
    void follow();
    const QImage& staticLayer(double ratio);

    DeckModel& deck_;
    double size_;
    double secondsPerTurn_;
    deckface::JogGesture gesture_;
    std::shared_ptr<Link> link_;
    kit::LiveTimeline* timeline_;
    QImage static_;
    double staticRatio_ = 0;
};

// The static art of a wheel `size` points wide (shadow, ring, ticks, platter,
// grooves, sheen, label) at `ratio` device pixels per point.
QImage jogStaticArt(double size, double ratio);

} // namespace zelvo
