#include "ui/tour/TourViews.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/Ghosts.h"
#include "ui/tour/TourButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace zelvo::tour {

namespace S = kit::Stage;
using Step = TourModel::Step;

namespace {

QColor faded(QColor c, double opacity)
{
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

QLabel* wrapped(const QString& text, const QFont& font, const QColor& colour, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

// A key cap of the hands list: the key's name in ink on a bone plate.
class KeyCap final : public QWidget {
public:
    KeyCap(const QString& text, QWidget* parent) : QWidget(parent), text_(text)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override
    {
        return {int(std::ceil(kit::textWidth(font(), text_))) + 12, QFontMetrics(font()).height() + 4};
    }
    QFont font() const
    {
        QFont f = kit::monoFont(9.5);
        return f;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(S::bone());
        p.drawRoundedRect(QRectF(rect()), 4, 4);
        p.setPen(S::ink());
        p.setFont(font());
        p.drawText(QRectF(rect()), Qt::AlignCenter, text_);
    }

private:
    QString text_;
};

// The hero's title, with its red and cyan ghosts.
class GhostTitle final : public QWidget {
public:
    GhostTitle(const QString& text, QWidget* parent) : QWidget(parent), text_(text)
    {
        setObjectName(QStringLiteral("tour.hero.title"));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QFont font() const { return kit::sansFont(92, true, -5); }
    QSize sizeHint() const override
    {
        return {int(std::ceil(kit::textWidth(font(), text_))) + 12, QFontMetrics(font()).height()};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        kit::PainterCanvas canvas(p);
        const QString text = text_;
        const QFont f = font();
        ghosts_.paint(canvas, QRectF(rect()), 3, 0.7, 1, devicePixelRatioF(), [text, f](QPainter& q, QSizeF size) {
            q.setFont(f);
            q.setPen(S::paper());
            q.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
        });
    }

private:
    QString text_;
    stage::Ghosts ghosts_;
};

} // namespace

// --- Dots

TourDots::TourDots(int current, QWidget* parent) : QWidget(parent), current_(current)
{
    setObjectName(QStringLiteral("tour.dots"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

std::vector<QRectF> TourDots::dots() const
{
    std::vector<QRectF> out;
    double x = 0;
    for (int i = 1; i <= TourCopy::kCards; ++i) {
        const double w = i == current_ ? 14 : 5;
        out.emplace_back(x, 0, w, 5);
        x += w + 4;
    }
    return out;
}

QSize TourDots::sizeHint() const
{
    return {int(std::ceil(dots().back().right())), 5};
}

void TourDots::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const auto all = dots();
    for (std::size_t i = 0; i < all.size(); ++i) {
        p.setBrush(int(i) + 1 <= current_ ? S::paper() : S::line());
        p.drawRoundedRect(all[i], 2.5, 2.5);
    }
}

// --- Card

TourCard::TourCard(TourModel& tour, Step step, const TourCopy& copy, const kit::UiEnv& env, QWidget* live,
                   QWidget* parent)
    : QWidget(parent), step_(step)
{
    setObjectName(QStringLiteral("tour.card"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kCardInset, kCardInset, kCardInset, kCardInset);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(0);
    auto* kicker = new kit::StageLabel(env, copy.kicker, 8.5, S::signal(), this);
    kicker->setObjectName(QStringLiteral("tour.kicker"));
    auto* counter =
        new kit::StageLabel(env, QStringLiteral("%1 / %2").arg(int(step)).arg(TourCopy::kCards), 8.5, S::ash(), this);
    counter->setObjectName(QStringLiteral("tour.counter"));
    header->addWidget(kicker);
    header->addStretch(1);
    header->addWidget(counter);
    column->addLayout(header);

    column->addSpacing(10);
    column->addWidget(wrapped(copy.title, kit::sansFont(27, true, -1.1), S::paper(), "tour.title", this));
    column->addSpacing(8);
    QLabel* body = wrapped(copy.body, kit::sansFont(13, false), faded(S::bone(), 0.88), "tour.body", this);
    column->addWidget(body);

    if (live) {
        column->addSpacing(14);
        live->setParent(this);
        column->addWidget(live);
    }

    if (!copy.hands.empty()) {
        column->addSpacing(14);
        auto* hands = new QWidget(this);
        hands->setObjectName(QStringLiteral("tour.hands"));
        auto* rows = new QVBoxLayout(hands);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(6);
        for (const auto& [cap, what] : copy.hands) {
            auto* row = new QHBoxLayout;
            row->setSpacing(10);
            row->addWidget(new KeyCap(cap, hands), 0, Qt::AlignVCenter);
            QLabel* text = wrapped(what, kit::monoFont(10), S::bone(), "tour.hand", hands);
            row->addWidget(text, 1, Qt::AlignVCenter);
            rows->addLayout(row);
        }
        column->addWidget(hands);
    }

    column->addSpacing(18);
    auto* footer = new QHBoxLayout;
    footer->setSpacing(10);
    footer->addWidget(new TourDots(int(step), this), 0, Qt::AlignVCenter);
    footer->addStretch(1);
    if (step != Step::go) {
        auto* skip = new TourLink(QStringLiteral("skip"), 9, S::ash(), this);
        skip->setObjectName(QStringLiteral("tour.skip"));
        connect(skip, &QAbstractButton::clicked, &tour, &TourModel::finish);
        footer->addWidget(skip);
    }
    auto* back = new TourButton(QStringLiteral("back"), false, this);
    back->setObjectName(QStringLiteral("tour.back"));
    connect(back, &QAbstractButton::clicked, &tour, &TourModel::back);
    footer->addWidget(back);
    auto* next = new TourButton(step == Step::go ? QStringLiteral("let's play") : QStringLiteral("next"), true, this);
    next->setObjectName(QStringLiteral("tour.next"));
    connect(next, &QAbstractButton::clicked, &tour, &TourModel::next);
    footer->addWidget(next);
    column->addLayout(footer);

    setFixedWidth(kCardWidth);
    setFixedHeight(measuredHeight());
}

bool TourCard::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        const int h = measuredHeight();
        if (h != height()) {
            setFixedHeight(h);
            emit measured();
        }
    }
    return handled;
}

int TourCard::measuredHeight() const
{
    return layout()->totalHeightForWidth(kCardWidth);
}

void TourCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(S::line(), 1));
    p.setBrush(S::inkRaised());
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 15.5, 15.5);
}

// --- Fork picture

ForkPicture::ForkPicture(const kit::UiEnv& env, QWidget* parent) : QWidget(parent), env_(env)
{
    setObjectName(QStringLiteral("tour.fork"));
    setFixedSize(760, 150);
    setAttribute(Qt::WA_TranslucentBackground);
}

ForkPicture::~ForkPicture()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

double ForkPicture::frameTime() const
{
    if (env_.liveClock && env_.liveClock->frameTimeNow(30) > 0)
        return env_.liveClock->frameTimeNow(30);
    return env_.scheduler ? kit::secondsSinceReference(env_.scheduler->now()) : 0.0;
}

void ForkPicture::showEvent(QShowEvent*)
{
    if (!tick_ && env_.liveClock && !env_.snapshotMode)
        tick_ = env_.liveClock->subscribe(30, [this](double) { update(); });
}

void ForkPicture::hideEvent(QHideEvent*)
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
    tick_ = 0;
}

void ForkPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    draw(p, QSizeF(size()), frameTime());
}

void ForkPicture::draw(QPainter& p, QSizeF size, double t)
{
    const double W = size.width(), H = size.height();
    const double y1 = 0.28 * H, y2 = 0.76 * H, s = 0.42 * W, A = 0.24 * H;
    // Time runs in seconds since 2001; keep the phase small so sin/cos stay precise.
    const double tt = std::fmod(t, 3600.0);
    const auto bar = [&](double x, double y, double half, const QColor& c) {
        p.fillRect(QRectF(x - 1.3, y - half, 2.6, 2 * half), c);
    };
    for (double x = 0; x < W; x += 4) {
        const double u = 14 * tt + 0.25 * x;
        if (x < s + 40) {
            const double e = std::pow(std::max(0.0, std::cos(u * M_PI / 8)), 6);
            const double a = A * (std::abs(std::sin(0.37 * u) * std::cos(0.11 * u)) * 0.2 + 0.55 * e + 0.25);
            const double o = 0.35 + 0.65 * std::min(x / s, 1.0);
            bar(x, y1, a, faded(S::rbBlue(), o));
            bar(x, y1, 0.62 * a, faded(S::rbAmber(), o));
            bar(x, y1, 0.3 * a, faded(S::paper(), o));
        }
        if (x > s) {
            const double e2 = std::pow(std::max(0.0, std::cos((u + 3) * M_PI / 8)), 4);
            const double r = std::min((x - s) / 60, 1.0);
            const double b = A * r * (std::abs(std::sin(0.29 * u)) * 0.2 + 0.5 * e2 + 0.3);
            bar(x - 1.5, y2, b, faded(S::ghostRed(), 0.55));
            bar(x + 1.5, y2, b, faded(S::ghostCyan(), 0.55));
            bar(x, y2, b, S::rbBlue());
            bar(x, y2, 0.62 * b, S::rbAmber());
            bar(x, y2, 0.3 * b, S::paper());
        }
    }
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath fork(QPointF(s - 20, y1));
    fork.cubicTo(QPointF(s + 30, y1), QPointF(s + 20, y2), QPointF(s + 70, y2));
    QPen dash(faded(S::paper(), 0.7), 1.5);
    dash.setDashPattern({3 / 1.5, 4 / 1.5});
    p.setPen(dash);
    p.setBrush(Qt::NoBrush);
    p.drawPath(fork);
    const QFont f = kit::monoFont(9);
    p.setFont(f);
    const QFontMetricsF m(f);
    const auto label = [&](const QString& text, QPointF at, const QColor& c) {
        p.setPen(c);
        p.drawText(QPointF(at.x(), at.y() + (m.ascent() - m.descent()) / 2), text);
    };
    label(QStringLiteral("your record"), {4, y1 - 26}, S::ash());
    label(QString::fromUtf8("fork · zelvo-0"), {s + 78, y2 + 26}, S::bone());
}

// --- Lamp

TourLamp::TourLamp(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("tour.hero.lamp"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(kSize + 2 * kReach, kSize + 2 * kReach);
}

void TourLamp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(p);
    QPainterPath dot;
    dot.addEllipse(QRectF(kReach, kReach, kSize, kSize));
    canvas.shadow(dot, S::signal(), kGlow, QPointF(0, 0));
    p.fillPath(dot, S::signal());
}

// --- Hero

TourHero::TourHero(TourModel& tour, std::optional<ControllerKind> controller, const kit::UiEnv& env, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tour.hero"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addStretch(1);
    column->addWidget(new ForkPicture(env, this), 0, Qt::AlignHCenter);
    column->addSpacing(34);
    column->addWidget(new GhostTitle(QStringLiteral("kavri zelvo"), this), 0, Qt::AlignHCenter);
    if (controller) {
        column->addSpacing(22);
        auto* linked = new QWidget(this);
        linked->setObjectName(QStringLiteral("tour.hero.linked"));
        auto* row = new QHBoxLayout(linked);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        // The lamp's glow reaches past its 7 points; the row's 8 points are
        // counted from the circle itself, and the same room on the far side
        // keeps the row centred.
        auto* lamp = new TourLamp(linked);
        row->setSpacing(0);
        row->addWidget(lamp, 0, Qt::AlignVCenter);
        row->addSpacing(8 - TourLamp::kReach);
        const QString name = *controller == ControllerKind::flx10 ? QStringLiteral("ddj-flx10") : QStringLiteral("ddj-flx4");
        auto* text = new kit::StageLabel(env, name + QString::fromUtf8(" linked — watch its pads"), 9.5, S::bone(), linked);
        text->setObjectName(QStringLiteral("tour.hero.linkedText"));
        row->addWidget(text, 0, Qt::AlignVCenter);
        row->addSpacing(TourLamp::kReach);
        column->addWidget(linked, 0, Qt::AlignHCenter);
    }
    column->addSpacing(30);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    auto* start = new TourButton(QStringLiteral("show me around"), true, this);
    start->setObjectName(QStringLiteral("tour.hero.start"));
    connect(start, &QAbstractButton::clicked, &tour, &TourModel::next);
    auto* skip = new TourButton(QStringLiteral("skip"), false, this);
    skip->setObjectName(QStringLiteral("tour.hero.skip"));
    connect(skip, &QAbstractButton::clicked, &tour, &TourModel::finish);
    buttons->addWidget(start);
    buttons->addWidget(skip);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addSpacing(14);
    const bool flx10 = controller == ControllerKind::flx10;
    auto* hint = new kit::StageLabel(env,
                                     flx10 ? QString::fromUtf8("⏎ or mix point link to start · esc to skip")
                                           : QString::fromUtf8("⏎ to start · esc to skip"),
                                     8.5, S::ashDim(), this);
    hint->setObjectName(QStringLiteral("tour.hero.hint"));
    column->addWidget(hint, 0, Qt::AlignHCenter);
    column->addStretch(1);
}

} // namespace zelvo::tour
