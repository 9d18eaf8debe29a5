#include "ui/instrument/Instrument.h"

#include "App/AppModel.h"
#include "models/DeckModel.h"

#include <QPainter>

namespace zelvo {

Instrument::Instrument(AppModel& model, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("instrument"));
    for (int i = 0; i < AppModel::kDecks; ++i) {
        connect(&model_.deck(i), &DeckModel::trackChanged, this, qOverload<>(&QWidget::update));
        connect(&model_.deck(i), &DeckModel::liveChanged, this, qOverload<>(&QWidget::update));
    }
}

void Instrument::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(3, 3, 4));
    // Drawn in design points: the panel spans the width at the faceplate's scale.
    const double scale = env_.snapshotMode ? env_.scale() : kit::faceScaleForWindow(size());
    if (!(scale > 0.0))
        return;
    painter.scale(scale, scale);
    const double width = this->width() / scale;
    const double panel = (width - 50.0) / 2.0;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(22);
    painter.setFont(font);
    for (int i = 0; i < 2; ++i) {
        const QRectF box(20.0 + i * (panel + 10.0), 20.0, panel, 300.0);
        painter.fillRect(box, QColor(24, 24, 28));
        painter.setPen(QColor(226, 222, 210));
        const DeckModel& deck = model_.deck(i);
        painter.drawText(box.adjusted(20, 20, -20, -20), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("DECK %1\n%2\n%3")
                             .arg(i + 1)
                             .arg(deck.track() ? deck.track()->title : QStringLiteral("\u2014"))
                             .arg(deck.live().playing ? QStringLiteral("PLAYING") : QStringLiteral("STOPPED")));
    }
}

} // namespace zelvo
