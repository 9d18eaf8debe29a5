#pragma once
// One deck's control panel on the stage: the jog read-out with cue and play
// and the loop read-out; the header with the deck's title, sync and master,
// the mode keys and the tempo percentage; the pad mirror; and the tempo fader.
// Audio files dropped on the panel join the library and the first new one
// loads onto its deck.
//
// The cue key holds while pressed: cue-down on press (and on moves until the
// deck reports cueing), cue-up once at release, wherever the pointer is, and
// also when the key is hidden or destroyed mid-press.
//
// Main thread only.
#include "models/DeckModel.h"
#include "ui/kit/UiEnv.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace zelvo {

class AppModel;
class DeckModel;

namespace kit {
class LiveFader;
class LiveKey;
} // namespace kit

namespace stage {

class JogDisplay;
class PadMirror;
class StageSides;

// The cue key: press and hold.
class CueKey final : public QWidget {
    Q_OBJECT
public:
    CueKey(DeckModel& deck, QWidget* parent = nullptr);
    ~CueKey() override;
    bool held() const { return held_ != nullptr; }
    QSize sizeHint() const override { return QSize(60, 26); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Sends cue-up to the deck the press began on, once.
    void release();

    DeckModel& deck_;
    QPointer<DeckModel> held_;
};

// The play key: play or pause on a click.
class PlayKey final : public QWidget {
    Q_OBJECT
public:
    PlayKey(DeckModel& deck, QWidget* parent = nullptr);
    QSize sizeHint() const override { return QSize(60, 26); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    DeckModel& deck_;
    bool down_ = false;
};

// The loop and jump lengths under the transport keys.
class LoopReadout final : public QWidget {
    Q_OBJECT
public:
    LoopReadout(DeckModel& deck, QWidget* parent = nullptr);
    // A length in beats as shown (see loopBeatsText).
    static QString beats(double beats);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DeckModel& deck_;
};

} // namespace stage

class DeckPanel final : public QWidget {
    Q_OBJECT
public:
    // `sides` says which decks the controller drives; without it (or without a
    // connected controller) the panel counts as targeted.
    DeckPanel(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr,
              stage::StageSides* sides = nullptr);
    ~DeckPanel() override;
    DeckModel& deck() const { return deck_; }
    // Whether the panel carries the targeted border.
    bool targeted() const;
    // What a drop of `urls` (no adapters) does: true when a new record was
    // added; the first one loads onto the deck.
    bool dropUrls(const QList<QUrl>& urls);
    stage::JogDisplay* jog() const { return jog_; }
    stage::PadMirror* pads() const { return pads_; }
    // Narrow windows squeeze the panel rather than widen the stage.
    QSize minimumSizeHint() const override { return QSize(320, 300); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshLamps();
    void followTouch();
    double glow() const;

    AppModel& model_;
    DeckModel& deck_;
    kit::UiEnv env_;
    QPointer<stage::StageSides> sides_;
    stage::JogDisplay* jog_ = nullptr;
    stage::PadMirror* pads_ = nullptr;
    kit::LiveKey* sync_ = nullptr;
    kit::LiveKey* master_ = nullptr;
    kit::LiveKey* quantize_ = nullptr;
    kit::LiveKey* slip_ = nullptr;
    kit::LiveKey* lock_ = nullptr;
    kit::LiveKey* range_ = nullptr;
    quint64 tick_ = 0;
};

} // namespace zelvo
