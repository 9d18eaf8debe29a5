#include "ui/kit/VFDField.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"

#include <QFocusEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleHints>
#include <QTimer>
#include <cmath>

namespace zelvo::kit {

namespace {

// Qt draws a line edit's insertion point in the text colour. This style draws
// none, so the field can draw its own in another colour.
class NoInsertionPointStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        return metric == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QStyle* noInsertionPointStyle()
{
    // One for the process, never deleted: widgets and the style sheets that
    // wrap it may outlive any owner we could give it.
    static QStyle* const style = new NoInsertionPointStyle;
    return style;
}

// A line edit whose insertion point blinks in its own colour.
class CaretLineEdit final : public QLineEdit {
public:
    CaretLineEdit(QColor caret, QWidget* parent) : QLineEdit(parent), caret_(caret)
    {
        setStyle(noInsertionPointStyle());
        blink_.callOnTimeout(this, [this] {
            shown_ = !shown_;
            updateCaret();
        });
        connect(this, &QLineEdit::cursorPositionChanged, this, [this] { restartBlink(); });
        connect(this, &QLineEdit::textChanged, this, [this] { restartBlink(); });
    }

    // Whether the insertion point is drawn now (focused, editable, blink on).
    bool caretShown() const { return hasFocus() && !isReadOnly() && shown_; }
    // Where it is drawn, in widget coordinates.
    QRect caretRect() const
    {
        // Qt's cursor rectangle reaches 5 pixels left of the insertion point.
        const QRect around = cursorRect();
        return QRect(around.x() + 5, around.y(), 1, around.height());
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        if (!caretShown())
            return;
        QPainter painter(this);
        painter.fillRect(caretRect(), caret_);
    }
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        restartBlink();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        blink_.stop();
        shown_ = false;
        // Not being edited: the field shows where its text starts.
        if (!hasFocus())
            home(false);
        update();
    }

private:
    void restartBlink()
    {
        const int flash = QGuiApplication::styleHints()->cursorFlashTime();
        shown_ = true;
        if (hasFocus() && flash > 0)
            blink_.start(flash / 2);
        else
            blink_.stop();
        update();
    }
    void updateCaret() { update(caretRect().adjusted(-1, 0, 1, 0)); }

    QColor caret_;
    QTimer blink_;
    bool shown_ = false;
};

} // namespace

VFDFieldShown vfdFieldShown(const QString& text, const QString& placeholder)
{
    return text.isEmpty() ? VFDFieldShown{placeholder, true} : VFDFieldShown{text, false};
}

VFDField::VFDField(const UiEnv& env, const QString& placeholder, Binding<QString> text, QSizeF designSize,
                   QWidget* parent)
    : FaceWidget(env, parent), placeholder_(placeholder), text_(std::move(text)), size_(designSize)
{
    resizeToDesign();
    if (env.snapshotMode)
        return;
    // The insertion point and the selection accent are bone, the text glow.
    edit_ = new CaretLineEdit(Palette::bone(), this);
    edit_->setObjectName(QStringLiteral("vfdField.edit"));
    edit_->setFrame(false);
    edit_->setPlaceholderText(placeholder_);
    edit_->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = edit_->palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Text, Palette::glow());
    pal.setColor(QPalette::PlaceholderText, Palette::ash());
    pal.setColor(QPalette::Highlight, withAlpha(Palette::bone(), 0.35));
    pal.setColor(QPalette::HighlightedText, Palette::paper());
    edit_->setPalette(pal);
    edit_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    showText(text_.get());
    // Editing writes straight through; no commit or validation of its own.
    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& t) { text_.set(t); });
    layoutEditor();
}

void VFDField::paintFace(Canvas& canvas)
{
    if (edit_)
        return;
    const VFDFieldShown shown = vfdFieldShown(text_.get(), placeholder_);
    canvas.drawText(QRectF(QPointF(0, 0), size_), shown.text, monoFont(11), shown.placeholder ? Palette::ash() : Palette::glow(),
                    Qt::AlignLeft | Qt::AlignVCenter);
}

void VFDField::refresh()
{
    if (edit_ && edit_->text() != text_.get())
        showText(text_.get());
    update();
}

void VFDField::showText(const QString& text)
{
    // A line edit leaves its insertion point after a new text, scrolled to its
    // end. A text set from outside (a preset, the model) is not being typed:
    // the field shows its start. Typing never comes here (the text is equal).
    edit_->setText(text);
    edit_->setCursorPosition(0);
}

void VFDField::scaleChanged()
{
    FaceWidget::scaleChanged();
    layoutEditor();
}

void VFDField::layoutEditor()
{
    if (!edit_)
        return;
    edit_->setFont(monoFont(11 * scale()));
    edit_->setGeometry(rect());
}

} // namespace zelvo::kit
