#pragma once
// A titled empty card of the stage look, drawn at the size the layout gives it:
// the stage's panels start from it.
//
// Main thread only.
#include <QWidget>

namespace zelvo {
namespace stage {

// A titled card of the stage look.
class StageCard : public QWidget {
    Q_OBJECT
public:
    StageCard(const QString& title, const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
};

} // namespace stage
} // namespace zelvo
