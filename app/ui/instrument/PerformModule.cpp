#include "ui/instrument/PerformModule.h"

#include "state/AppModel.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/Scheduler.h"
#include "ui/instrument/MixerFaces.h"
#include "ui/instrument/MixerParts.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

constexpr double kPad = 10;

template <typename W>
W* named(W* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

kit::DotMatrix::Look dots(const QString& text, double pitch, std::optional<int> columns, const QColor& colour,
                          bool dim = false, bool aberration = false, std::optional<double> scroll = std::nullopt)
{
    return {text, pitch, columns, colour, dim, aberration, scroll};
}

void drawDots(kit::Canvas& canvas, const kit::DotMatrix::Look& look, QPointF at)
{
    canvas.save();
    canvas.translate(at);
    kit::DotMatrix::draw(canvas, look);
    canvas.restore();
}

// Seconds since 2001 of the scheduler's clock.
double secondsSince2001(const Scheduler& scheduler)
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return double(reference.msecsTo(scheduler.now())) / 1000.0;
}

bool running(const TransitionModel& transition)
{
    return transition.phase().kind != TransitionModel::Phase::Kind::idle;
}

// The first queued record the library still holds.
std::optional<TrackRecord> nextQueued(const AppModel& model)
{
    for (const QUuid& id : model.queue())
        if (auto record = model.library().track(id))
            return record;
    return std::nullopt;
}

// A horizontal rule of the edge colour, 1 high, `width` wide.
class Rule final : public kit::FaceWidget {
public:
    Rule(const kit::UiEnv& env, double width, QWidget* parent) : FaceWidget(env, parent), width_(width)
    {
        resizeToDesign();
    }
    QSizeF designSize() const override { return QSizeF(width_, 1); }
    void paintFace(kit::Canvas& canvas) override
    {
        canvas.fillRect(QRectF(0, 0, width_, 1), kit::withAlpha(kit::Palette::edge(), 0.6));
    }

private:
    double width_;
};

} // namespace

PerformModule::PerformModule(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent)
    : FaceModule(env, QStringLiteral("perform"), designSize, parent), model_(model)
{
    setObjectName(QStringLiteral("instrument.perform"));
    const double width = kWidth - 2 * kPad;
    AppModel* app = &model;

    header_ = new kit::DesignBox(env, QSizeF(width, 20), this);
    const AppModel::PerformPage pages[] = {AppModel::PerformPage::mix, AppModel::PerformPage::fx};
    double x = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        const AppModel::PerformPage page = pages[i];
        pageKeys_[i] = named(new kit::HardKey(env, AppModel::rawValue(page), std::nullopt, false, false,
                                              kit::KeyStyle::key, 46, 20, false, [app, page] { app->setPerformPage(page); }),
                             QStringLiteral("perform.key.") + AppModel::rawValue(page).toLower());
        header_->place(pageKeys_[i], QRectF(x, 0, 46, 20));
        x += 50;
    }
    header_->setBackground([this, app, x, width](kit::Canvas& canvas, QSizeF) {
        const bool mix = app->performPage() == AppModel::PerformPage::mix;
        const kit::TextLine caption =
            kit::silkText(face::pageCaption(mix), 7.5, kit::withAlpha(kit::Palette::bone(), 0.6), 1.6);
        const QSizeF cs = caption.size();
        const double ruleEnd = width - cs.width() - 4;
        if (ruleEnd > x)
            canvas.fillRect(QRectF(x, 9.5, ruleEnd - x, 1), kit::withAlpha(kit::Palette::edge(), 0.6));
        caption.draw(canvas, QPointF(width - cs.width(), (20 - cs.height()) / 2));
    });
    header_->move(QPoint(int(kPad * scale()), int(kPad * scale())));

    pages_[0] = named(buildMixPage(env, width, fit_), QStringLiteral("perform.mix"));
    pages_[1] = named(buildFXPage(env, width), QStringLiteral("perform.fx"));
    pageHeight_ = std::max(pages_[0]->designSize().height(), pages_[1]->designSize().height());
    designSizeChanged();
    repaintOn(app, &AppModel::performPageChanged);
    refresh();
}

void PerformModule::paintFace(kit::Canvas& canvas) { face::drawModulePanel(canvas, designSize(), 9, 0.6); }

void PerformModule::refresh()
{
    const bool mix = model_.performPage() == AppModel::PerformPage::mix;
    pageKeys_[0]->setLit(mix);
    pageKeys_[1]->setLit(!mix);
    const double s = scale();
    header_->move(QPoint(int(kPad * s + 0.5), int(fit_.padY * s + 0.5)));
    for (kit::DesignBox* page : pages_) {
        page->move(QPoint(int(kPad * s + 0.5), int((fit_.padY + 20 + fit_.gap) * s + 0.5)));
        page->setVisible(page == pages_[mix ? 0 : 1]);
    }
    header_->update();
    update();
}

double PerformModule::idealHeight() const { return kPad + 20 + 8 + pageHeight_ + kPad; }

PerformModule::Fit PerformModule::fitFor(double give)
{
    // A row shorter than the module needs takes it from the mix page's status
    // glass first (its margins down to 2 above and below its lines), then
    // from the five gaps under the page keys and between the page's rows
    // (down to 2), then from the padding above and below (down to 5).
    Fit f;
    give = std::isfinite(give) ? std::max(0.0, give) : 0.0;
    f.statusGive = std::min(give, 8.0);
    give -= f.statusGive;
    const double gaps = std::min(give, 5 * 6.0);
    f.gap = 8 - gaps / 5;
    give -= gaps;
    f.padY = kPad - std::min(give, 2 * 5.0) / 2;
    return f;
}

void PerformModule::designSizeChanged()
{
    const Fit fit = fitFor(idealHeight() - designSize().height());
    if (!pages_[0] || (fit.statusGive == fit_.statusGive && fit.gap == fit_.gap && fit.padY == fit_.padY))
        return;
    fit_ = fit;
    delete pages_[0];
    pages_[0] = named(buildMixPage(env(), kWidth - 2 * kPad, fit_), QStringLiteral("perform.mix"));
    refresh();
}

kit::DesignBox* PerformModule::buildMixPage(const kit::UiEnv& env, double width, const Fit& fit)
{
    AppModel* app = &model_;
    TransitionModel* transition = &model_.transition();
    auto* page = new kit::DesignBox(env, QSizeF(width, 10), this);
    face::Stack stack{page, 0, width, 0, fit.gap};

    // The status panel: live deck, the guide scrolling and the mix bar.
    const auto head = dots(QStringLiteral("NEXT STEP"), 1.2, std::nullopt, kit::Palette::bone(), true);
    const auto guideLook = dots(QString(), 1.6, 32, kit::Palette::glow());
    const double statusLines =
        kit::DotMatrix::size(head).height() + 5 + kit::DotMatrix::size(guideLook).height() + 5 + 3;
    const double statusHeight = 6 + statusLines + 6 - fit.statusGive;
    Scheduler* scheduler = env.scheduler;
    status_ = named(
        new kit::LiveCanvas(env, QSizeF(width, statusHeight), 3,
                            [app, transition, scheduler, head, guideLook, statusLines](kit::Canvas& canvas,
                                                                                        QSizeF size, double) {
                                kit::drawGlassBack(canvas, size, 3);
                                const int live = transition->liveDeck();
                                // The lines centred in the glass.
                                const double top = (size.height() - statusLines) / 2;
                                drawDots(canvas, head, QPointF(8, top));
                                const auto liveLook = dots(QStringLiteral("LIVE: DECK %1").arg(live + 1), 1.2,
                                                           std::nullopt, kit::Palette::glow(), false, live == 1);
                                drawDots(canvas, liveLook,
                                         QPointF(size.width() - 8 - kit::DotMatrix::size(liveLook).width(), top));
                                double y = top + kit::DotMatrix::size(head).height() + 5;
                                auto guide = guideLook;
                                guide.text = app->guide();
                                if (scheduler)
                                    guide.scrollPhase = face::guidePhase(secondsSince2001(*scheduler));
                                drawDots(canvas, guide, QPointF(8, y));
                                y += kit::DotMatrix::size(guide).height() + 5;
                                const double barWidth = size.width() - 16;
                                const double w = (barWidth - (face::kMixSlots - 1)) / face::kMixSlots;
                                const auto lit = face::mixSlots(transition->phase());
                                std::vector<QRectF> on, off;
                                for (int k = 0; k < face::kMixSlots; ++k)
                                    (lit[std::size_t(k)] ? on : off).emplace_back(8 + k * (w + 1), y, w, 3);
                                canvas.fillRects(off, kit::withAlpha(kit::Palette::glow(), 0.07));
                                canvas.fillRects(on, kit::withAlpha(kit::Palette::glow(), 0.9));
                                kit::drawGlassOverlay(canvas, size);
                                kit::drawGlassBorder(canvas, size, 3);
                            },
                            page),
        QStringLiteral("mix.status"));
    stack.add(status_);
    const auto followPhase = [this, transition] {
        status_->setFps(running(*transition) ? 6 : 3);
        status_->update();
    };
    connect(transition, &TransitionModel::phaseChanged, status_, followPhase);
    connect(&model_.mixer(), &MixerModel::crossfaderChanged, status_, [this] { status_->update(); });
    followPhase();

    // The mix keys: one call starts a transition or calls the running one off.
    std::array<kit::HardKey*, 2> mixKeys{};
    for (int deck = 0; deck < 2; ++deck) {
        mixKeys[std::size_t(deck)] = named(new kit::HardKey(env, QString(), QString(), false, false, kit::KeyStyle::wide,
                                                            150, 40, false, [transition, deck] { transition->mix(deck); }),
                                           deck == 0 ? QStringLiteral("mix.left") : QStringLiteral("mix.right"));
        page->place(mixKeys[std::size_t(deck)], QRectF((width - 306) / 2 + deck * 156, stack.y, 150, 40));
    }
    stack.y += 40 + stack.spacing;
    const auto relabel = [app, transition, mixKeys] {
        const auto& deck2 = app->deck(1).track();
        const bool generated = deck2 && deck2->isOutpaint();
        for (int deck = 0; deck < 2; ++deck) {
            const face::MixKeyFace f = face::mixKey(deck, transition->phase(), transition->liveDeck(), generated);
            kit::HardKey* key = mixKeys[std::size_t(deck)];
            key->setLabel(f.label);
            key->setSublabel(f.sublabel);
            key->setLit(f.lit);
            key->setBlink(f.blink);
        }
    };
    connect(transition, &TransitionModel::phaseChanged, page, relabel);
    connect(&model_.mixer(), &MixerModel::crossfaderChanged, page, relabel);
    connect(&model_.deck(1), &DeckModel::trackChanged, page, relabel);
    relabel();

    // Style and bars rows.
    const auto row = [&](const QString& title, std::vector<std::pair<kit::HardKey*, double>> keys) {
        auto* label = face::silk(env, title, 7, kit::Palette::ash(), 1.1, page);
        double total = label->designSize().width();
        for (const auto& k : keys)
            total += 4 + k.second;
        double x = (width - total) / 2;
        page->place(label, QRectF(QPointF(x, stack.y + (20 - label->designSize().height()) / 2), label->designSize()));
        x += label->designSize().width() + 4;
        for (const auto& [key, w] : keys) {
            page->place(key, QRectF(x, stack.y, w, 20));
            x += w + 4;
        }
        stack.y += 20 + stack.spacing;
    };
    std::vector<std::pair<kit::HardKey*, double>> styleKeys;
    for (const face::StyleKey& s : face::styleKeys()) {
        const TransitionStyle style = s.style;
        auto* key = named(new kit::HardKey(env, s.label, std::nullopt, transition->style() == style, false,
                                           kit::KeyStyle::key, s.width, 20, false,
                                           [transition, style] { transition->setStyle(style); }),
                          QStringLiteral("mix.style.%1").arg(int(style)));
        connect(transition, &TransitionModel::styleChanged, key,
                [key, transition, style] { key->setLit(transition->style() == style); });
        styleKeys.emplace_back(key, s.width);
    }
    row(QStringLiteral("style"), styleKeys);
    std::vector<std::pair<kit::HardKey*, double>> barKeys;
    for (const int bars : face::kBarCounts) {
        auto* key = named(new kit::HardKey(env, QString::number(bars), std::nullopt, transition->bars() == bars, false,
                                           kit::KeyStyle::key, 34, 20, false,
                                           [transition, bars] { transition->setBars(bars); }),
                          QStringLiteral("mix.bars.%1").arg(bars));
        connect(transition, &TransitionModel::barsChanged, key,
                [key, transition, bars] { key->setLit(transition->bars() == bars); });
        barKeys.emplace_back(key, 34);
    }
    row(QStringLiteral("bars"), barKeys);

    // The queue row: what loads next, and the Next and Auto keys.
    const auto headLook = dots(QString(), 1.1, 30, kit::Palette::bone(), true);
    const auto titleLook = dots(QString(), 1.4, 26, kit::Palette::glow());
    const double upHeight = 5 + kit::DotMatrix::size(headLook).height() + 3 + kit::DotMatrix::size(titleLook).height() + 5;
    const double keysHeight = 22 + 3 + 22;
    const double queueHeight = std::max(upHeight, keysHeight);
    const double upWidth = width - 6 - 70;
    auto* upNext = named(
        new kit::LiveCanvas(env, QSizeF(upWidth, queueHeight), 0,
                            [app, transition, headLook, titleLook](kit::Canvas& canvas, QSizeF size, double) {
                                kit::drawGlassBack(canvas, size, 3);
                                const auto next = nextQueued(*app);
                                std::optional<double> score;
                                if (next)
                                    score = app->matchScore(*next, app->referenceTrack());
                                const face::UpNextFace f =
                                    face::upNext(int(app->queue().size()), transition->liveDeck(),
                                                 next ? std::optional<QString>(next->title) : std::nullopt, score,
                                                 app->autoQueue());
                                const double top = (size.height() - (kit::DotMatrix::size(headLook).height() + 3 +
                                                                     kit::DotMatrix::size(titleLook).height())) /
                                                   2;
                                auto head = headLook;
                                head.text = f.header;
                                drawDots(canvas, head, QPointF(7, top));
                                if (f.fit) {
                                    const auto fit = dots(*f.fit, 1.1, std::nullopt,
                                                          f.fitGood ? kit::Palette::glow() : kit::Palette::bone(),
                                                          !f.fitGood);
                                    drawDots(canvas, fit,
                                             QPointF(size.width() - 7 - kit::DotMatrix::size(fit).width(), top));
                                }
                                auto title = titleLook;
                                title.text = f.title;
                                title.color = f.titleFound ? kit::Palette::glow() : kit::Palette::ash();
                                drawDots(canvas, title, QPointF(7, top + kit::DotMatrix::size(head).height() + 3));
                                kit::drawGlassOverlay(canvas, size);
                                kit::drawGlassBorder(canvas, size, 3);
                            },
                            page),
        QStringLiteral("mix.upNext"));
    page->place(upNext, QRectF(QPointF(0, stack.y), upNext->designSize()));
    auto* next = named(new kit::HardKey(env, QStringLiteral("Next"), QStringLiteral("load cued"), false, false,
                                        kit::KeyStyle::key, 70, 22, false, [app] { app->loadNext(); }),
                       QStringLiteral("mix.next"));
    auto* autoKey = named(new kit::HardKey(env, QStringLiteral("Auto"), QStringLiteral("picks \u00b7 cues \u00b7 mixes"),
                                           false, false, kit::KeyStyle::key, 70, 22, false,
                                           [app] { app->setAutoQueue(!app->autoQueue()); }),
                          QStringLiteral("mix.auto"));
    const double ky = stack.y + (queueHeight - keysHeight) / 2;
    page->place(next, QRectF(upWidth + 6, ky, 70, 22));
    page->place(autoKey, QRectF(upWidth + 6, ky + 25, 70, 22));
    stack.y += queueHeight + stack.spacing;
    const auto requeue = [app, upNext, next, autoKey] {
        next->setLit(nextQueued(*app).has_value());
        autoKey->setLit(app->autoQueue());
        upNext->update();
    };
    connect(app, &AppModel::queueChanged, page, requeue);
    connect(app, &AppModel::autoQueueChanged, page, requeue);
    connect(&app->library(), &LibraryStore::tracksChanged, page, requeue);
    connect(&model_.mixer(), &MixerModel::crossfaderChanged, page, requeue);
    for (int deck = 0; deck < 2; ++deck)
        connect(&model_.deck(deck), &DeckModel::trackChanged, page, requeue);
    requeue();

    page->setDesignSize(QSizeF(width, stack.y - stack.spacing));
    return page;
}

kit::DesignBox* PerformModule::buildFXPage(const kit::UiEnv& env, double width)
{
    MixerModel* mixer = &model_.mixer();
    auto* page = new kit::DesignBox(env, QSizeF(width, 10), this);
    double y = 0;
    auto* heading = face::silk(env, QStringLiteral("cfx kind"), 8, kit::withAlpha(kit::Palette::bone(), 0.75), 1.8, page);
    const QSizeF hs = heading->designSize();
    page->place(heading, QRectF(QPointF(0, y), hs));
    page->place(new Rule(env, std::max(1.0, width - hs.width() - 6), page),
                QRectF(hs.width() + 6, y + hs.height() / 2, std::max(1.0, width - hs.width() - 6), 1));
    y += hs.height() + 8;

    auto* param = named(new kit::Knob(env, {[mixer] { return mixer->colorFXParameter(); },
                                            [mixer](double v) { mixer->setColorFXParameter(v); }},
                                      {0, 1}, false, QStringLiteral("param"), 20, std::nullopt, 9, page),
                        QStringLiteral("fx.param"));
    param->repaintOn(mixer, &MixerModel::colorFXParameterChanged);
    const double rowHeight = std::max(22.0, param->designSize().height());
    double x = 0;
    for (const ColorFXKind kind : allColorFXKinds) {
        const QString name = QString::fromUtf8(label(kind).data(), qsizetype(label(kind).size()));
        auto* key = named(new kit::HardKey(env, name, std::nullopt, mixer->colorFXKind() == kind, false,
                                           kit::KeyStyle::key, 54, 22, false, [mixer, kind] { mixer->setColorFXKind(kind); }),
                          QStringLiteral("fx.kind.") + name.toLower());
        connect(mixer, &MixerModel::colorFXKindChanged, key, [key, mixer, kind] { key->setLit(mixer->colorFXKind() == kind); });
        page->place(key, QRectF(x, y + (rowHeight - 22) / 2, 54, 22));
        x += 58;
    }
    page->place(param, QRectF(QPointF(x, y + (rowHeight - param->designSize().height()) / 2), param->designSize()));
    y += rowHeight + 8;

    auto* curve = named(new kit::Knob(env, {[mixer] { return mixer->crossfaderCurve(); },
                                            [mixer](double v) { mixer->setCrossfaderCurve(v); }},
                                      {0, 1}, false, QStringLiteral("x\u00b7curve"), 20, std::nullopt, 9, page),
                        QStringLiteral("fx.curve"));
    curve->repaintOn(mixer, &MixerModel::crossfaderCurveChanged);
    auto* limiter = named(new kit::HardKey(env, QStringLiteral("Limiter"), std::nullopt, mixer->limiter(), false,
                                           kit::KeyStyle::key, 64, 22, false, [mixer] { mixer->setLimiter(!mixer->limiter()); }),
                          QStringLiteral("fx.limiter"));
    connect(mixer, &MixerModel::limiterChanged, limiter, [limiter, mixer] { limiter->setLit(mixer->limiter()); });
    const double row2 = std::max(22.0, curve->designSize().height());
    page->place(curve, QRectF(QPointF(0, y + (row2 - curve->designSize().height()) / 2), curve->designSize()));
    page->place(limiter, QRectF(width - 64, y + (row2 - 22) / 2, 64, 22));
    y += row2;
    page->setDesignSize(QSizeF(width, y));
    return page;
}

} // namespace zelvo
