#include "ui/stage/MixerStripParts.h"

#include "models/ChannelModel.h"
#include "models/MixerModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/stage/MixerPresenters.h"

#include <QMouseEvent>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zelvo::stage {

namespace {

constexpr double kDotsScale = 0.85;
constexpr double kDotsHeight = 12;

QPainterPath roundedRect(const QRectF& r, double radius)
{
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

QFont dotFont() { return kit::monoFont(8.5); }

double letterWidth() { return std::ceil(kit::textWidth(dotFont(), QStringLiteral("d"))); }

} // namespace

const QColor& partColour(int part)
{
    static const QColor colours[3] = {QColor(79, 141, 255), QColor(79, 211, 138), QColor(255, 90, 82)};
    return colours[std::clamp(part, 0, 2)];
}

QString partLetter(int part)
{
    static const char* const letters[3] = {"d", "v", "i"};
    return QString::fromLatin1(letters[std::clamp(part, 0, 2)]);
}

// ---- TextFace

TextFace::TextFace(const kit::UiEnv& env, kit::TextLine line, QWidget* parent)
    : FaceWidget(env, parent), line_(std::move(line))
{
    resizeToDesign();
}

TextFace::TextFace(const kit::UiEnv& env, const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
    : TextFace(env, kit::TextLine{text, font, colour}, parent)
{
}

void TextFace::setFrameHeight(double height)
{
    frameHeight_ = height;
    resizeToDesign();
}

QSizeF TextFace::designSize() const
{
    QSizeF s = line_.size();
    s.setHeight(std::max(s.height(), frameHeight_));
    return s;
}

void TextFace::paintFace(kit::Canvas& canvas)
{
    canvas.drawText(QRectF(QPointF(0, 0), designSize()), line_.text, line_.font, line_.color,
                    Qt::AlignHCenter | Qt::AlignVCenter);
}

// ---- ChannelNumber

ChannelNumber::ChannelNumber(const kit::UiEnv& env, int index, double width, std::function<bool()> targeted,
                             QWidget* parent)
    : FaceWidget(env, parent), index_(index), width_(width), targeted_(std::move(targeted))
{
    resizeToDesign();
}

void ChannelNumber::paintFace(kit::Canvas& canvas)
{
    const QString text = QString::number(index_ + 1);
    const QColor colour = targeted_ && targeted_() ? kit::Stage::paper() : kit::Stage::ash();
    const QFont font = kit::sansFont(11, true);
    const double offset = deckGhostOffset(index_);
    const QRectF frame(QPointF(0, 0), designSize());
    if (offset <= 0) {
        canvas.drawText(frame, text, font, colour, Qt::AlignCenter);
        return;
    }
    // The copies of a narrow glyph: ghost only the text's own box, centred.
    const double w = std::ceil(kit::textWidth(font, text)) + 2;
    const QRectF box((frame.width() - w) / 2, 0, w, frame.height());
    ghosts_.paint(canvas, box, offset, 0.6, colour.rgba(), devicePixelRatioF(), [&](QPainter& p, QSizeF size) {
        p.setFont(font);
        p.setPen(colour);
        p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
    });
}

// ---- PartDotsView

PartDotsView::PartDotsView(const kit::UiEnv& env, ChannelModel& channel, QWidget* parent)
    : FaceWidget(env, parent), channel_(channel)
{
    repaintOn(&channel_, &ChannelModel::partsOffChanged);
    resizeToDesign();
}

QRectF PartDotsView::partRect(int part) const
{
    const double group = 6 + 3 + letterWidth();
    return QRectF(part * (group + 4), 0, group, kDotsHeight);
}

// As wide as the dots are drawn (scaled down about the left edge's middle),
// so the box that takes the clicks fits the narrow strip.
QSizeF PartDotsView::designSize() const { return QSizeF(std::ceil(partRect(2).right() * kDotsScale), kDotsHeight); }

void PartDotsView::paintFace(kit::Canvas& canvas)
{
    const QPointF c(0, kDotsHeight / 2);
    canvas.save();
    canvas.translate(c);
    canvas.scale(kDotsScale, kDotsScale);
    canvas.translate(-c);
    const auto& off = channel_.partsOff();
    for (int part = 0; part < 3; ++part) {
        const QRectF r = partRect(part);
        const bool isOff = off[std::size_t(part)];
        QPainterPath dot;
        dot.addEllipse(QRectF(r.left(), r.center().y() - 3, 6, 6));
        canvas.fillPath(dot, isOff ? kit::Stage::line() : partColour(part));
        canvas.drawText(QRectF(r.left() + 9, r.top(), r.width() - 9 + 2, r.height()), partLetter(part), dotFont(),
                        isOff ? kit::Stage::ashDim() : kit::Stage::bone(), Qt::AlignLeft | Qt::AlignVCenter);
    }
    canvas.restore();
}

int PartDotsView::partAt(QPointF p) const
{
    const QPointF c(0, kDotsHeight / 2);
    const QPointF unscaled = c + (p - c) / kDotsScale;
    for (int part = 0; part < 3; ++part) {
        // The gap between groups belongs to the nearer part.
        if (partRect(part).adjusted(-2, -2, 2, 2).contains(unscaled))
            return part;
    }
    return -1;
}

void PartDotsView::mousePressEvent(QMouseEvent* event)
{
    const int part = event->button() == Qt::LeftButton ? partAt(toDesign(event->position())) : -1;
    if (part < 0) {
        event->ignore();
        return;
    }
    channel_.togglePart(part);
}

// ---- AssignKeysView

AssignKeysView::AssignKeysView(const kit::UiEnv& env, ChannelModel& channel, QWidget* parent)
    : FaceWidget(env, parent), channel_(channel)
{
    repaintOn(&channel_, &ChannelModel::crossfaderAssignChanged);
    resizeToDesign();
}

void AssignKeysView::paintFace(kit::Canvas& canvas)
{
    const auto keys = assignKeys(channel_.crossfaderAssign());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const QRectF r = keyRect(int(i));
        canvas.fillPath(roundedRect(r, 2), keys[i].selected ? kit::Stage::bone() : kit::Stage::ink());
        canvas.drawText(r, keys[i].label, kit::monoFont(8), keys[i].selected ? kit::Stage::ink() : kit::Stage::ash(),
                        Qt::AlignCenter);
    }
}

void AssignKeysView::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = toDesign(event->position());
    if (event->button() == Qt::LeftButton) {
        const auto keys = assignKeys(channel_.crossfaderAssign());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keyRect(int(i)).contains(p)) {
                channel_.setCrossfaderAssign(keys[i].value);
                return;
            }
        }
    }
    event->ignore();
}

// ---- RowLabels

RowLabels::RowLabels(const kit::UiEnv& env, MixerModel& mixer, double labelBase, QWidget* parent)
    : FaceWidget(env, parent), mixer_(mixer), base_(labelBase)
{
    repaintOn(&mixer_, &MixerModel::colorFXKindChanged);
    resizeToDesign();
}

QSizeF RowLabels::designSize() const
{
    double width = 0, height = 0;
    const QFont font = kit::monoFont(7.5);
    const auto labels = rowLabels(mixer_.colorFXKind(), base_);
    // Wide enough for every kind's name, so switching the effect never reflows.
    for (const QString& name : {QStringLiteral("filter"), QStringLiteral("crush"), QStringLiteral("noise"),
                                QStringLiteral("space"), QStringLiteral("trim")})
        width = std::max(width, std::ceil(kit::textWidth(font, name)) + 2);
    for (const auto& label : labels)
        height += label.second;
    return QSizeF(width, height + 3 * double(labels.size() - 1));
}

void RowLabels::paintFace(kit::Canvas& canvas)
{
    const QFont font = kit::monoFont(7.5);
    const double width = designSize().width();
    double y = 0;
    for (const auto& [text, height] : rowLabels(mixer_.colorFXKind(), base_)) {
        canvas.drawText(QRectF(0, y, width, height), text, font, kit::Stage::ash(), Qt::AlignCenter);
        y += height + 3;
    }
}

// ---- MasterMeters

MasterMeters::MasterMeters(const kit::UiEnv& env, std::function<std::pair<double, double>()> levels, QWidget* parent)
    : FaceWidget(env, parent), levels_(std::move(levels))
{
    resizeToDesign();
}

QSizeF MasterMeters::designSize() const
{
    const QSizeF one = kit::segmentMeterSize(26, 5);
    return QSizeF(2 * one.width() + 2, one.height());
}

void MasterMeters::paintFace(kit::Canvas& canvas)
{
    shown_ = levels_ ? levels_() : std::pair<double, double>{0, 0};
    const auto [left, right] = shown_;
    kit::drawSegmentMeter(canvas, left, 26, 5);
    canvas.save();
    canvas.translate(QPointF(5 + 2, 0));
    kit::drawSegmentMeter(canvas, right, 26, 5);
    canvas.restore();
}

// ---- FXReadout

FXReadout::FXReadout(const kit::UiEnv& env, MixerModel& mixer, QWidget* parent) : FaceWidget(env, parent), mixer_(mixer)
{
    for (auto signal : {&MixerModel::beatFXKindChanged, &MixerModel::beatFXBeatIndexChanged,
                        &MixerModel::beatFXOnChanged, &MixerModel::beatFXTargetChanged})
        repaintOn(&mixer_, signal);
    resizeToDesign();
}

void FXReadout::paintFace(kit::Canvas& canvas)
{
    const FXReadoutFace face =
        fxReadoutFace(mixer_.beatFXKind(), mixer_.beatFXBeatIndex(), mixer_.beatFXTarget(), mixer_.beatFXOn());
    const QRectF r(QPointF(0, 0), designSize());
    canvas.fillPath(roundedRect(r, 4), face.fill);
    const QFont kindFont = kit::monoFont(8.5), detailFont = kit::monoFont(7.5);
    const double h1 = std::ceil(QFontMetricsF(kindFont).height()), h2 = std::ceil(QFontMetricsF(detailFont).height());
    const double top = (r.height() - h1 - 1 - h2) / 2;
    canvas.drawText(QRectF(0, top, r.width(), h1), face.kind, kindFont, face.kindColour, Qt::AlignCenter);
    canvas.drawText(QRectF(0, top + h1 + 1, r.width(), h2), face.detail, detailFont, face.detailColour, Qt::AlignCenter);
}

void FXReadout::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    mixer_.setBeatFXOn(!mixer_.beatFXOn());
}

} // namespace zelvo::stage
