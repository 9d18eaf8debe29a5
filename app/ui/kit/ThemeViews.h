#pragma once
// Small building blocks of both looks: printed faceplate lettering, the stage's
// monospaced label and a drawn screw head. Main thread.
#include "ui/kit/FaceWidget.h"

#include <QColor>
#include <QFont>
#include <QString>

namespace zelvo::kit {

// One line of upper-case lettering, drawn at its ideal size (never wrapped or cut).
struct TextLine {
    QString text;
    QFont font;
    QColor color;
    QSizeF size() const;
    void draw(Canvas& canvas, QPointF topLeft) const;
};

// Faceplate lettering: heavy condensed, upper case, with tracking.
TextLine silkText(const QString& text, double size, const QColor& color, double tracking);
// Stage lettering: monospaced, upper case, tracking 0.26 of the size.
TextLine stageText(const QString& text, double size, const QColor& color);

class SilkLabel : public FaceWidget {
    Q_OBJECT
public:
    SilkLabel(const UiEnv& env, const QString& text, double size, const QColor& color, double tracking,
              QWidget* parent = nullptr);
    QSizeF designSize() const override { return line_.size(); }
    void paintFace(Canvas& canvas) override;
    QString text() const { return line_.text; }

private:
    TextLine line_;
};

class StageLabel : public FaceWidget {
    Q_OBJECT
public:
    StageLabel(const UiEnv& env, const QString& text, double size, const QColor& color, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    // Limits the label to `width` points; longer text is cut with an ellipsis.
    void setMaxWidth(double width);
    void paintFace(Canvas& canvas) override;
    QString text() const { return line_.text; }

private:
    TextLine line_;
    double maxWidth_ = 0;
};

namespace ScrewMath {
// The slot's four corners for a screw of diameter `size` turned by `angle` degrees.
QPolygonF slot(double size, double angle);
} // namespace ScrewMath

void drawScrew(Canvas& canvas, double size, double angle);

class Screw : public FaceWidget {
    Q_OBJECT
public:
    Screw(const UiEnv& env, double size, double angle, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(size_, size_); }
    void paintFace(Canvas& canvas) override { drawScrew(canvas, size_, angle_); }

private:
    double size_;
    double angle_;
};

} // namespace zelvo::kit
