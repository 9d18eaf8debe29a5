#pragma once
// Stand-ins for the header's controller badge and model-server lamp until the
// shared badge and lamp land: the badge names the layout with its lamp dark,
// the lamp shows its label with the lamp dark. Main thread only.
#include "ui/kit/Canvas.h"
#include "ui/kit/FaceWidget.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

namespace zelvo {

class BadgeStandIn final : public kit::FaceWidget {
public:
    BadgeStandIn(const kit::UiEnv& env, QWidget* parent) : FaceWidget(env, parent) { setFourDecks(false); }
    void setFourDecks(bool four)
    {
        label_ = kit::silkText(four ? QStringLiteral("flx10 layout \u00b7 no controller")
                                    : QStringLiteral("flx4 layout \u00b7 no controller"),
                               7.5, kit::Palette::ash(), 1.8);
        resizeToDesign();
        update();
    }
    QSizeF designSize() const override
    {
        return QSizeF(10 + 6 + 6 + label_.size().width(), std::max(6.0, label_.size().height()));
    }
    void paintFace(kit::Canvas& canvas) override
    {
        const double h = designSize().height();
        QPainterPath lamp;
        lamp.addEllipse(QRectF(10, (h - 6) / 2, 6, 6));
        canvas.fillPath(lamp, kit::withAlpha(kit::Palette::ash(), 0.25));
        label_.draw(canvas, QPointF(22, (h - label_.size().height()) / 2));
    }

private:
    kit::TextLine label_;
};

class LampStandIn final : public kit::FaceWidget {
public:
    LampStandIn(const kit::UiEnv& env, QWidget* parent)
        : FaceWidget(env, parent),
          label_(kit::silkText(QStringLiteral("zelvo-0"), 8, kit::withAlpha(kit::Palette::bone(), 0.8), 1.6))
    {
        resizeToDesign();
    }
    QSizeF designSize() const override
    {
        return QSizeF(7 + 6 + label_.size().width(), std::max(7.0, label_.size().height()));
    }
    void paintFace(kit::Canvas& canvas) override
    {
        const double h = designSize().height();
        QPainterPath lamp;
        lamp.addEllipse(QRectF(0, (h - 7) / 2, 7, 7));
        canvas.fillPath(lamp, kit::withAlpha(kit::Palette::ash(), 0.25));
        label_.draw(canvas, QPointF(13, (h - label_.size().height()) / 2));
    }

private:
    kit::TextLine label_;
};

} // namespace zelvo
