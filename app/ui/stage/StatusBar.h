#pragma once
// The strip along the top of the stage: the wordmark, the controller badge,
// the update notice, the live audio read-outs (master tempo, output device,
// latency, render load) at 2 frames a second, the browse and record keys, the
// model server's lamp and the settings key with its popover. It owns no
// state: every element reads or toggles a field of the state root or its
// models.
//
// Main thread only.
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/StatusPresenters.h"

#include <QAbstractButton>
#include <QWidget>

namespace zelvo {

class AppModel;
class BrainLamp;
class ControllerBadge;
class SettingsAnchor;

namespace stage {

// A plain key: only its label shows, a line of text or a drawn symbol.
class PlainKey final : public QAbstractButton {
    Q_OBJECT
public:
    PlainKey(const QString& name, QWidget* parent);
    void setLabel(const QString& text, const QFont& font, const QColor& color);
    void setSymbol(const QString& symbol, double size, const QColor& color);
    QString label() const { return text_; }
    QColor color() const { return color_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QString symbol_;
    QFont font_;
    QColor color_;
    double symbolSize_ = 0;
};

// The live read-outs, re-read from the running output on every frame.
class StatusReadouts final : public QWidget {
    Q_OBJECT
public:
    StatusReadouts(AppModel& app, kit::UiEnv env, QWidget* parent);
    // What the frame shows now.
    std::vector<StatusItem> items() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppModel& app_;
    kit::LiveTimeline timeline_;
    int width_ = 0;
};

// The wordmark "kavri zelvo" with its double image.
class StatusWordmark final : public QWidget {
    Q_OBJECT
public:
    explicit StatusWordmark(QWidget* parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Ghosts ghosts_;
};

} // namespace stage

class StatusBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 30;

    StatusBar(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);

    ControllerBadge* badge() const { return badge_; }
    BrainLamp* lamp() const { return lamp_; }
    stage::PlainKey* notice() const { return notice_; }
    stage::StatusReadouts* readouts() const { return readouts_; }
    stage::PlainKey* browseKey() const { return browseKey_; }
    stage::PlainKey* recordKey() const { return recordKey_; }
    stage::PlainKey* settingsKey() const { return settingsKey_; }
    SettingsAnchor* settingsAnchor() const { return anchor_; }

private:
    void refreshNotice();
    void refreshKeys();
    void noticeClicked();

    AppModel& model_;
    kit::UiEnv env_;
    ControllerBadge* badge_;
    BrainLamp* lamp_;
    stage::PlainKey* notice_;
    stage::StatusReadouts* readouts_;
    stage::PlainKey* browseKey_;
    stage::PlainKey* recordKey_;
    stage::PlainKey* settingsKey_;
    SettingsAnchor* anchor_;
};

} // namespace zelvo
