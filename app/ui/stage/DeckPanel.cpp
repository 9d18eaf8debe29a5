#include "ui/stage/DeckPanel.h"

#include "state/AppModel.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/DeckPanelFaces.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/JogDisplay.h"
#include "ui/stage/PadMirror.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StagePresenters.h"
#include "ui/stage/StageSides.h"

#include <QBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace zelvo {

namespace stage {

namespace {

QPainterPath keyShape(const QRectF& r)
{
    QPainterPath path;
    path.addRoundedRect(r, 6, 6);
    return path;
}

// One line of text read from the models at paint time.
class TextView final : public QWidget {
public:
    using Read = std::function<std::pair<QString, QColor>()>;
    TextView(QFont font, QString widest, Read read, Qt::Alignment align, QWidget* parent)
        : QWidget(parent), font_(std::move(font)), widest_(std::move(widest)), read_(std::move(read)), align_(align)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font_);
        const QString probe = widest_.isEmpty() ? read_().first : widest_;
        return QSize(int(std::ceil(metrics.horizontalAdvance(probe))) + 2, int(std::ceil(metrics.height())));
    }
    QString text() const { return read_().first; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const auto [text, colour] = read_();
        QPainter painter(this);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font_);
        painter.setPen(colour);
        painter.drawText(QRectF(rect()), int(align_ | Qt::AlignVCenter) | Qt::TextSingleLine, text);
    }

private:
    QFont font_;
    QString widest_;
    Read read_;
    Qt::Alignment align_;
};

// The model's badge beside the title of its deck, with the red and cyan fringes.
class ModelBadge final : public QWidget {
public:
    explicit ModelBadge(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return QSize(int(std::ceil(metrics.horizontalAdvance(text()))) + 8 + 2, int(std::ceil(metrics.height())) + 2);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        kit::PainterCanvas canvas(painter);
        ghosts_.paint(canvas, QRectF(rect()).adjusted(1, 0, -1, 0), 1, 0.6, 1, devicePixelRatioF(),
                      [](QPainter& p, QSizeF size) {
                          const QRectF box(QPointF(0, 0), size);
                          QPainterPath path;
                          path.addRoundedRect(box, 3, 3);
                          p.fillPath(path, kit::Stage::bone());
                          p.setFont(ModelBadge::font());
                          p.setPen(kit::Stage::ink());
                          p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text());
                      });
    }

private:
    static QFont font() { return panelFont(9, QFont::Medium, true); }
    static QString text() { return QStringLiteral("zelvo-0"); }
    Ghosts ghosts_;
};

} // namespace

// ---- CueKey

CueKey::CueKey(DeckModel& deck, QWidget* parent) : QWidget(parent), deck_(deck)
{
    setObjectName(QStringLiteral("deckPanel.%1.cue").arg(deck.index()));
    setFixedSize(60, 26);
    connect(&deck_, &DeckModel::liveChanged, this, [this] { update(); });
}

CueKey::~CueKey()
{
    release();
}

void CueKey::paintEvent(QPaintEvent*)
{
    const DeckModel::Live& live = deck_.live();
    const bool lit = transportLamps(live.loaded, live.playing, live.cueing).cueLit;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.fillPath(keyShape(QRectF(rect())), lit ? kit::Stage::rbAmber() : kit::Stage::inkHigh());
    painter.setFont(panelFont(10, QFont::Medium, true));
    painter.setPen(lit ? kit::Stage::ink() : kit::Stage::bone());
    painter.drawText(QRectF(rect()), Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("cue"));
}

void CueKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    release();
    held_ = &deck_;
    if (!deck_.live().cueing)
        deck_.cue(true);
    event->accept();
}

void CueKey::mouseMoveEvent(QMouseEvent*)
{
    // Cue-down again until the deck's published state shows it cueing.
    if (held_ && !held_->live().cueing)
        held_->cue(true);
}

void CueKey::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        release();
}

void CueKey::hideEvent(QHideEvent* event)
{
    release();
    QWidget::hideEvent(event);
}

bool CueKey::event(QEvent* event)
{
    if (event->type() == QEvent::UngrabMouse)
        release();
    return QWidget::event(event);
}

void CueKey::release()
{
    if (!held_)
        return;
    const QPointer<DeckModel> deck = held_;
    held_ = nullptr;
    if (deck)
        deck->cue(false);
}

// ---- PlayKey

PlayKey::PlayKey(DeckModel& deck, QWidget* parent) : QWidget(parent), deck_(deck)
{
    setObjectName(QStringLiteral("deckPanel.%1.play").arg(deck.index()));
    setFixedSize(60, 26);
    connect(&deck_, &DeckModel::liveChanged, this, [this] { update(); });
}

void PlayKey::paintEvent(QPaintEvent*)
{
    const bool playing = deck_.live().playing;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(keyShape(QRectF(rect())), playing ? kit::Stage::rbGreen() : kit::Stage::inkHigh());
    kit::PainterCanvas canvas(painter);
    const QRectF symbol(QPointF(width() / 2.0 - 6, height() / 2.0 - 6), QSizeF(12, 12));
    paintSymbol(canvas, playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"), symbol,
                playing ? kit::Stage::ink() : kit::Stage::bone());
}

void PlayKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    down_ = true;
}

void PlayKey::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = down_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    down_ = false;
    if (click)
        deck_.playPause();
}

// ---- LoopReadout

LoopReadout::LoopReadout(DeckModel& deck, QWidget* parent) : QWidget(parent), deck_(deck)
{
    setObjectName(QStringLiteral("deckPanel.%1.loop").arg(deck.index()));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (auto signal : {&DeckModel::autoLoopBeatsChanged, &DeckModel::beatJumpBeatsChanged, &DeckModel::liveChanged})
        connect(&deck_, signal, this, [this] { update(); });
}

QString LoopReadout::beats(double beats)
{
    return loopBeatsText(beats);
}

QSize LoopReadout::sizeHint() const
{
    const QFontMetricsF value(panelFont(12, QFont::Bold, true));
    const QSizeF label = kit::stageText(QStringLiteral("loop"), 7, kit::Stage::ash()).size();
    const double cell = std::max(value.horizontalAdvance(QStringLiteral("1/32")), label.width());
    return QSize(int(std::ceil(2 * cell + 10)), int(std::ceil(label.height() + 1 + value.height())));
}

void LoopReadout::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    kit::PainterCanvas canvas(painter);
    const QFont valueFont = panelFont(12, QFont::Bold, true);
    const double cell = (width() - 10) / 2.0;
    const struct {
        QString label;
        QString value;
        QColor colour;
    } cells[2] = {
        {QStringLiteral("loop"), beats(deck_.autoLoopBeats()),
         deck_.live().loopActive ? kit::Stage::rbAmber() : kit::Stage::bone()},
        {QStringLiteral("jump"), beats(deck_.beatJumpBeats()), kit::Stage::bone()},
    };
    for (int i = 0; i < 2; ++i) {
        const double x = i * (cell + 10);
        const kit::TextLine label = kit::stageText(cells[i].label, 7, kit::Stage::ash());
        label.draw(canvas, QPointF(x + (cell - label.size().width()) / 2, 0));
        const double y = label.size().height() + 1;
        canvas.drawText(QRectF(x, y, cell, height() - y), cells[i].value, valueFont, cells[i].colour,
                        Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine);
    }
}

} // namespace stage

// ---- DeckPanel

DeckPanel::DeckPanel(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent, stage::StageSides* sides)
    : QWidget(parent), model_(model), deck_(deck), env_(env), sides_(sides)
{
    using namespace stage;
    namespace Stage = kit::Stage;
    const int index = deck.index();
    const QString name = QStringLiteral("deckPanel.%1").arg(index);
    setObjectName(name);
    setMinimumHeight(300);
    // The panel takes the height of the row it stands in (beside a taller
    // mixer card too); its columns keep their content at the top.
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ChannelModel& channel = model.mixer().channel(index);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSizeConstraint(QLayout::SetNoConstraint);
    row->setSpacing(12);

    // Column 1: the jog, cue and play, the loop read-out.
    auto* first = new QVBoxLayout;
    first->setSpacing(8);
    jog_ = new JogDisplay(model, deck, env, this);
    first->addWidget(jog_, 0, Qt::AlignHCenter);
    auto* transport = new QHBoxLayout;
    transport->setSpacing(8);
    transport->addWidget(new CueKey(deck, this));
    transport->addWidget(new PlayKey(deck, this));
    first->addLayout(transport);
    first->addStretch(1);
    first->addWidget(new LoopReadout(deck, this), 0, Qt::AlignHCenter);
    row->addLayout(first);

    // Column 2: the header's two rows, then the pads.
    auto* second = new QVBoxLayout;
    second->setSpacing(8);
    auto* header = new QVBoxLayout;
    header->setSpacing(5);
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    auto* title = new TextView(panelFont(12, QFont::Black, false), {},
                               [index] { return std::pair(QStringLiteral("deck %1").arg(index + 1), Stage::paper()); },
                               Qt::AlignLeft, this);
    title->setObjectName(name + QStringLiteral(".title"));
    top->addWidget(title);
    if (deck.isAI()) {
        auto* badge = new ModelBadge(this);
        badge->setObjectName(name + QStringLiteral(".badge"));
        top->addWidget(badge);
    }
    top->addStretch(1);
    sync_ = new kit::LiveKey(env, QStringLiteral("sync"), channel.sync(), Stage::rbBlue(), 42, 18,
                             [&channel] { channel.setSync(!channel.sync()); }, this);
    sync_->setObjectName(name + QStringLiteral(".sync"));
    master_ = new kit::LiveKey(env, QStringLiteral("master"), false, Stage::rbAmber(), 50, 18,
                               [this] {
                                   // Only the engine decides who is master; the lamp follows its report.
                                   if (const auto params = model_.mixer().params())
                                       params->masterRequest.store(deck_.index());
                               },
                               this);
    master_->setObjectName(name + QStringLiteral(".master"));
    top->addWidget(sync_);
    top->addWidget(master_);
    header->addLayout(top);

    auto* modes = new QHBoxLayout;
    modes->setSpacing(6);
    quantize_ = new kit::LiveKey(env, QStringLiteral("q"), deck.quantize(), Stage::rbRed(), 22, 16,
                                 [this] { deck_.setQuantize(!deck_.quantize()); }, this);
    slip_ = new kit::LiveKey(env, QStringLiteral("slip"), deck.slip(), Stage::rbBlue(), 34, 16,
                             [this] { deck_.setSlip(!deck_.slip()); }, this);
    lock_ = new kit::LiveKey(env, QStringLiteral("lock"), deck.keyLock(), Stage::rbAmber(), 36, 16,
                             [this] { deck_.setKeyLock(!deck_.keyLock()); }, this);
    range_ = new kit::LiveKey(env, tempoRangeKey(deck.tempoRange()), false, Stage::rbAmber(), 40, 16,
                              [this] { deck_.cycleTempoRange(); }, this);
    quantize_->setObjectName(name + QStringLiteral(".quantize"));
    slip_->setObjectName(name + QStringLiteral(".slip"));
    lock_->setObjectName(name + QStringLiteral(".lock"));
    range_->setObjectName(name + QStringLiteral(".range"));
    for (QWidget* key : {static_cast<QWidget*>(quantize_), static_cast<QWidget*>(slip_),
                         static_cast<QWidget*>(lock_), static_cast<QWidget*>(range_)})
        modes->addWidget(key);
    modes->addStretch(1);
    auto* percent = new TextView(panelFont(11, QFont::DemiBold, true), QStringLiteral("-100.00%"),
                                 [this] {
                                     return std::pair(tempoPercentText(deck_.tempoRatio()),
                                                      deck_.tempoFader() != 0 ? Stage::bone() : Stage::ash());
                                 },
                                 Qt::AlignRight, this);
    percent->setObjectName(name + QStringLiteral(".percent"));
    modes->addWidget(percent);
    header->addLayout(modes);
    second->addLayout(header);
    pads_ = new PadMirror(model, deck, sides, env, this);
    second->addWidget(pads_, 1);
    row->addLayout(second, 1);

    // Column 3: the tempo fader.
    auto* third = new QVBoxLayout;
    third->setSpacing(4);
    third->addWidget(new kit::StageLabel(env, QStringLiteral("tempo"), 7, Stage::ash(), this), 0, Qt::AlignHCenter);
    auto* fader = new kit::LiveFader(
        env, kit::Binding<double>{[this] { return deck_.tempoFader(); }, [this](double v) { deck_.setTempoFader(v); }},
        kit::Range{-1, 1}, 150, true, true, 0, this);
    fader->setObjectName(name + QStringLiteral(".tempoFader"));
    fader->repaintOn(&deck_, &DeckModel::tempoFaderChanged);
    third->addWidget(fader, 0, Qt::AlignHCenter);
    auto* rangeLabel = new TextView(panelFont(8, QFont::Medium, true), QStringLiteral("WIDE"),
                                    [this] { return std::pair(tempoRangeKey(deck_.tempoRange()), Stage::ash()); },
                                    Qt::AlignHCenter, this);
    rangeLabel->setObjectName(name + QStringLiteral(".rangeLabel"));
    third->addWidget(rangeLabel, 0, Qt::AlignHCenter);
    third->addStretch(1);
    row->addLayout(third);

    const auto lamps = [this] { refreshLamps(); };
    for (auto signal : {&DeckModel::quantizeChanged, &DeckModel::slipChanged, &DeckModel::keyLockChanged,
                        &DeckModel::tempoRangeChanged})
        connect(&deck_, signal, this, lamps);
    connect(&channel, &ChannelModel::syncChanged, this, lamps);
    connect(&model_, &AppModel::engineLiveChanged, this, lamps);
    connect(&deck_, &DeckModel::tempoFaderChanged, percent, [percent] { percent->update(); });
    connect(&deck_, &DeckModel::tempoRangeChanged, percent, [percent] { percent->update(); });
    connect(&deck_, &DeckModel::tempoRangeChanged, rangeLabel, [rangeLabel] { rangeLabel->update(); });
    if (sides) {
        for (auto signal : {&StageSides::sidesChanged, &StageSides::connectedChanged})
            connect(sides, signal, this, [this] { update(); });
        connect(sides, &StageSides::touched, this, [this](int touched) {
            if (touched == deck_.index())
                followTouch();
        });
    }
    refreshLamps();

    kit::AudioDrop::attach(
        this, env,
        [this](const QList<QUrl>& adapters) {
            QStringList paths;
            for (const QUrl& url : adapters)
                paths.append(url.toLocalFile());
            if (!paths.isEmpty())
                model_.installAdapters(paths);
        },
        [this](const QList<QUrl>& urls) { return dropUrls(urls); });
}

DeckPanel::~DeckPanel()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

void DeckPanel::refreshLamps()
{
    sync_->setLit(model_.mixer().channel(deck_.index()).sync());
    master_->setLit(model_.engineLive().masterDeck == deck_.index());
    quantize_->setLit(deck_.quantize());
    slip_->setLit(deck_.slip());
    lock_->setLit(deck_.keyLock());
    range_->setLabel(tempoRangeKey(deck_.tempoRange()));
}

bool DeckPanel::targeted() const
{
    if (!sides_ || !sides_->connected())
        return true;
    return stage::isTargeted(deck_.index(), sides_->leftDeck(), sides_->rightDeck());
}

bool DeckPanel::dropUrls(const QList<QUrl>& urls)
{
    const std::vector<TrackRecord> added = stage::importAdded(model_.library(), urls);
    if (added.empty())
        return false;
    // The load is the deck's own: it lands even when the panel goes first.
    deck_.load(added.front());
    return true;
}

double DeckPanel::glow() const
{
    if (!env_.scheduler || !sides_)
        return 0;
    return stage::touchGlow(env_.scheduler->uptime() - sides_->touchedAt(deck_.index()));
}

void DeckPanel::followTouch()
{
    update();
    if (!env_.liveClock || !env_.scheduler || env_.snapshotMode || tick_)
        return;
    // Redraw at 30 frames a second until the glow has gone, then stand still.
    tick_ = env_.liveClock->subscribe(30, [this](double) {
        update();
        if (!sides_ || env_.scheduler->uptime() - sides_->touchedAt(deck_.index()) >= 0.7) {
            env_.liveClock->unsubscribe(tick_);
            tick_ = 0;
        }
    });
}

void DeckPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    stage::paintTouchGlow(canvas, QRectF(rect()), glow(), targeted());
}

} // namespace zelvo
