#pragma once
// An editable line of text inside a VFD panel; a still render shows it as
// read-only text. Main thread.
#include "ui/kit/FaceWidget.h"

#include <QString>

class QLineEdit;

namespace zelvo::kit {

// What a still render shows: the text when not empty, else the placeholder.
struct VFDFieldShown {
    QString text;
    bool placeholder;
};
VFDFieldShown vfdFieldShown(const QString& text, const QString& placeholder);

class VFDField : public FaceWidget {
    Q_OBJECT
public:
    VFDField(const UiEnv& env, const QString& placeholder, Binding<QString> text, QSizeF designSize,
             QWidget* parent = nullptr);
    QSizeF designSize() const override { return size_; }
    void paintFace(Canvas& canvas) override;
    // Re-reads the bound text into the line edit.
    void refresh() override;
    // The editor; null in a still render.
    QLineEdit* editor() const { return edit_; }

protected:
    void scaleChanged() override;

private:
    void layoutEditor();
    void showText(const QString& text);
    QString placeholder_;
    Binding<QString> text_;
    QSizeF size_;
    QLineEdit* edit_ = nullptr;
};

} // namespace zelvo::kit
