#include "ui/stage/RootView.h"

#include "App/AppModel.h"
#include "audio/AudioIO.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "ui/instrument/Instrument.h"

#include <QPainter>
#include <QStackedLayout>

namespace zelvo {
namespace {

const QColor kBackground(3, 3, 4);
const QColor kText(226, 222, 210);

// The status board; draws what RootView::lines gives.
class Board final : public QWidget {
public:
    Board(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) { setObjectName(QStringLiteral("stage")); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kBackground);
        painter.setPen(kText);
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(18);
        painter.setFont(font);
        int y = 48;
        for (const QString& line : RootView::lines(model_)) {
            painter.drawText(QPoint(48, y), line);
            y += 30;
        }
    }

private:
    AppModel& model_;
};

} // namespace

RootView::RootView(AppModel& model, kit::UiEnv env, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName(QStringLiteral("root"));
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stage_ = new Board(model_, this);
    instrument_ = new Instrument(model_, env, this);
    stack_->addWidget(stage_);
    stack_->addWidget(instrument_);
    showScreen();

    const auto redraw = [this] { stage_->update(); };
    connect(&model_, &AppModel::classicFaceplateChanged, this, &RootView::showScreen);
    connect(&model_.audio(), &AudioSystem::ioChanged, this, redraw);
    connect(&model_.audio(), &AudioSystem::errorTextChanged, this, redraw);
    for (int i = 0; i < AppModel::kDecks; ++i) {
        connect(&model_.deck(i), &DeckModel::trackChanged, this, redraw);
        connect(&model_.deck(i), &DeckModel::liveChanged, this, redraw);
    }
}

QStringList RootView::lines(const AppModel& model)
{
    QStringList lines;
    const AudioSystem& audio = model.audio();
    if (audio.errorText())
        lines.append(QStringLiteral("AUDIO  ") + *audio.errorText());
    else if (audio.io())
        lines.append(QStringLiteral("OUTPUT  ") + QString::fromStdString(audio.io()->device().name));
    else
        lines.append(QStringLiteral("OUTPUT  \u2014"));
    for (int i = 0; i < AppModel::kDecks; ++i) {
        const DeckModel& deck = model.deck(i);
        lines.append(QStringLiteral("DECK %1  %2  %3")
                         .arg(i + 1)
                         .arg(deck.track() ? deck.track()->title : QStringLiteral("\u2014"))
                         .arg(deck.live().playing ? QStringLiteral("PLAYING") : QStringLiteral("STOPPED")));
    }
    lines.append(QStringLiteral("MODEL KEY  ") + model.aiStepTitle());
    return lines;
}

void RootView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), kBackground);
}

void RootView::showScreen()
{
    stack_->setCurrentWidget(model_.classicFaceplate() ? static_cast<QWidget*>(instrument_) : stage_);
}

} // namespace zelvo
