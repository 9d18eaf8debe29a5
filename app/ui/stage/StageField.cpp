#include "ui/stage/StageField.h"

#include "ui/kit/Palette.h"

#include <QKeyEvent>
#include <QPainter>

#include <cmath>

namespace zelvo::stage {

StageField::StageField(kit::UiEnv, Read read, Write write, const QString& placeholder, double size, QWidget* parent)
    : QLineEdit(parent), read_(std::move(read)), write_(std::move(write))
{
    setFocusPolicy(Qt::ClickFocus);
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(std::max(1, int(std::lround(size))));
    font.setWeight(QFont::Medium);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Window, Qt::transparent);
    colours.setColor(QPalette::Text, kit::Stage::nsPaper());
    colours.setColor(QPalette::PlaceholderText, kit::withAlpha(kit::Stage::nsAsh(), 0.7));
    setPalette(colours);
    setPlaceholderText(placeholder);
    if (read_)
        setText(read_());
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (write_)
            write_(text);
    });
}

void StageField::refresh()
{
    if (hasFocus() || !read_)
        return;
    const QString value = read_();
    if (value != text())
        setText(value);
}

void StageField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        clearFocus();
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void StageField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // What changed outside while editing shows now.
    refresh();
    update();
}

void StageField::paintEvent(QPaintEvent* event)
{
    if (hasFocus()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRectF area = QRectF(rect()).adjusted(2, 0, -2, 0);
    if (text().isEmpty()) {
        painter.setPen(kit::withAlpha(kit::Stage::nsAsh(), 0.7));
        painter.setFont(font());
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(placeholderText(), Qt::ElideRight, int(area.width())));
        return;
    }
    painter.setPen(kit::Stage::nsPaper());
    painter.setFont(font());
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), Qt::ElideRight, int(area.width())));
}

} // namespace zelvo::stage
