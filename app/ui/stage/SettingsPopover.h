#pragma once
// The settings popover: one fixed-width column that chooses the audio output,
// its buffer and channel pairs, takes the CDN key, switches to the classic
// faceplate, picks the controller surface, lists the players and looks after
// the model server. It owns no state: every control writes its model at once.
//
// The column (`AudioSettings`) is shown in a popup window with a drawn arrow
// (`SettingsPopup`) under whichever key opened it: `SettingsAnchor` follows
// `AppModel::showSettings` for one key and opens the popup while the key is on
// screen; a click outside closes it and sets the field back to false.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StatusPresenters.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QVBoxLayout;

namespace zelvo {

class AppModel;
class PlayerList;

class AudioSettings final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 440;
    static constexpr int kLogHeight = 140;

    AudioSettings(AppModel& app, kit::UiEnv env, QWidget* parent = nullptr);
    ~AudioSettings() override;

    // Re-reads every model now (tests; the models' signals do it on the next turn).
    void refresh();

private:
    QComboBox* picker(const QString& label, const QString& name, QWidget* parent, QVBoxLayout* column);
    void scheduleRefresh();
    void refreshLog();
    void fill(QComboBox* box, std::vector<stage::PickerRow>& shown, std::vector<stage::PickerRow> rows, int index);

    AppModel& app_;
    kit::UiEnv env_;
    std::unique_ptr<kit::FaceScaleSource> unit_;
    QComboBox* output_ = nullptr;
    QComboBox* buffer_ = nullptr;
    QWidget* pairs_ = nullptr;
    QComboBox* master_ = nullptr;
    QComboBox* cue_ = nullptr;
    QLabel* cueNote_ = nullptr;
    QCheckBox* classic_ = nullptr;
    QComboBox* surface_ = nullptr;
    QLabel* controllerLine_ = nullptr;
    PlayerList* players_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    std::vector<stage::PickerRow> outputRows_, bufferRows_, masterRows_, cueRows_, surfaceRows_;
    bool pending_ = false;
};

class SettingsPopup final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kArrow = 9;

    SettingsPopup(AppModel& app, kit::UiEnv env, QWidget* window);
    AudioSettings* settings() const { return settings_; }
    // Places the popup below `key` with its arrow on the key's bottom edge.
    void placeUnder(const QWidget* key);
    int arrowX() const { return arrowX_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    AppModel& app_;
    AudioSettings* settings_;
    int arrowX_ = 0;
};

class SettingsAnchor final : public QObject {
    Q_OBJECT
public:
    // Lives as long as `key`.
    SettingsAnchor(AppModel& app, kit::UiEnv env, QWidget* key);
    // The popup while it is shown; null otherwise.
    SettingsPopup* popup() const { return popup_; }

private:
    void follow();

    AppModel& app_;
    kit::UiEnv env_;
    QWidget* key_;
    QPointer<SettingsPopup> popup_;
};

} // namespace zelvo
