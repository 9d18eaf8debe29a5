#pragma once
// The drawn pieces of the stage mixer's strips and master column: one line of
// text, the channel number, the part dots, the crossfader-assign keys, the
// master column's row labels, the two master meters and the beat-effect
// read-out. Each draws from the model at paint time.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/Ghosts.h"

#include <functional>
#include <utility>

namespace zelvo {
class ChannelModel;
class MixerModel;
} // namespace zelvo

namespace zelvo::stage {

// The colours of the three parts (index 0 low "d", 1 mid "v", 2 high "i").
const QColor& partColour(int part);
QString partLetter(int part);

// One line of text at its ideal size, optionally in a taller frame (centred).
class TextFace final : public kit::FaceWidget {
public:
    TextFace(const kit::UiEnv& env, kit::TextLine line, QWidget* parent = nullptr);
    TextFace(const kit::UiEnv& env, const QString& text, const QFont& font, const QColor& colour,
             QWidget* parent = nullptr);
    void setFrameHeight(double height);
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;

private:
    kit::TextLine line_;
    double frameHeight_ = 0;
};

// A strip's channel number (index + 1): paper while a controller side drives
// the deck, else ash; deck 2's carries the red and cyan ghosts.
class ChannelNumber final : public kit::FaceWidget {
public:
    ChannelNumber(const kit::UiEnv& env, int index, double width, std::function<bool()> targeted,
                  QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(width_, 14); }
    void paintFace(kit::Canvas& canvas) override;

private:
    int index_;
    double width_;
    std::function<bool()> targeted_;
    Ghosts ghosts_;
};

// The channel's three parts as dots with letters, drawn at 0.85 about the
// centre; a click on a part toggles it.
class PartDotsView final : public kit::FaceWidget {
public:
    PartDotsView(const kit::UiEnv& env, ChannelModel& channel, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;
    // The part under a design point, or −1.
    int partAt(QPointF designPoint) const;
    // The unscaled frame of part i's dot and letter.
    QRectF partRect(int part) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    ChannelModel& channel_;
};

// The "a", "t", "b" keys that put the channel on a crossfader side.
class AssignKeysView final : public kit::FaceWidget {
public:
    AssignKeysView(const kit::UiEnv& env, ChannelModel& channel, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(3 * 13 + 2, 13); }
    void paintFace(kit::Canvas& canvas) override;
    QRectF keyRect(int key) const { return QRectF(key * 14, 0, 13, 13); }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    ChannelModel& channel_;
};

// The labels of the strips' knob rows, the last naming the colour effect.
class RowLabels final : public kit::FaceWidget {
public:
    RowLabels(const kit::UiEnv& env, MixerModel& mixer, double labelBase, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;

private:
    MixerModel& mixer_;
    double base_;
};

// Two 26-segment meters of the master's left and right peaks.
class MasterMeters final : public kit::FaceWidget {
public:
    MasterMeters(const kit::UiEnv& env, std::function<std::pair<double, double>()> levels, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;
    // The left and right levels the last frame showed.
    std::pair<double, double> shownLevels() const { return shown_; }

private:
    std::function<std::pair<double, double>()> levels_;
    std::pair<double, double> shown_{0, 0};
};

// The beat effect's kind, length and target; a click turns it on or off.
class FXReadout final : public kit::FaceWidget {
public:
    FXReadout(const kit::UiEnv& env, MixerModel& mixer, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(56, 28); }
    void paintFace(kit::Canvas& canvas) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    MixerModel& mixer_;
};

} // namespace zelvo::stage
