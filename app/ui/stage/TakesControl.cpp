#include "ui/stage/TakesControl.h"

#include "state/AppModel.h"
#include "generation/OutpaintModel.h"
#include "models/DeckModel.h"
#include "ui/kit/KitFonts.h"
#include "platform/Scheduler.h"
#include "ui/kit/Palette.h"
#include "ui/stage/MachinePresenters.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/TextLineView.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>

namespace zelvo::stage {
namespace {

QFont chainFont()
{
    return kit::monoFont(9.5);
}

// The chain's dot and text; a press on the text lifts a snooze and the back-off.
class ChainStatus final : public QWidget {
public:
    ChainStatus(std::function<void()> tap, QWidget* parent) : QWidget(parent), tap_(std::move(tap))
    {
        setObjectName(QStringLiteral("takes.chain"));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    void set(const QString& text, bool snoozed)
    {
        if (text == text_ && snoozed == snoozed_)
            return;
        if (text != text_) {
            text_ = text;
            updateGeometry();
        }
        snoozed_ = snoozed;
        update();
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(chainFont());
        return {int(std::ceil(textLeft() + metrics.horizontalAdvance(text_))) + 1,
                int(std::ceil(std::max(metrics.height(), 12.0)))};
    }
    QRectF textRect() const { return QRectF(textLeft(), 0, width() - textLeft(), height()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        kit::PainterCanvas canvas(painter);
        QPainterPath dot;
        dot.addEllipse(QRectF(0, height() / 2.0 - 3, 6, 6));
        canvas.fillPath(dot, snoozed_ ? kit::Stage::ashDim() : kit::Stage::rbAmber());
        canvas.drawText(textRect(), text_, chainFont(), kit::Stage::bone(),
                        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && textRect().contains(event->position())) {
            event->accept();
            tap_();
            return;
        }
        QWidget::mousePressEvent(event);
    }

private:
    static double textLeft() { return 6 + 6; }
    std::function<void()> tap_;
    QString text_;
    bool snoozed_ = false;
};

} // namespace

TakesFace takesFace(const AppModel& model, const OutpaintModel* outpaint)
{
    const WorkflowLink& workflow = model.outpaint();
    std::optional<double> countdown;
    int count = 0;
    std::optional<int> index;
    if (outpaint) {
        countdown = outpaint->chainCountdown();
        count = int(outpaint->takes().size());
        index = outpaint->takeIndex();
    }
    TakesFace face;
    face.snoozed = workflow.chainSnooze().has_value();
    face.chain = chainText(countdown, workflow.rendering(), face.snoozed);
    face.counter = takeCounter(index, count);
    face.hasTakes = count > 0;
    face.canReroll = canReroll(model.deck(1).track(), workflow.phase());
    return face;
}

TakesControl::TakesControl(AppModel& model, OutpaintModel* outpaint, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(model), outpaint_(outpaint), env_(env)
{
    setObjectName(QStringLiteral("takes"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    AppModel* app = &model_;
    chain_ = new ChainStatus([this, app] {
        app->performance().resumeChain();
        refresh();
    }, this);
    row->addWidget(chain_, 0, Qt::AlignVCenter);
    auto* previous = new StageKey(env_, QStringLiteral("chevron.left"), std::nullopt, false,
                                  QStringLiteral("previous take"), [app] { app->performance().stepTake(-1); }, this);
    previous->setObjectName(QStringLiteral("takes.previous"));
    row->addWidget(previous, 0, Qt::AlignVCenter);
    QFont counterFont = kit::monoFont(11);
    counterFont.setBold(true);
    counter_ = new TextLineView(counterFont, false, this);
    counter_->setObjectName(QStringLiteral("takes.counter"));
    row->addWidget(counter_, 0, Qt::AlignVCenter);
    auto* next = new StageKey(env_, QStringLiteral("chevron.right"), std::nullopt, false, QStringLiteral("next take"),
                              [app] { app->performance().stepTake(1); }, this);
    next->setObjectName(QStringLiteral("takes.next"));
    row->addWidget(next, 0, Qt::AlignVCenter);
    reroll_ = new StageKey(env_, QStringLiteral("dice"), QStringLiteral("re-roll"), false,
                           QStringLiteral("same spot, new seed"), [app] { app->performance().reroll(); }, this);
    reroll_->setObjectName(QStringLiteral("takes.reroll"));
    row->addWidget(reroll_, 0, Qt::AlignVCenter);

    const auto again = [this] { refresh(); };
    if (outpaint_) {
        connect(outpaint_, &OutpaintModel::phaseChanged, this, again);
        connect(outpaint_, &OutpaintModel::chainSnoozeChanged, this, again);
        connect(outpaint_, &OutpaintModel::chainHoldUntilChanged, this, again);
    }
    connect(&model_.deck(1), &DeckModel::trackChanged, this, again);
    connect(&model_.library(), &LibraryStore::tracksChanged, this, again);
    // Once a second on the state root's tick, so countdowns and the sentence
    // move on; an unchanged reading repaints nothing.
    connect(&model_, &AppModel::ticked, this, [this] {
        const double now = env_.scheduler ? env_.scheduler->uptime() : 0.0;
        if (now - lastRead_ >= 0.999 || now < lastRead_)
            refresh();
    });
    face_.chain = QStringLiteral("-"); // differs from every real face, so the first refresh applies
    refresh();
}

TakesControl::~TakesControl() = default;

void TakesControl::refresh()
{
    lastRead_ = env_.scheduler ? env_.scheduler->uptime() : 0.0;
    const TakesFace face = takesFace(model_, outpaint_);
    if (face == face_)
        return;
    face_ = face;
    static_cast<ChainStatus*>(chain_)->set(face.chain, face.snoozed);
    counter_->setLine(face.counter, face.hasTakes ? kit::Stage::paper() : kit::Stage::ash());
    reroll_->setEnabled(face.canReroll);
}

} // namespace zelvo::stage
