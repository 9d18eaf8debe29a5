#include "ui/stage/DJMCard.h"

#include "state/AppModel.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/MeterTimeline.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/Meter.h"
#include "ui/stage/MixerPresenters.h"
#include "ui/stage/StageKeys.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace zelvo {

namespace {

constexpr double kColumnWidth = 120;
constexpr double kColumnSpacing = 18;
constexpr double kBadgeHeight = 18;
constexpr double kMeterHeight = 70;

QFont routeFont() { return kit::monoFont(9); }
double lineHeight(const QFont& font) { return std::ceil(QFontMetricsF(font).height()); }

// Decks 1 and 2: badge, source, level meter and route.
class DJMRoutes final : public kit::FaceWidget {
public:
    DJMRoutes(AppModel& model, const kit::UiEnv& env, QWidget* parent)
        : FaceWidget(env, parent), model_(model),
          timeline_(this, env.liveClock, 20, [this] { return model_.anyDeckPlaying(); },
                    [this] { return lit(); })
    {
        setObjectName(QStringLiteral("djm.routes"));
        repaintOn(&model_.audio(), &AudioSystem::rigRoutesChanged);
        repaintOn(&model_.audio(), &AudioSystem::ioChanged);
        for (int deck = 0; deck < AppModel::kDecks; ++deck)
            connect(&model_.deck(deck), &DeckModel::liveChanged, &timeline_, &kit::MeterTimeline::follow);
        resizeToDesign();
    }

    QSizeF designSize() const override
    {
        return QSizeF(2 * kColumnWidth + kColumnSpacing, kBadgeHeight + 6 + kMeterHeight + 6 + lineHeight(routeFont()));
    }

    void paintFace(kit::Canvas& canvas) override
    {
        for (int deck = 0; deck < 2; ++deck) {
            canvas.save();
            canvas.translate(QPointF(deck * (kColumnWidth + kColumnSpacing), 0));
            paintColumn(canvas, deck);
            canvas.restore();
        }
    }

private:
    // Whether either deck's meter shows anything now.
    bool lit() const
    {
        for (int deck = 0; deck < 2; ++deck)
            if (stage::meterFace(stage::channelPeak(model_.audio(), deck)).fill > 0)
                return true;
        return false;
    }

    void paintColumn(kit::Canvas& canvas, int deck)
    {
        const QRectF badge(0, 0, 20, kBadgeHeight);
        const auto drawBadge = [deck](QPainter& p, QSizeF size) {
            QPainterPath path;
            path.addRoundedRect(QRectF(QPointF(0, 0), size), 4, 4);
            p.fillPath(path, kit::Stage::paper());
            p.setFont(kit::sansFont(13, true));
            p.setPen(kit::Stage::ink());
            p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, QString::number(deck + 1));
        };
        const double offset = stage::deckGhostOffset(deck);
        if (offset > 0) {
            ghosts_.paint(canvas, badge, offset, 0.6, 1, devicePixelRatioF(), drawBadge);
        } else {
            QPainterPath path;
            path.addRoundedRect(badge, 4, 4);
            canvas.fillPath(path, kit::Stage::paper());
            canvas.drawText(badge, QString::number(deck + 1), kit::sansFont(13, true), kit::Stage::ink(),
                            Qt::AlignCenter);
        }
        const kit::TextLine source = kit::stageText(stage::djmSource(deck), 8.5, kit::Stage::bone());
        const double sourceWidth = kColumnWidth - badge.width() - 6;
        canvas.drawText(QRectF(badge.right() + 6, 0, sourceWidth, kBadgeHeight), source.text, source.font, source.color,
                        Qt::AlignLeft | Qt::AlignVCenter);

        canvas.save();
        canvas.translate(QPointF(0, kBadgeHeight + 6));
        stage::paintMeter(canvas, QSizeF(6, kMeterHeight), stage::channelPeak(model_.audio(), deck));
        canvas.restore();

        const QFont font = routeFont();
        const QString route = QFontMetricsF(font).elidedText(stage::djmRoute(model_.audio().rigRoutes(), deck),
                                                             Qt::ElideRight, kColumnWidth);
        canvas.drawText(QRectF(0, kBadgeHeight + 6 + kMeterHeight + 6, kColumnWidth, lineHeight(font)), route, font,
                        kit::Stage::ash(), Qt::AlignLeft | Qt::AlignVCenter);
    }

    AppModel& model_;
    kit::MeterTimeline timeline_;
    stage::Ghosts ghosts_;
};

// The two-line note, at its ideal size.
class DJMNote final : public kit::FaceWidget {
public:
    DJMNote(const kit::UiEnv& env, QWidget* parent) : FaceWidget(env, parent)
    {
        setObjectName(QStringLiteral("djm.note"));
        resizeToDesign();
    }
    static QStringList lines()
    {
        return {QStringLiteral("eq, faders and the crossfader are the mixer's."), QStringLiteral("fork hears both decks.")};
    }
    QSizeF designSize() const override
    {
        double width = 0;
        for (const QString& line : lines())
            width = std::max(width, std::ceil(kit::textWidth(routeFont(), line)) + 2);
        return QSizeF(width, 2 * lineHeight(routeFont()));
    }
    void paintFace(kit::Canvas& canvas) override
    {
        const double h = lineHeight(routeFont());
        const QStringList text = lines();
        for (int i = 0; i < text.size(); ++i)
            canvas.drawText(QRectF(0, i * h, designSize().width(), h), text[i], routeFont(), kit::Stage::ash(),
                            Qt::AlignLeft | Qt::AlignVCenter);
    }
};

} // namespace

DJMCard::DJMCard(AppModel& model, kit::UiEnv env, QWidget* parent)
    : StageCard(QStringLiteral("direct outs"), QStringLiteral("djmCard"), parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);
    auto* title = new kit::StageLabel(env, QStringLiteral("mixing on your djm"), 9,
                                      kit::withAlpha(kit::Stage::bone(), 0.8), this);
    title->setObjectName(QStringLiteral("djm.title"));
    column->addWidget(title, 0, Qt::AlignLeft);
    column->addWidget(new DJMRoutes(model, env, this), 0, Qt::AlignLeft);
    column->addWidget(new DJMNote(env, this), 0, Qt::AlignLeft);
    setFixedWidth(300);
    setFixedHeight(column->sizeHint().height());
}

void DJMCard::paintEvent(QPaintEvent*)
{
    ++paints_;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    stage::paintStagePanel(canvas, QRectF(rect()), false);
}

} // namespace zelvo
