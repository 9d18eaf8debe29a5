#pragma once
// The "kavri account" section of the settings: the CDN key's field with its
// Save and Forget keys, the key's check, the link to a free key and the
// model's install row. The key is never shown in clear text; the typed draft
// lives only as long as the form.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace zelvo {

class AppModel;

class KavriKeyForm final : public QWidget {
    Q_OBJECT
public:
    KavriKeyForm(AppModel& app, kit::UiEnv env, QWidget* parent = nullptr);

    // Saves the draft (the Save key and Return in the field), then empties it.
    void save();

private:
    void refresh();

    AppModel& app_;
    kit::UiEnv env_;
    QLineEdit* field_;
    QPushButton* saveKey_;
    QPushButton* forgetKey_;
    QProgressBar* spinner_;
    QLabel* check_;
    QWidget* progressRow_;
    QProgressBar* progress_;
    QLabel* progressText_;
    QWidget* installRow_;
    QLabel* shortfall_;
};

} // namespace zelvo
