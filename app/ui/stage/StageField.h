#pragma once
// The stage look's one-line text entry: borderless, monospaced, bound to a
// string. It takes the keyboard only when clicked (never by Tab or by the
// window), writes every keystroke to its binding, and gives the keyboard back
// on Return or Escape, which it consumes. A change of the bound string from
// elsewhere shows only while the field is not being edited. While not edited,
// a text too long for the field ends in an ellipsis.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QLineEdit>

#include <functional>

namespace zelvo::stage {

class StageField final : public QLineEdit {
    Q_OBJECT
public:
    using Read = std::function<QString()>;
    using Write = std::function<void(const QString&)>;

    StageField(kit::UiEnv env, Read read, Write write, const QString& placeholder, double size,
               QWidget* parent = nullptr);

    // Takes the bound value unless the field is being edited. Call on the
    // binding's change signal.
    void refresh();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Read read_;
    Write write_;
};

} // namespace zelvo::stage
