#pragma once
// One line of stage text: sized to its text, or elastic (it takes what the
// layout gives and ends a longer text in an ellipsis). Setting an equal line
// repaints nothing.
//
// Main thread only.
#include <QColor>
#include <QFont>
#include <QWidget>

namespace zelvo::stage {

class TextLineView final : public QWidget {
    Q_OBJECT
public:
    TextLineView(const QFont& font, bool elastic, QWidget* parent = nullptr);
    // Takes a text and colour; repaints (and resizes) only on a change.
    void setLine(const QString& text, const QColor& color);
    QString text() const { return text_; }
    QColor color() const { return color_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont font_;
    bool elastic_;
    QString text_;
    QColor color_;
    int paints_ = 0;
};

} // namespace zelvo::stage
