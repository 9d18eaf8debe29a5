#pragma once
// The classic faceplate. Until the faceplate screen exists it draws the
// design canvas's frame with one panel per deck (title and play state), at
// the faceplate's scale.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

namespace zelvo {

class AppModel;

class Instrument final : public QWidget {
    Q_OBJECT
public:
    Instrument(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppModel& model_;
    kit::UiEnv env_;
};

} // namespace zelvo
