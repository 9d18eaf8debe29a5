#pragma once
// One deck of the faceplate, played from the screen: the display window, the
// whole-track overview, the loop row, the jog wheel, the transport keys, the
// pad-mode row and pad grid, and the tempo strip, on the deck's panel. Files
// dropped on it are imported and the first loads. Every view reads the models
// and calls their operations; what each shows comes from DeckPresenters.
//
// Releases go where their press went: a held key or pad keeps the deck, the
// pad mode and the index it was pressed with, so a mode change, a deck swap or
// the view going away between press and release still ends the right thing.
//
// Main thread only.
#include "controllers/PadMode.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/kit/FaceWidget.h"
#include "ui/kit/HardwareControls.h"

#include <QPointer>

#include <array>
#include <memory>

namespace zelvo {

class AppModel;
class DeckModel;
class ChannelModel;

namespace kit {
class AudioDrop;
class LiveCanvas;
class LiveTimeline;
class VFDGlass;
class WaveScene;
class Legend;
} // namespace kit

class JogWheel;

// The display window: deck, badges, title, artist or error, tempo, pitch,
// range, key and clock. A press on the clock column flips remaining/elapsed.
class DeckHeader final : public kit::FaceWidget {
    Q_OBJECT
public:
    DeckHeader(AppModel& app, DeckModel& deck, const kit::UiEnv& env, double width, QWidget* parent = nullptr);
    ~DeckHeader() override;
    QSizeF designSize() const override { return QSizeF(width_, 60); }
    void setWidth(double width);
    void paintFace(kit::Canvas& canvas) override;
    bool showRemaining() const { return showRemaining_; }
    // The frame rate the read-outs redraw at now: 10 playing, 3 for a
    // scrolling title, else 0.
    double fps() const;
    // Where the clock column lies, in design points.
    QRectF clockColumn() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void follow();
    AppModel& app_;
    DeckModel& deck_;
    double width_;
    bool showRemaining_ = true;
    kit::LiveTimeline* timeline_;
};

// Shift, cue and play/pause.
class TransportKeys final : public kit::DesignBox {
    Q_OBJECT
public:
    TransportKeys(DeckModel& deck, const kit::UiEnv& env, QWidget* parent = nullptr);
    kit::HardKey* shiftKey() const { return shift_; }
    kit::HardKey* cueKey() const { return cue_; }
    kit::HardKey* playKey() const { return play_; }

private:
    void follow();
    DeckModel& deck_;
    kit::HardKey* shift_;
    kit::HardKey* cue_;
    kit::HardKey* play_;
};

// Four mode keys over the eight pads.
class PadBlock final : public kit::DesignBox {
    Q_OBJECT
public:
    PadBlock(AppModel& app, DeckModel& deck, const kit::UiEnv& env, QWidget* parent = nullptr);
    kit::HardKey* modeKey(int i) const { return modes_[std::size_t(i)]; }
    kit::HardKey* pad(int i) const { return pads_[std::size_t(i)]; }
    void follow();

private:
    AppModel& app_;
    DeckModel& deck_;
    std::array<kit::HardKey*, 4> modes_{};
    std::array<kit::HardKey*, 8> pads_{};
};

// In, out, auto loop, the jump pair and sync, each with its two legends. The
// row takes the keys' height and 11 under them; the legends hang 15 under the
// keys' bottom edge, so the widget reaches a little lower than the row.
class LoopRow final : public kit::DesignBox {
    Q_OBJECT
public:
    static constexpr double kKeyHeight = 26;
    static constexpr double kHeight = kKeyHeight + 11;
    LoopRow(AppModel& app, DeckModel& deck, const kit::UiEnv& env, double width, QWidget* parent = nullptr);
    kit::HardKey* key(int i) const { return keys_[std::size_t(i)]; } // in, out, auto, ◀, ▶, sync
    QString jumpLegend() const { return jumpText_; }
    void follow();
    void setWidth(double width);

private:
    static constexpr std::array<double, 6> kWidths{52, 52, 62, 30, 30, 56};
    static constexpr std::array<std::size_t, 4> kUnder{0, 1, 2, 5}; // the keys with a legend of their own
    double keyX(std::size_t i) const;
    void arrange();
    AppModel& app_;
    DeckModel& deck_;
    double width_;
    std::array<kit::HardKey*, 6> keys_{};
    std::array<kit::Legend*, 4> legends_{};
    kit::Legend* jumpLegend_ = nullptr;
    QString jumpText_;
};

// Caption, tempo fader, range label and reset key.
class TempoStrip final : public kit::DesignBox {
    Q_OBJECT
public:
    TempoStrip(DeckModel& deck, const kit::UiEnv& env, QWidget* parent = nullptr);
    kit::HardKey* resetKey() const { return reset_; }
    QWidget* rangeLabel() const { return range_; }
    kit::Fader* fader() const { return fader_; }

private:
    DeckModel& deck_;
    kit::Fader* fader_;
    kit::FaceWidget* range_;
    kit::HardKey* reset_;
};

// The deck's parts stand where FaceLayout::deck puts them for the view's
// width; a new width moves them (nothing is rebuilt, so a held key stays held).
class DeckView final : public kit::DesignBox {
    Q_OBJECT
public:
    // The width a new view starts at; the faceplate gives it the row's width.
    static constexpr double kWidth = 526;

    // `mirrored` is accepted for the right-hand deck; both decks share one arrangement.
    DeckView(AppModel& model, DeckModel& deck, bool mirrored, const kit::UiEnv& env, QWidget* parent = nullptr);
    ~DeckView() override;
    const DeckModel& deck() const { return deck_; }
    bool mirrored() const { return mirrored_; }
    // The engraved caption over the panel's top edge.
    QString caption() const;
    // Imports dropped files and loads the first record; false when none came back.
    bool dropFiles(const QList<QUrl>& urls);

    DeckHeader* header() const { return header_; }
    JogWheel* jog() const { return jog_; }
    // The parts' sizes, and the height their stack needs (whatever the width).
    FaceLayout::DeckParts parts() const;
    double idealHeight() const;

protected:
    void designSizeChanged() override;

private:
    void arrange();
    void paintPanel(kit::Canvas& canvas, QSizeF size) const;
    AppModel& app_;
    DeckModel& deck_;
    bool mirrored_;
    std::unique_ptr<kit::WaveScene> scene_;
    DeckHeader* header_ = nullptr;
    kit::VFDGlass* glass_ = nullptr;
    kit::LiveCanvas* overview_ = nullptr;
    LoopRow* loops_ = nullptr;
    JogWheel* jog_ = nullptr;
    TransportKeys* transport_ = nullptr;
    PadBlock* pads_ = nullptr;
    TempoStrip* tempo_ = nullptr;
    kit::FaceWidget* label_ = nullptr;
};

} // namespace zelvo
