#pragma once
// The tour's one button: primary (paper fill, ink text) or secondary (raised
// ink fill, bone text, a line border), 32 points high, 16 points either side
// of its label. The style can change while it shows.
//
// Main thread only.
#include "ui/kit/ThemeViews.h"

#include <QAbstractButton>

namespace zelvo::tour {

class TourButton final : public QAbstractButton {
    Q_OBJECT
public:
    TourButton(const QString& title, bool primary, QWidget* parent = nullptr);
    bool primary() const { return primary_; }
    void setPrimary(bool primary);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool primary_;
};

// A quiet text button: a stage label (upper case, medium monospaced) with no
// box, frame or fill of its own; the cards' "skip".
class TourLink final : public QAbstractButton {
    Q_OBJECT
public:
    TourLink(const QString& title, double size, const QColor& colour, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    kit::TextLine line_;
};

} // namespace zelvo::tour
