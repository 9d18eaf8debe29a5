#include "ui/stage/SettingsStyle.h"

#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"

#include <QLabel>

namespace zelvo::stage {

QColor captionColor(CaptionStyle style)
{
    switch (style) {
    case CaptionStyle::primary: return kit::Palette::paper();
    case CaptionStyle::secondary: return kit::Palette::ash();
    case CaptionStyle::error: return kit::Palette::red();
    }
    return kit::Palette::paper();
}

void setCaptionStyle(QLabel* label, CaptionStyle style)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, captionColor(style));
    palette.setColor(QPalette::Text, captionColor(style));
    label->setPalette(palette);
}

QLabel* captionLabel(const QString& text, CaptionStyle style, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setFont(kit::sansFont(11, false));
    setCaptionStyle(label, style);
    return label;
}

QLabel* monoLabel(const QString& text, double px, CaptionStyle style, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(kit::monoFont(px));
    setCaptionStyle(label, style);
    return label;
}

} // namespace zelvo::stage
