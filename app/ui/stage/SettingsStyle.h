#pragma once
// The settings popover's shared text styles: section titles, captions in the
// secondary or error colour, and monospaced lines.
//
// Main thread only.
#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace zelvo::stage {

enum class CaptionStyle { primary, secondary, error };

QColor captionColor(CaptionStyle style);
// A caption label (word-wrapped) in `style`.
QLabel* captionLabel(const QString& text, CaptionStyle style, const QString& name, QWidget* parent);
void setCaptionStyle(QLabel* label, CaptionStyle style);
// A caption in the monospaced family at `px`.
QLabel* monoLabel(const QString& text, double px, CaptionStyle style, const QString& name, QWidget* parent);

} // namespace zelvo::stage
