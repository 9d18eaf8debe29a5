#pragma once
// One deck's lane on the stage: the header of read-outs (deck, title and
// artist or error, time left, tempo and key, and in the tall form the tempo
// offset, the overview, the beat counter, the part dots and the chips) beside
// the scrolling waveform. Files dropped on the lane join the library and the
// first new one loads onto the lane's deck.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/kit/waves/WaveLane.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/StagePresenters.h"

#include <QList>
#include <QUrl>
#include <QWidget>

namespace zelvo {

class AppModel;
class DeckModel;
class LibraryStore;
struct TrackRecord;

namespace stage {

class StageSides;

// Imports `urls` and returns the records the library did not hold before, in
// the order the import gives them (known records and non-audio files drop out).
std::vector<TrackRecord> importAdded(LibraryStore& library, const QList<QUrl>& urls);

// The header's inputs read from the models now (the deck's cells once each).
HeaderInputs headerInputs(const AppModel& model, const DeckModel& deck, const StageSides& sides);
// The tempo ratio the deck really plays at: the engine's effective tempo while
// an output runs (sync's correction included), else the deck's fader ratio.
double liveTempoRatio(const AppModel& model, const DeckModel& deck);

class OverviewStrip;

class LaneHeader final : public QWidget {
    Q_OBJECT
public:
    LaneHeader(AppModel& model, DeckModel& deck, StageSides& sides, kit::UiEnv env, QWidget* parent = nullptr);
    ~LaneHeader() override;
    void setTall(bool tall);
    bool tall() const { return tall_; }
    int paints() const { return paints_; }
    // Where part `part`'s dot and letter take clicks (the tall form's third row).
    QRectF partRect(int part) const;
    // Where the chips shown now lie, in the header's order; none in the thin form.
    std::vector<QRectF> chipRects() const;
    // Where `chips` would lie: those that fit right of the part dots, in order.
    std::vector<QRectF> chipRects(const std::vector<ChipFace>& chips) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void followPlaying();
    // The third row's layout for the deck's state now.
    HeaderRow3 row3() const;
    QRectF stripRect() const;
    void placeStrip();

    AppModel& model_;
    DeckModel& deck_;
    StageSides& sides_;
    kit::UiEnv env_;
    bool tall_ = true;
    quint64 tick_ = 0;
    int paints_ = 0;
    OverviewStrip* strip_ = nullptr;
    Ghosts titleGhosts_;
    Ghosts tagGhosts_;
};

class DeckLane final : public QWidget {
    Q_OBJECT
public:
    DeckLane(AppModel& model, DeckModel& deck, StageSides& sides, kit::WaveScene& scene, kit::UiEnv env,
             QWidget* parent = nullptr);
    ~DeckLane() override;
    void setTall(bool tall);
    bool tall() const;
    LaneHeader* header() const { return header_; }
    kit::WaveLaneView* wave() const { return wave_; }
    // What a drop of `urls` does: true when a new record was added and loads.
    bool dropUrls(const QList<QUrl>& urls);
    // The glow behind the lane now: 1 at a touch, 0 from 0.6 s after it.
    double glow() const;
    int paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void followTouch();

    AppModel& model_;
    kit::UiEnv env_;
    quint64 tick_ = 0;
    int paints_ = 0;
    DeckModel& deck_;
    StageSides& sides_;
    LaneHeader* header_ = nullptr;
    kit::WaveLaneView* wave_ = nullptr;
};

} // namespace stage
} // namespace zelvo
