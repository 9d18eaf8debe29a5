#include "ui/tour/TourLiveViews.h"

#include "generation/KavriAccount.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StageMotion.h"
#include "ui/tour/TourButton.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QVBoxLayout>
#include <cmath>

namespace zelvo::tour {

namespace S = kit::Stage;

namespace {

QLabel* text(const QString& content, const QFont& font, const QColor& colour, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    return label;
}

// A painted symbol of the stage's registry.
class Symbol final : public QWidget {
public:
    Symbol(const QString& name, const QColor& colour, QWidget* parent) : QWidget(parent), name_(name), colour_(colour)
    {
        setFixedSize(14, 14);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        kit::PainterCanvas canvas(p);
        stage::paintSymbol(canvas, name_, QRectF(rect()), colour_);
    }

private:
    QString name_;
    QColor colour_;
};

// A link in the stage's caption look.
class Link final : public QAbstractButton {
public:
    Link(const QString& label, QWidget* parent) : QAbstractButton(parent)
    {
        setText(label.toUpper());
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }
    QSize sizeHint() const override
    {
        return {int(std::ceil(kit::textWidth(font(), text()))) + 2, QFontMetrics(font()).height()};
    }
    QFont font() const { return kit::monoFont(9, 0.26 * 9); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setFont(font());
        p.setPen(S::signal());
        p.drawText(QRectF(rect()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
};

// The bar itself: a line-coloured track and a paper fill of at least 6 points.
class BarStrip final : public QWidget {
public:
    explicit BarStrip(const TourDownloadBar& bar, QWidget* parent) : QWidget(parent), bar_(bar)
    {
        setObjectName(QStringLiteral("tour.download.bar"));
        setFixedHeight(6);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(S::line());
        p.drawRoundedRect(QRectF(rect()), 3, 3);
        const QRectF fill(0, 0, downloadFill(width(), bar_.shownFraction()), 6);
        // The fill's red and cyan ghosts, a point to either side.
        for (const auto& [colour, dx] : {std::pair{S::ghostRed(), -1.0}, std::pair{S::ghostCyan(), 1.0}}) {
            QColor c = colour;
            c.setAlphaF(0.6f);
            p.setBrush(c);
            p.drawRoundedRect(fill.translated(dx, 0), 3, 3);
        }
        p.setBrush(S::paper());
        p.drawRoundedRect(fill, 3, 3);
    }

private:
    const TourDownloadBar& bar_;
};

double uptimeOf(const kit::UiEnv& env)
{
    return env.scheduler ? env.scheduler->uptime() : 0.0;
}

} // namespace

QString elideLines(const QString& content, const QFont& font, double width, int lines)
{
    QTextLayout layout(content, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList out;
    for (int i = 0; i < lines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (i == lines - 1 && line.textStart() + line.textLength() < content.size()) {
            const QFontMetricsF metrics(font);
            out << metrics.elidedText(content.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        out << content.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return out.join(QLatin1Char('\n'));
}

// --- Download bar

TourDownloadBar::TourDownloadBar(std::function<DownloadInputs()> read, std::function<void()> retry, kit::UiEnv env,
                                 QWidget* parent)
    : QWidget(parent), read_(std::move(read)), retry_(std::move(retry)), env_(env)
{
    setObjectName(QStringLiteral("tour.download"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    refresh();
}

TourDownloadBar::~TourDownloadBar()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

void TourDownloadBar::refresh()
{
    const DownloadInputs in = read_ ? read_() : DownloadInputs{};
    const DownloadFace face = downloadFace(in.status, in.fraction, in.started, in.shortfall, in.detail);
    const double goal = std::isfinite(in.fraction) ? std::clamp(in.fraction, 0.0, 1.0) : 0.0;
    if (goal != target_) {
        from_ = shown_;
        target_ = goal;
        started_ = uptimeOf(env_);
        if (!stage::Motion::canAnimate(env_) || !built_) {
            shown_ = target_;
        } else if (!tick_) {
            tick_ = env_.liveClock->subscribe(60, [this](double) {
                const double t = std::clamp((uptimeOf(env_) - started_) / 0.4, 0.0, 1.0);
                const double eased = 1 - std::pow(1 - t, 3);
                shown_ = from_ + (target_ - from_) * eased;
                if (auto* strip = findChild<QWidget*>(QStringLiteral("tour.download.bar")))
                    strip->update();
                if (t >= 1) {
                    env_.liveClock->unsubscribe(tick_);
                    tick_ = 0;
                }
            });
        }
    }
    const bool same = built_ && face.kind == face_.kind && face.percent == face_.percent &&
                      face.detail == face_.detail && face.message == face_.message && face.retry == face_.retry;
    face_ = face;
    built_ = true;
    if (!same)
        rebuild();
    else if (auto* strip = findChild<QWidget*>(QStringLiteral("tour.download.bar")))
        strip->update();
}

void TourDownloadBar::rebuild()
{
    // The old face may hold the button whose click led here.
    if (body_) {
        body_->hide();
        body_->deleteLater();
    }
    body_ = new QWidget(this);
    layout()->addWidget(body_);
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    const QFont mono10 = kit::monoFont(10);
    const double width = 386;
    switch (face_.kind) {
    case DownloadFace::Kind::downloading: {
        column->addWidget(new BarStrip(*this, body_));
        auto* row = new QHBoxLayout;
        row->addWidget(new kit::StageLabel(env_, QStringLiteral("downloading zelvo-0"), 9, S::bone(), body_));
        row->addStretch(1);
        if (!face_.percent.isEmpty()) {
            QFont f = kit::monoFont(12);
            f.setBold(true);
            row->addWidget(text(face_.percent, f, S::paper(), QStringLiteral("tour.download.percent"), body_));
        }
        column->addLayout(row);
        column->addWidget(text(QFontMetricsF(kit::monoFont(10.5)).elidedText(face_.detail, Qt::ElideRight, width),
                               kit::monoFont(10.5), S::bone(), QStringLiteral("tour.download.detail"), body_));
        QLabel* note = text(QString::fromUtf8("carries on behind the tour — and behind your set, if you start playing."),
                            kit::sansFont(11, false), S::ash(), QStringLiteral("tour.download.note"), body_);
        note->setWordWrap(true);
        column->addWidget(note);
        break;
    }
    case DownloadFace::Kind::installed: {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(new Symbol(QStringLiteral("checkmark.circle.fill"), S::signal(), body_));
        row->addWidget(text(QStringLiteral("zelvo-0 is on this computer"), kit::sansFont(12, false), S::bone(),
                            QStringLiteral("tour.download.installed"), body_));
        row->addStretch(1);
        column->addLayout(row);
        break;
    }
    case DownloadFace::Kind::failed: {
        auto* row = new QHBoxLayout;
        auto* retry = new TourButton(QStringLiteral("try again"), true, body_);
        retry->setObjectName(QStringLiteral("tour.download.retry"));
        connect(retry, &QAbstractButton::clicked, this, [this] {
            if (retry_)
                retry_();
            refresh();
        });
        const double room = width - retry->sizeHint().width() - 8;
        row->addWidget(text(elideLines(face_.message, mono10, room, 2), mono10, S::ghostRed(),
                            QStringLiteral("tour.download.message"), body_),
                       1);
        row->addWidget(retry);
        column->addLayout(row);
        break;
    }
    case DownloadFace::Kind::waiting:
        if (!face_.message.isEmpty()) {
            QLabel* warning = text(face_.message, mono10, S::ghostRed(), QStringLiteral("tour.download.message"), body_);
            warning->setWordWrap(true);
            column->addWidget(warning);
        } else {
            column->addWidget(new kit::StageLabel(env_, QString::fromUtf8("starting the download…"), 9, S::bone(), body_));
        }
        break;
    }
    body_->show();
    updateGeometry();
}

// --- Key entry

TourKeyField::TourKeyField(QWidget* parent) : QLineEdit(parent)
{
    setObjectName(QStringLiteral("tour.key.field"));
    setEchoMode(QLineEdit::Password);
    setFixedHeight(kHeight);
    setFont(kit::monoFont(13));
    // The plate is ours: the style draws neither frame nor fill.
    setFrame(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setTextMargins(12, 0, 12, 0);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Text, S::paper());
    pal.setColor(QPalette::PlaceholderText, S::ashDim());
    setPalette(pal);
}

void TourKeyField::paintEvent(QPaintEvent* event)
{
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF plate = QRectF(rect());
        p.setPen(Qt::NoPen);
        p.setBrush(S::ink());
        p.drawRoundedRect(plate, kRadius, kRadius);
        QColor stroke = hasFocus() ? S::bone() : S::line();
        if (hasFocus())
            stroke.setAlphaF(0.6f);
        p.setPen(QPen(stroke, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(plate.adjusted(0.5, 0.5, -0.5, -0.5), kRadius - 0.5, kRadius - 0.5);
    }
    QLineEdit::paintEvent(event);
}

TourKey::TourKey(KavriAccount& account, std::function<DownloadInputs()> download, std::function<void()> retry,
                 kit::UiEnv env, QWidget* parent)
    : QWidget(parent), account_(account), env_(env), download_(std::move(download)), retry_(std::move(retry))
{
    setObjectName(QStringLiteral("tour.key"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    entry_ = new QWidget(this);
    auto* row = new QHBoxLayout(entry_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    field_ = new TourKeyField(entry_);
    saveButton_ = new TourButton(QStringLiteral("save"), false, entry_);
    saveButton_->setObjectName(QStringLiteral("tour.key.save"));
    row->addWidget(field_, 1);
    row->addWidget(saveButton_);
    column->addWidget(entry_);
    connect(field_, &QLineEdit::textChanged, this, [this](const QString& draft) { saveButton_->setPrimary(!draft.isEmpty()); });
    connect(field_, &QLineEdit::returnPressed, this, &TourKey::save);
    connect(saveButton_, &QAbstractButton::clicked, this, &TourKey::save);
    connect(&account_, &KavriAccount::checkChanged, this, &TourKey::refresh);
    connect(&account_, &KavriAccount::keyChanged, this, &TourKey::refresh);
    refresh();
}

void TourKey::save()
{
    const QString draft = field_->text();
    if (draft.isEmpty())
        return;
    // The field empties at once; the check's answer comes later.
    field_->clear();
    field_->clearFocus();
    account_.save(draft);
}

void TourKey::refresh()
{
    face_ = keyFace(account_.check(), account_.key(), account_.masked(), KavriAccount::host());
    entry_->setVisible(!face_.confirmed);
    field_->setPlaceholderText(face_.placeholder);
    for (QWidget* old : {status_, works_}) {
        if (old) {
            old->hide();
            old->deleteLater();
        }
    }
    status_ = nullptr;
    works_ = nullptr;
    auto* column = static_cast<QVBoxLayout*>(layout());
    if (!face_.confirmed) {
        status_ = new QWidget(this);
        status_->setObjectName(QStringLiteral("tour.key.statusRow"));
        auto* row = new QHBoxLayout(status_);
        row->setContentsMargins(0, 0, 0, 0);
        if (face_.status == KeyFace::Status::refused) {
            QLabel* why = text(face_.statusText, kit::monoFont(10), S::ghostRed(), QStringLiteral("tour.key.status"), status_);
            why->setWordWrap(true);
            row->addWidget(why, 1);
        } else {
            auto* label = new kit::StageLabel(env_, face_.statusText, 9,
                                              face_.status == KeyFace::Status::checking ? S::bone() : S::ash(), status_);
            label->setObjectName(QStringLiteral("tour.key.status"));
            row->addWidget(label);
            row->addStretch(1);
        }
        auto* link = new Link(QString::fromUtf8("get a free key \u2197"), status_);
        link->setObjectName(QStringLiteral("tour.key.signup"));
        connect(link, &QAbstractButton::clicked, this, [this] {
            if (env_.desktop)
                env_.desktop->openUrl(KavriAccount::signUp());
        });
        row->addWidget(link);
        column->addWidget(status_);
    } else {
        works_ = new QWidget(this);
        works_->setObjectName(QStringLiteral("tour.key.works"));
        auto* inner = new QVBoxLayout(works_);
        inner->setContentsMargins(0, 0, 0, 0);
        inner->setSpacing(10);
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(new Symbol(QStringLiteral("checkmark.circle.fill"), S::signal(), works_));
        row->addWidget(text(QStringLiteral("your key works"), kit::sansFont(14, true), S::paper(),
                            QStringLiteral("tour.key.worksText"), works_));
        auto* masked = new kit::StageLabel(env_, account_.masked(), 9, S::ash(), works_);
        masked->setObjectName(QStringLiteral("tour.key.masked"));
        row->addWidget(masked);
        row->addStretch(1);
        inner->addLayout(row);
        inner->addWidget(new TourDownloadBar(download_, retry_, env_, works_));
        column->addWidget(works_);
    }
    updateGeometry();
}

void TourKey::showEvent(QShowEvent*)
{
    if (face_.confirmed || !env_.scheduler || env_.snapshotMode)
        return;
    QPointer<QLineEdit> field = field_;
    env_.scheduler->runAfter(0.3, [field] {
        if (field && field->isVisible())
            field->setFocus(Qt::OtherFocusReason);
    });
}

// --- Controller check

TourControllerLive::TourControllerLive(std::function<ControllerLine()> read, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), read_(std::move(read)), env_(env)
{
    setObjectName(QStringLiteral("tour.controller"));
    setMinimumHeight(58);
    refresh();
}

TourControllerLive::~TourControllerLive()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
}

void TourControllerLive::refresh()
{
    line_ = read_ ? read_() : ControllerLine{};
    update();
}

void TourControllerLive::showEvent(QShowEvent*)
{
    refresh();
    if (!tick_ && env_.liveClock && !env_.snapshotMode)
        tick_ = env_.liveClock->subscribe(10, [this](double) { refresh(); });
}

void TourControllerLive::hideEvent(QHideEvent*)
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
    tick_ = 0;
}

void TourControllerLive::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(S::ink());
    p.drawRoundedRect(QRectF(rect()), 10, 10);
    const double mid = height() / 2.0;
    const QRectF dot(12, mid - 4, 8, 8);
    if (line_.attached) {
        QColor glow = S::signal();
        glow.setAlphaF(0.35f);
        p.setBrush(glow);
        p.drawEllipse(dot.adjusted(-3, -3, 3, 3));
    }
    p.setBrush(line_.attached ? S::signal() : S::ashDim());
    p.drawEllipse(dot);
    const double x = 32;
    const QRectF area(x, 12, width() - x - 12, height() - 24);
    if (!line_.echo) {
        p.setFont(kit::monoFont(line_.attached ? 11 : 10.5));
        p.setPen(line_.attached ? S::bone() : S::ash());
        p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, line_.text);
        return;
    }
    const QFont caption = kit::monoFont(8.5, 0.26 * 8.5);
    p.setFont(caption);
    p.setPen(S::bone());
    p.drawText(QRectF(x, 10, area.width(), 12), Qt::AlignLeft | Qt::AlignVCenter, line_.text.toUpper());
    p.setFont(kit::sansFont(24, true));
    p.setPen(S::paper());
    p.drawText(QRectF(x, 22, area.width(), 30), Qt::AlignLeft | Qt::AlignVCenter, line_.value);
    p.setFont(caption);
    p.setPen(S::signal());
    p.drawText(area, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("IT HEARS YOU"));
}

// --- Checklist

namespace {
constexpr double kRow = 16, kGap = 9, kMove = 20;
}

TourChecklist::TourChecklist(std::function<std::vector<ChecklistRow>()> read, QWidget* parent)
    : QWidget(parent), read_(std::move(read))
{
    setObjectName(QStringLiteral("tour.checklist"));
    refresh();
}

void TourChecklist::refresh()
{
    rows_ = read_ ? read_() : std::vector<ChecklistRow>{};
    update();
}

QSize TourChecklist::sizeHint() const
{
    const double h = 3 * kRow + 2 * kGap + kGap + 9 + kGap + 3 * kMove + 2 * kGap;
    return {386, int(std::ceil(h))};
}

void TourChecklist::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    kit::PainterCanvas canvas(p);
    double y = 0;
    p.setFont(kit::monoFont(10.5));
    for (const ChecklistRow& row : rows_) {
        const bool open = row.done == false;
        const QString symbol = !row.done ? QStringLiteral("arrow.down.circle")
                               : *row.done ? QStringLiteral("checkmark.circle.fill")
                                           : QStringLiteral("circle");
        stage::paintSymbol(canvas, symbol, QRectF(0, y + 1, 14, 14), open ? S::ashDim() : S::signal());
        p.setPen(open ? S::ash() : S::bone());
        p.drawText(QRectF(23, y, width() - 23, kRow), Qt::AlignLeft | Qt::AlignVCenter, row.text);
        y += kRow + kGap;
    }
    p.fillRect(QRectF(0, y + 4, width(), 1), S::line());
    y += 9 + kGap;
    const auto& moves = firstMoves();
    for (std::size_t i = 0; i < moves.size(); ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(S::paper());
        p.drawEllipse(QRectF(0, y, kMove, kMove));
        p.setFont(kit::sansFont(12, true));
        p.setPen(S::ink());
        p.drawText(QRectF(0, y, kMove, kMove), Qt::AlignCenter, QString::asprintf("%lld", static_cast<long long>(i + 1)));
        p.setFont(kit::sansFont(13, false));
        p.setPen(S::paper());
        p.drawText(QRectF(kMove + 10, y, width() - kMove - 10, kMove), Qt::AlignLeft | Qt::AlignVCenter, moves[i]);
        y += kMove + kGap;
    }
}

} // namespace zelvo::tour
