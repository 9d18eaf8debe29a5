#include "ui/stage/StatusBar.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "models/AudioSystem.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/SettingsPopover.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StatusBadges.h"
#include "ui/stage/TourSpots.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace zelvo {

using namespace kit;

namespace stage {

namespace {

constexpr double kReadoutSpacing = 14;

QFont wordmarkFont()
{
    return sansFont(19, true, -1.1);
}

QString wordmarkText()
{
    return QStringLiteral("kavri zelvo");
}

} // namespace

PlainKey::PlainKey(const QString& name, QWidget* parent) : QAbstractButton(parent)
{
    setObjectName(name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void PlainKey::setLabel(const QString& text, const QFont& font, const QColor& color)
{
    text_ = text;
    font_ = font;
    color_ = color;
    setText(text);
    updateGeometry();
    update();
}

void PlainKey::setSymbol(const QString& symbol, double size, const QColor& color)
{
    symbol_ = symbol;
    symbolSize_ = size;
    color_ = color;
    updateGeometry();
    update();
}

QSize PlainKey::sizeHint() const
{
    if (!symbol_.isEmpty()) {
        const int side = int(std::ceil(symbolSize_ + 8));
        return QSize(side, side);
    }
    const QFontMetricsF m(font_);
    return QSize(int(std::ceil(m.horizontalAdvance(text_))) + 2, int(std::ceil(m.height())));
}

void PlainKey::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    const QColor shown = isDown() ? withAlpha(color_, 0.6) : color_;
    if (!symbol_.isEmpty()) {
        const QRectF box((width() - symbolSize_) / 2, (height() - symbolSize_) / 2, symbolSize_, symbolSize_);
        paintSymbol(canvas, symbol_, box, shown);
        return;
    }
    canvas.drawText(QRectF(rect()), text_, font_, shown, Qt::AlignLeft | Qt::AlignVCenter);
}

StatusReadouts::StatusReadouts(AppModel& app, UiEnv env, QWidget* parent)
    : QWidget(parent), app_(app), timeline_(this, env.liveClock, 2)
{
    setObjectName(QStringLiteral("statusBar.readouts"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    // Without an output nothing here can move: the read-outs then ask for no frames.
    const auto follow = [this] {
        timeline_.setActive(app_.audio().io() != nullptr);
        update();
    };
    connect(&app_.audio(), &AudioSystem::ioChanged, this, follow);
    follow();
}

std::vector<StatusItem> StatusReadouts::items() const
{
    const std::shared_ptr<AudioIO>& io = app_.audio().io();
    if (!io)
        return statusItems(std::nullopt);
    const MixerState& state = *io->engine().state();
    OutputReading reading;
    reading.masterBpm = state.masterBPM.load();
    reading.deviceName = QString::fromStdString(io->device().name);
    reading.latency = io->latency();
    reading.dspLoad = state.dspLoad.load();
    return statusItems(reading);
}

QSize StatusReadouts::sizeHint() const
{
    double width = 0;
    double height = 0;
    for (const StatusItem& item : items()) {
        const QSizeF s = stageText(item.text, item.size, item.color).size();
        width += (width > 0 ? kReadoutSpacing : 0) + s.width();
        height = std::max(height, s.height());
    }
    return QSize(int(std::ceil(width)) + 2, int(std::ceil(height)));
}

void StatusReadouts::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    double x = 0;
    for (const StatusItem& item : items()) {
        const TextLine line = stageText(item.text, item.size, item.color);
        const QSizeF s = line.size();
        line.draw(canvas, QPointF(x, (height() - s.height()) / 2));
        x += s.width() + kReadoutSpacing;
    }
    // The texts change width as the numbers do: the bar makes room next turn.
    const int wanted = sizeHint().width();
    if (wanted != width_) {
        width_ = wanted;
        QMetaObject::invokeMethod(this, [this] { setFixedWidth(width_); }, Qt::QueuedConnection);
    }
}

StatusWordmark::StatusWordmark(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBar.wordmark"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize StatusWordmark::sizeHint() const
{
    const QFontMetricsF m(wordmarkFont());
    // Room for the double image on both sides.
    return QSize(int(std::ceil(m.horizontalAdvance(wordmarkText()) + 4)), int(std::ceil(m.height())));
}

void StatusWordmark::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    const QRectF box(2, 0, width() - 4, height());
    ghosts_.paint(canvas, box, 0.9, 0.6, 1, devicePixelRatioF(), [](QPainter& p, QSizeF size) {
        p.setFont(wordmarkFont());
        p.setPen(Stage::paper());
        p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignVCenter, wordmarkText());
    });
}

} // namespace stage

StatusBar::StatusBar(AppModel& model, UiEnv env, QWidget* parent) : QWidget(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("statusBar"));
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    // The window manager keeps its frame, so no room is left for window buttons.
    row->setContentsMargins(6, 0, 6, 0);
    row->setSpacing(16);

    row->addWidget(new stage::StatusWordmark(this), 0, Qt::AlignVCenter);
    badge_ = new ControllerBadge(model_, env_, this);
    tourSpot(badge_, TourSpot::controller);
    row->addWidget(badge_, 0, Qt::AlignVCenter);
    notice_ = new stage::PlainKey(QStringLiteral("statusBar.notice"), this);
    row->addWidget(notice_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    readouts_ = new stage::StatusReadouts(model_, env_, this);
    row->addWidget(readouts_, 0, Qt::AlignVCenter);
    browseKey_ = new stage::PlainKey(QStringLiteral("statusBar.browseKey"), this);
    browseKey_->setToolTip(QStringLiteral("browse the crate · tab · VIEW on the FLX10"));
    row->addWidget(browseKey_, 0, Qt::AlignVCenter);
    recordKey_ = new stage::PlainKey(QStringLiteral("statusBar.recordKey"), this);
    lamp_ = new BrainLamp(model_, env_, this);
    // The lamp's widget starts where its glow does: the row's spacing runs to the disc.
    auto* keyAndLamp = new QHBoxLayout;
    keyAndLamp->setSpacing(std::max(0, row->spacing() - int(std::lround(BrainLamp::kGlowLead))));
    keyAndLamp->addWidget(recordKey_, 0, Qt::AlignVCenter);
    keyAndLamp->addWidget(lamp_, 0, Qt::AlignVCenter);
    row->addLayout(keyAndLamp);
    settingsKey_ = new stage::PlainKey(QStringLiteral("statusBar.settingsKey"), this);
    settingsKey_->setSymbol(QStringLiteral("slider.horizontal.3"), 12, Stage::bone());
    row->addWidget(settingsKey_, 0, Qt::AlignVCenter);
    anchor_ = new SettingsAnchor(model_, env_, settingsKey_);

    connect(notice_, &QAbstractButton::clicked, this, &StatusBar::noticeClicked);
    connect(browseKey_, &QAbstractButton::clicked, this, [this] { model_.setBrowseOpen(!model_.browseOpen()); });
    connect(recordKey_, &QAbstractButton::clicked, this, [this] { model_.toggleRecording(); });
    connect(settingsKey_, &QAbstractButton::clicked, this,
            [this] { model_.setShowSettings(!model_.showSettings()); });
    connect(&model_.status(), &StatusLink::updateChanged, this, &StatusBar::refreshNotice);
    connect(&model_, &AppModel::browseOpenChanged, this, &StatusBar::refreshKeys);
    connect(&model_, &AppModel::engineLiveChanged, this, &StatusBar::refreshKeys);
    refreshNotice();
    refreshKeys();
}

void StatusBar::refreshNotice()
{
    const std::optional<stage::UpdateNotice> notice = stage::updateNotice(model_.status().update());
    notice_->setVisible(notice.has_value());
    if (!notice)
        return;
    const TextLine line = stageText(notice->label, 9, Stage::signal());
    notice_->setLabel(line.text, line.font, line.color);
    notice_->setToolTip(notice->help);
}

void StatusBar::refreshKeys()
{
    // Stage labels are drawn upper case.
    const stage::KeyFace browse = stage::browseKeyFace(model_.browseOpen());
    const TextLine browseLine = stageText(browse.text, 9, browse.color);
    browseKey_->setLabel(browseLine.text, browseLine.font, browseLine.color);
    const stage::KeyFace record = stage::recordKeyFace(model_.engineLive().recording);
    const TextLine recordLine = stageText(record.text, 9, record.color);
    recordKey_->setLabel(recordLine.text, recordLine.font, recordLine.color);
}

void StatusBar::noticeClicked()
{
    StatusLink& link = model_.status();
    switch (link.update().kind) {
    case StatusLink::Update::Kind::ready:
        // The state may have moved on since the notice was drawn: only a
        // staged update is swapped in before the program quits.
        model_.update().swapAfterExit(true);
        link.quit();
        break;
    case StatusLink::Update::Kind::manual:
        if (env_.desktop)
            env_.desktop->openUrl(link.updateDownload());
        break;
    case StatusLink::Update::Kind::idle: break;
    }
}

} // namespace zelvo
