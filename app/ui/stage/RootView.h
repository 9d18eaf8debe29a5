#pragma once
// The window's root view: the stage, or the classic faceplate while
// `AppModel::classicFaceplate` is on. Until the stage screen exists it shows a
// plain status board: the output device (or the audio error), each deck's
// title and whether it plays, and the model key's title.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

class QStackedLayout;

namespace zelvo {

class AppModel;
class Instrument;

class RootView final : public QWidget {
    Q_OBJECT
public:
    RootView(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);

    // The board's lines, top to bottom. Main thread.
    static QStringList lines(const AppModel& model);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showScreen();

    AppModel& model_;
    QStackedLayout* stack_ = nullptr;
    QWidget* stage_ = nullptr;
    Instrument* instrument_ = nullptr;
};

} // namespace zelvo
