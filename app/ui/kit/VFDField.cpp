#include "ui/kit/VFDField.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"

#include <QLineEdit>
#include <QPalette>
#include <cmath>

namespace zelvo::kit {

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
    edit_ = new QLineEdit(this);
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
    edit_->setText(text_.get());
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
        edit_->setText(text_.get());
    update();
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
