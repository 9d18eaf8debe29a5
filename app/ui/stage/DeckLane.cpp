#include "ui/stage/DeckLane.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"
#include "library/LibraryStore.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/StageSides.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace zelvo::stage {
namespace {

constexpr double kHeaderWidth = 330;
constexpr double kChipGap = 4;
const QColor kPartColours[3] = {QColor(79, 141, 255), QColor(79, 211, 138), QColor(255, 90, 82)};
const char* const kPartLetters[3] = {"d", "v", "i"};

QFont stageFont(double size, QFont::Weight weight, bool mono)
{
    QFont font(mono ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, int(std::lround(size))));
    font.setWeight(weight);
    return font;
}

void drawLine(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
              Qt::Alignment align)
{
    painter.setFont(font);
    painter.setPen(color);
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    painter.drawText(rect, int(align | Qt::AlignVCenter) | Qt::TextSingleLine, shown);
}

double textWidth(const QFont& font, const QString& text)
{
    return QFontMetricsF(font).horizontalAdvance(text);
}

// The part letters' face.
QFont partFont()
{
    return stageFont(8.5, QFont::Medium, true);
}

} // namespace

std::vector<TrackRecord> importAdded(LibraryStore& library, const QList<QUrl>& urls)
{
    QSet<QUuid> known;
    for (const TrackRecord& record : library.tracks())
        known.insert(record.id);
    QStringList paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    std::vector<TrackRecord> added;
    if (paths.isEmpty())
        return added;
    for (TrackRecord& record : library.importItems(paths))
        if (!known.contains(record.id))
            added.push_back(std::move(record));
    return added;
}

double liveTempoRatio(const AppModel& model, const DeckModel& deck)
{
    if (const std::shared_ptr<AudioIO>& io = model.audio().io()) {
        const auto& tempi = io->engine().state()->effectiveTempo;
        if (deck.index() >= 0 && std::size_t(deck.index()) < tempi.size())
            return tempi[std::size_t(deck.index())].load();
    }
    return deck.tempoRatio();
}

HeaderInputs headerInputs(const AppModel& model, const DeckModel& deck, const StageSides& sides)
{
    HeaderInputs in;
    in.deck = deck.index();
    in.isAI = deck.isAI();
    in.hasTrack = deck.track().has_value();
    in.loading = deck.loading();
    if (deck.track()) {
        in.title = deck.track()->title;
        in.artist = deck.track()->artist;
        in.gridBpm = deck.track()->grid ? deck.track()->grid->bpm : 0;
        in.key = deck.track()->key;
    }
    in.error = deck.error();
    if (const auto voice = deck.voice()) {
        in.position = voice->state().position.load();
        in.duration = voice->state().duration.load();
    }
    in.musicEnd = deck.musicEnd();
    in.playing = deck.live().playing;
    in.tempoRatio = liveTempoRatio(model, deck);
    in.keyShift = deck.keyShift();
    if (deck.isAI())
        in.aiBuffer = model.aiBuffer();
    in.master = model.engineLive().masterDeck == deck.index();
    in.sync = model.mixer().channel(deck.index()).sync();
    in.loop = deck.live().loopActive;
    in.slip = deck.slip();
    in.targeted = isTargeted(deck.index(), sides.leftDeck(), sides.rightDeck());
    return in;
}

LaneHeader::LaneHeader(AppModel& model, DeckModel& deck, StageSides& sides, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(model), deck_(deck), sides_(sides), env_(env)
{
    setObjectName(QStringLiteral("laneHeader.%1").arg(deck.index()));
    setFixedWidth(int(kHeaderWidth));
    const auto redraw = [this] { update(); };
    for (auto signal : {&DeckModel::trackChanged, &DeckModel::loadingChanged, &DeckModel::errorChanged,
                        &DeckModel::musicEndChanged, &DeckModel::tempoFaderChanged, &DeckModel::tempoRangeChanged,
                        &DeckModel::keyShiftChanged, &DeckModel::slipChanged, &DeckModel::voiceChanged})
        connect(&deck_, signal, this, redraw);
    connect(&deck_, &DeckModel::liveChanged, this, [this] {
        followPlaying();
        update();
    });
    const ChannelModel& channel = model_.mixer().channel(deck.index());
    connect(&channel, &ChannelModel::syncChanged, this, redraw);
    connect(&channel, &ChannelModel::partsOffChanged, this, redraw);
    connect(&model_, &AppModel::engineLiveChanged, this, redraw);
    connect(&sides_, &StageSides::sidesChanged, this, redraw);
    strip_ = new OverviewStrip(deck_, env_, this);
    // The header's 12 redraws a second while playing carry the strip along.
    strip_->setCarried(true);
    placeStrip();
    if (deck.isAI()) {
        connect(&model_.deck(1), &DeckModel::trackChanged, this, redraw);
        connect(&model_.deck(1), &DeckModel::liveChanged, this, redraw);
    }
    followPlaying();
}

LaneHeader::~LaneHeader()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

void LaneHeader::followPlaying()
{
    if (!env_.liveClock || env_.snapshotMode)
        return;
    const bool playing = deck_.live().playing;
    if (playing && !tick_)
        tick_ = env_.liveClock->subscribe(12, [this](double) { update(); });
    else if (!playing && tick_) {
        env_.liveClock->unsubscribe(tick_);
        tick_ = 0;
    }
}

void LaneHeader::setTall(bool tall)
{
    if (tall_ == tall)
        return;
    tall_ = tall;
    placeStrip();
    update();
}

void LaneHeader::placeStrip()
{
    strip_->setGeometry(stripRect().toRect());
    strip_->setVisible(tall_);
}

QRectF LaneHeader::stripRect() const
{
    const HeaderRows rows = headerRows(height(), true);
    return QRectF(12, rows.strip, width() - 24, rows.stripHeight);
}

HeaderRow3 LaneHeader::row3() const
{
    // The phrase frame is there only while the deck plays on a usable grid;
    // without it the dots move up to the beat boxes and the chips get its room.
    const bool phrase = deck_.live().playing && usableGrid(deck_.grid());
    return headerRow3(width(), phrase, textWidth(partFont(), QStringLiteral("d")));
}

QRectF LaneHeader::partRect(int part) const
{
    const HeaderRows rows = headerRows(height(), true);
    const HeaderRow3 row = row3();
    return QRectF(row.part[std::size_t(std::clamp(part, 0, 2))], rows.row3, row.partWidth, rows.row3Height);
}

std::vector<QRectF> LaneHeader::chipRects(const std::vector<ChipFace>& chips) const
{
    // The chips get the row right of the dots; those that do not fit there
    // drop out whole, the last in order first, never drawn over the dots.
    const HeaderRows rows = headerRows(height(), true);
    const HeaderRow3 row = row3();
    const double left = row.chipsLeft, right = row.chipsRight;
    std::vector<QSizeF> sizes;
    std::vector<double> widths;
    for (const ChipFace& chip : chips) {
        sizes.push_back(chipSize(chip.text));
        widths.push_back(sizes.back().width());
    }
    const int shown = chipsThatFit(widths, right - left, kChipGap);
    std::vector<QRectF> rects(static_cast<std::size_t>(shown));
    double x = right;
    for (int i = shown - 1; i >= 0; --i) {
        const QSizeF size = sizes[std::size_t(i)];
        rects[std::size_t(i)] = QRectF(x - size.width(), rows.row3 + (rows.row3Height - size.height()) / 2,
                                       size.width(), size.height());
        x -= size.width() + kChipGap;
    }
    return rects;
}

std::vector<QRectF> LaneHeader::chipRects() const
{
    if (!tall_)
        return {};
    return chipRects(headerFace(headerInputs(model_, deck_, sides_)).chips);
}

void LaneHeader::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeStrip();
}

void LaneHeader::mousePressEvent(QMouseEvent* event)
{
    if (!tall_ || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    for (int part = 0; part < 3; ++part) {
        if (partRect(part).contains(event->position())) {
            model_.mixer().channel(deck_.index()).togglePart(part);
            event->accept();
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void LaneHeader::paintEvent(QPaintEvent*)
{
    ++paints_;
    const HeaderInputs in = headerInputs(model_, deck_, sides_);
    const HeaderFace face = headerFace(in);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const double left = 12, right = width() - 12;
    const HeaderRows rows = headerRows(height(), tall_);
    double y = rows.row1;

    // Row 1: badge, model tag, title, clock.
    const double row1 = rows.row1Height;
    QPainterPath badge;
    const QRectF badgeRect(left, y + (row1 - 18) / 2, 20, 18);
    badge.addRoundedRect(badgeRect, 4, 4);
    painter.fillPath(badge, face.badgeFill);
    drawLine(painter, badgeRect, face.badge, stageFont(12, QFont::Black, false), kit::Stage::ink(), Qt::AlignHCenter);
    double x = badgeRect.right() + 8;
    if (face.modelTag) {
        const QFont tagFont = stageFont(9, QFont::Medium, true);
        const QString tag = QStringLiteral("zelvo-0");
        const QRectF tagRect(x, y + (row1 - 14) / 2, textWidth(tagFont, tag) + 8, 14);
        kit::PainterCanvas canvas(painter);
        tagGhosts_.paint(canvas, tagRect, 1, 0.6, 1, devicePixelRatioF(), [&](QPainter& p, QSizeF size) {
            QPainterPath tagPath;
            tagPath.addRoundedRect(QRectF(QPointF(0, 0), size), 3, 3);
            p.fillPath(tagPath, kit::Stage::bone());
            drawLine(p, QRectF(QPointF(0, 0), size), tag, tagFont, kit::Stage::ink(), Qt::AlignHCenter);
        });
        x = tagRect.right() + 8;
    }
    const QFont clockFont = stageFont(tall_ ? 16 : 12, QFont::DemiBold, true);
    const double clockWidth = face.clock.isEmpty() ? 0 : textWidth(clockFont, face.clock) + 2;
    QFont titleFont = stageFont(tall_ ? 17 : 13, QFont::ExtraBold, false);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.4);
    const QRectF titleRect(x, y, std::max(1.0, right - clockWidth - 4 - x), row1);
    if (face.titleGhost > 0) {
        kit::PainterCanvas canvas(painter);
        const quint64 revision = qHash(face.title) ^ (quint64(face.titleColor.rgba()) << 1) ^ (tall_ ? 1u : 0u);
        titleGhosts_.paint(canvas, titleRect, face.titleGhost, 0.55, revision, devicePixelRatioF(),
                           [&](QPainter& p, QSizeF size) {
                               drawLine(p, QRectF(QPointF(0, 0), size), face.title, titleFont, face.titleColor,
                                        Qt::AlignLeft);
                           });
    } else {
        drawLine(painter, titleRect, face.title, titleFont, face.titleColor, Qt::AlignLeft);
    }
    if (!face.clock.isEmpty())
        drawLine(painter, QRectF(right - clockWidth, y, clockWidth, row1), face.clock, clockFont, face.clockColor,
                 Qt::AlignRight);
    y = rows.row2;

    // Row 2: artist or error, tempo, key, offset.
    const double row2 = rows.row2Height;
    double r = right;
    if (tall_) {
        const QFont f = stageFont(10, QFont::DemiBold, true);
        const double w = textWidth(f, face.offset) + 2;
        drawLine(painter, QRectF(r - w, y, w, row2), face.offset, f, face.offsetColor, Qt::AlignRight);
        r -= w + 10;
    }
    {
        const QFont f = stageFont(tall_ ? 13 : 10, QFont::Bold, true);
        const double w = textWidth(f, face.key) + 2;
        drawLine(painter, QRectF(r - w, y, w, row2), face.key, f, kit::Stage::bone(), Qt::AlignRight);
        r -= w + 10;
    }
    {
        const QFont f = stageFont(tall_ ? 15 : 11, QFont::Bold, true);
        const double w = textWidth(f, face.tempo) + 2;
        drawLine(painter, QRectF(r - w, y, w, row2), face.tempo, f, kit::Stage::paper(), Qt::AlignRight);
        r -= w + 4;
    }
    drawLine(painter, QRectF(left, y, std::max(0.0, r - left), row2), face.artist, stageFont(10, QFont::Medium, true),
             face.artistColor, Qt::AlignLeft);
    if (!tall_)
        return;
    if (strip_->geometry() != stripRect().toRect())
        placeStrip();

    // Row 3: the overview strip (a child), beat counter, part dots, chips.
    const double rowY = rows.row3;
    const double rowH = rows.row3Height;
    const auto voice = deck_.voice();
    const BeatFace beats = beatFace(voice ? voice->state().position.load() : 0, deck_.grid(), in.playing);
    x = left;
    for (int box = 1; box <= 4; ++box) {
        const double w = box == 1 ? 14 : 10;
        QPainterPath boxPath;
        boxPath.addRoundedRect(QRectF(x, rowY + (rowH - 6) / 2, w, 6), 1.5, 1.5);
        const QColor fill = beats.beat == box ? (box == 1 ? kit::Stage::paper() : kit::Stage::bone()) : kit::Stage::line();
        painter.fillPath(boxPath, fill);
        x += w + 3;
    }
    if (beats.showPhrase && !beats.phrase.isEmpty())
        drawLine(painter, QRectF(x, rowY, 70, rowH), beats.phrase, stageFont(8.5, QFont::Medium, true),
                 beats.phraseUrgent ? kit::Stage::paper() : kit::Stage::ash(), Qt::AlignLeft);
    const auto& off = model_.mixer().channel(deck_.index()).partsOff();
    for (int part = 0; part < 3; ++part) {
        const QRectF area = partRect(part);
        painter.setPen(Qt::NoPen);
        painter.setBrush(off[std::size_t(part)] ? kit::Stage::line() : kPartColours[part]);
        painter.drawEllipse(QRectF(area.left(), area.center().y() - 3, 6, 6));
        drawLine(painter, QRectF(area.left() + 9, area.top(), area.width() - 9 + 2, rowH),
                 QString::fromLatin1(kPartLetters[part]), partFont(),
                 off[std::size_t(part)] ? kit::Stage::ashDim() : kit::Stage::bone(), Qt::AlignLeft);
    }
    kit::PainterCanvas canvas(painter);
    const std::vector<QRectF> chips = chipRects(face.chips);
    for (std::size_t i = 0; i < chips.size(); ++i)
        paintChip(canvas, chips[i], face.chips[i].text, face.chips[i].on);
}

DeckLane::DeckLane(AppModel& model, DeckModel& deck, StageSides& sides, kit::WaveScene& scene, kit::UiEnv env,
                   QWidget* parent)
    : QWidget(parent), model_(model), env_(env), deck_(deck), sides_(sides)
{
    setObjectName(QStringLiteral("deckLane.%1").arg(deck.index()));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    header_ = new LaneHeader(model, deck, sides, env, this);
    wave_ = new kit::WaveLaneView(scene, env, 8, this);
    wave_->setObjectName(QStringLiteral("waveLane.%1").arg(deck.index()));
    wave_->setDeck(deck.index(), false);
    auto* pad = new QWidget(this);
    auto* padLayout = new QHBoxLayout(pad);
    padLayout->setContentsMargins(4, 4, 4, 4);
    padLayout->addWidget(wave_);
    row->addWidget(header_);
    row->addWidget(pad, 1);
    connect(&sides_, &StageSides::sidesChanged, this, [this] { update(); });
    connect(&sides_, &StageSides::touched, this, [this](int touched) {
        if (touched == deck_.index())
            followTouch();
    });
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

void DeckLane::setTall(bool tall)
{
    header_->setTall(tall);
    wave_->setDeck(deck_.index(), !tall);
}

bool DeckLane::tall() const
{
    return header_->tall();
}

bool DeckLane::dropUrls(const QList<QUrl>& urls)
{
    const std::vector<TrackRecord> added = importAdded(model_.library(), urls);
    if (added.empty())
        return false;
    const TrackRecord first = added.front();
    QTimer::singleShot(0, this, [this, first] { deck_.load(first); });
    return true;
}

DeckLane::~DeckLane()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

double DeckLane::glow() const
{
    if (!env_.scheduler)
        return 0;
    return touchGlow(env_.scheduler->uptime() - sides_.touchedAt(deck_.index()));
}

void DeckLane::followTouch()
{
    update();
    if (!env_.liveClock || !env_.scheduler || env_.snapshotMode || tick_)
        return;
    // Redraw at 30 frames a second until the glow has gone, then stand still.
    tick_ = env_.liveClock->subscribe(30, [this](double) {
        update();
        if (env_.scheduler->uptime() - sides_.touchedAt(deck_.index()) >= 0.7) {
            env_.liveClock->unsubscribe(tick_);
            tick_ = 0;
        }
    });
}

void DeckLane::paintEvent(QPaintEvent*)
{
    ++paints_;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(painter);
    paintTouchGlow(canvas, QRectF(rect()), glow(),
                   isTargeted(deck_.index(), sides_.leftDeck(), sides_.rightDeck()));
}

} // namespace zelvo::stage
