#pragma once
// The scale-aware base of every drawn widget: it is laid out and painted in
// design points, reports its design size times the face scale, and hands
// pointer positions back in design points. Main thread.
#include "ui/kit/UiEnv.h"

#include <QPointF>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <vector>

namespace zelvo::kit {

class Canvas;

// A value seen and changed by a control, without a model reference: the
// getter is read at paint time, the setter called on every change.
template <typename T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

class FaceWidget : public QWidget {
    Q_OBJECT
public:
    FaceWidget(const UiEnv& env, QWidget* parent = nullptr);

    const UiEnv& env() const { return env_; }
    double scale() const { return env_.scale(); }
    // The widget's size in design points.
    virtual QSizeF designSize() const = 0;
    QSize sizeHint() const override;
    // Whether a design point belongs to the widget's hit shape.
    virtual bool hitTest(QPointF designPoint) const;
    QPointF toDesign(QPointF widgetPoint) const;
    // Re-reads what the widget shows (bindings and live values) and repaints.
    virtual void refresh() { update(); }
    // Refreshes on every emission of `signal` from `sender`.
    template <typename Sender, typename Signal>
    void repaintOn(const Sender* sender, Signal signal)
    {
        connect(sender, signal, this, [this] { refresh(); });
    }
    // Paints handled so far (tests count frames).
    int paintCount() const { return paints_; }
    // Draws the widget at design scale into `canvas` (what paintEvent draws).
    virtual void paintFace(Canvas& canvas) = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Applies the current scale to the widget's fixed size; call when the design size changes.
    void resizeToDesign();
    virtual void scaleChanged();

private:
    UiEnv env_;
    int paints_ = 0;
};

// A container laid out in design points. Drawn children keep their own scale;
// native children (line edits) get scaled geometry and fonts.
class DesignBox : public FaceWidget {
    Q_OBJECT
public:
    DesignBox(const UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
    ~DesignBox() override;

    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    // Places `child` (reparented to the box) at `rect` in design points; a
    // child placed before moves to the new rect.
    void place(QWidget* child, QRectF rect);
    // Paints the box's own background under its children; none by default.
    void setBackground(std::function<void(Canvas&, QSizeF)> painter);
    void paintFace(Canvas& canvas) override;

protected:
    void scaleChanged() override;
    // Called by setDesignSize on a change, before the widget takes the new
    // size: a box that arranges its children by its size does it here, so
    // they stand where they belong whether or not the box is shown yet.
    virtual void designSizeChanged() {}

private:
    struct Placed {
        QWidget* widget;
        QRectF rect;
        double basePointSize;
    };
    void layoutChildren();

    QSizeF size_;
    std::vector<Placed> placed_;
    std::function<void(Canvas&, QSizeF)> background_;
};

} // namespace zelvo::kit
