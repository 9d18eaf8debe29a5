#pragma once
// Shared pieces of the stage look: the small rounded icon key with an optional
// word, the rounded panel behind a group of controls, the countdown clock
// text, and the drawn symbols the stage's keys use.
//
// Main thread only.
#include "ui/kit/Canvas.h"
#include "ui/kit/UiEnv.h"

#include <QAbstractButton>

#include <functional>
#include <optional>

namespace zelvo {

namespace MachinePanel {
// "m:ss" of the whole minutes and the remaining whole seconds (truncated).
// Empty for a non-finite time or one beyond the integer range.
QString clock(double seconds);
} // namespace MachinePanel

namespace stage {

// Paints the symbol `name` centred in `rect` in `colour`; the names the stage
// uses are listed in `stageSymbols()`. An unknown name paints a small dot.
void paintSymbol(kit::Canvas& canvas, const QString& name, const QRectF& rect, const QColor& colour);
const QStringList& stageSymbols();

// The rounded panel behind a group of controls.
void paintStagePanel(kit::Canvas& canvas, const QRectF& rect, bool highlight);

class StageKey final : public QAbstractButton {
    Q_OBJECT
public:
    StageKey(kit::UiEnv env, const QString& symbol, std::optional<QString> label, bool lit, const QString& help,
             std::function<void()> action, QWidget* parent = nullptr);
    void setLit(bool lit);
    bool lit() const { return lit_; }
    QSize sizeHint() const override;
    // Draws the key in a rect of its size hint.
    void paintKey(kit::Canvas& canvas) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    std::optional<QString> label_;
    bool lit_;
};

} // namespace stage
} // namespace zelvo
