#pragma once
// Drawn read-outs: the dot-matrix text, the seven-segment digits and the dark
// VFD glass that holds them. Main thread.
#include "ui/kit/DotMatrix.h"
#include "ui/kit/FaceWidget.h"
#include "ui/kit/SevenSegment.h"

namespace zelvo::kit {

class DotMatrixText : public FaceWidget {
    Q_OBJECT
public:
    DotMatrixText(const UiEnv& env, DotMatrix::Look look, QWidget* parent = nullptr);
    QSizeF designSize() const override { return DotMatrix::size(look_); }
    void paintFace(Canvas& canvas) override { DotMatrix::draw(canvas, look_); }
    void setText(const QString& text);
    void setScrollPhase(std::optional<double> phase);
    void setDim(bool dim);
    const DotMatrix::Look& look() const { return look_; }

private:
    DotMatrix::Look look_;
};

class SevenSegmentText : public FaceWidget {
    Q_OBJECT
public:
    SevenSegmentText(const UiEnv& env, SevenSegment::Look look, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    void paintFace(Canvas& canvas) override;
    void setText(const QString& text);

private:
    SevenSegment::Look look_;
};

// Scan lines and sheen over a glass of `size`.
void drawGlassOverlay(Canvas& canvas, QSizeF size);
// The glass background, clip and border of a VFD panel.
void drawGlassBack(Canvas& canvas, QSizeF size, double cornerRadius);
void drawGlassBorder(Canvas& canvas, QSizeF size, double cornerRadius);

// A VFD panel: its content sits on the glass; a transparent top layer that lets
// the mouse through draws the scan lines, the sheen and the border. Glass,
// content and layer are clipped to the rounded corners.
class VFDGlass : public DesignBox {
    Q_OBJECT
public:
    VFDGlass(const UiEnv& env, QSizeF designSize, double cornerRadius, QWidget* parent = nullptr);
    // Places content on the glass and keeps the overlay on top.
    void placeContent(QWidget* content, QRectF rect);
    // Resizes the glass with its overlay (content is resized by its owner).
    void setGlassSize(QSizeF size);
    QWidget* overlay() const { return overlay_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    double radius_;
    FaceWidget* overlay_;
};

} // namespace zelvo::kit
