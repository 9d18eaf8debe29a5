#include "ui/instrument/MixerView.h"

#include "state/AppModel.h"
#include "models/MixerModel.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/MixerParts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {
constexpr double kPadY = FaceLayout::kMixerPadY;
}

MixerPanel::MixerPanel(const kit::UiEnv& env, const QString& name, QSizeF designSize, QWidget* parent)
    : FaceModule(env, name, designSize, parent)
{
}

void MixerPanel::paintFace(kit::Canvas& canvas) { face::drawModulePanel(canvas, designSize(), 10, 0.7); }

void MixerPanel::setParts(kit::DesignBox* top, kit::DesignBox* bottom, double spacing)
{
    top_ = top;
    bottom_ = bottom;
    spacing_ = spacing;
    layoutParts();
}

double MixerPanel::idealHeight() const
{
    if (!top_ || !bottom_)
        return 0;
    return FaceLayout::mixerHeight(top_->designSize().height(), bottom_->designSize().height(), spacing_);
}

void MixerPanel::resizeEvent(QResizeEvent* event)
{
    FaceModule::resizeEvent(event);
    layoutParts();
}

void MixerPanel::layoutParts()
{
    const double s = scale();
    if (!top_ || !bottom_ || !(s > 0))
        return;
    const QSizeF size = designSize();
    const QSizeF t = top_->designSize();
    const QSizeF b = bottom_->designSize();
    top_->move(QPoint(int(std::lround((size.width() - t.width()) / 2 * s)), int(std::lround(kPadY * s))));
    const double bottomY = size.height() - kPadY - b.height();
    bottom_->move(QPoint(int(std::lround((size.width() - b.width()) / 2 * s)), int(std::lround(bottomY * s))));
}

namespace face {

kit::DesignBox* crossfaderBlock(AppModel& model, const kit::UiEnv& env, double length, const QString& left,
                                const QString& right, QWidget* parent)
{
    MixerModel* mixer = &model.mixer();
    auto* box = new kit::DesignBox(env, QSizeF(10, 10), parent);
    const QColor labelColour = kit::withAlpha(kit::Palette::bone(), 0.7);
    auto* a = silk(env, left, 8, labelColour, 1.1, box);
    auto* b = silk(env, right, 8, labelColour, 1.1, box);
    auto* fader = new kit::Fader(env, {[mixer] { return mixer->crossfader(); }, [mixer](double v) { mixer->setCrossfader(v); }},
                                 {-1, 1}, false, length, 11, true, false, std::nullopt, 26, box);
    fader->setObjectName(QStringLiteral("mixer.xfader"));
    fader->repaintOn(mixer, &MixerModel::crossfaderChanged);
    auto* caption = silk(env, QStringLiteral("crossfader"), 6.5, kit::withAlpha(kit::Palette::ash(), 0.8), 2, box);
    const QSizeF as = a->designSize(), bs = b->designSize(), fs = fader->designSize(), cs = caption->designSize();
    const double rowH = std::max({as.height(), bs.height(), fs.height()});
    const double rowW = as.width() + 8 + fs.width() + 8 + bs.width();
    const double width = std::max(rowW, cs.width());
    const double x = (width - rowW) / 2;
    box->setDesignSize(QSizeF(width, rowH + 2 + cs.height()));
    box->place(a, QRectF(QPointF(x, (rowH - as.height()) / 2), as));
    box->place(fader, QRectF(QPointF(x + as.width() + 8, (rowH - fs.height()) / 2), fs));
    box->place(b, QRectF(QPointF(x + as.width() + 8 + fs.width() + 8, (rowH - bs.height()) / 2), bs));
    box->place(caption, QRectF(QPointF((width - cs.width()) / 2, rowH + 2), cs));
    return box;
}

} // namespace face

MixerView::MixerView(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent)
    : MixerPanel(env, QStringLiteral("mixer"), designSize, parent)
{
    setObjectName(QStringLiteral("instrument.mixer"));
    setDetail(QStringLiteral("2 channel"));
    AppModel* app = &model;

    // The strips at their full size set the row's height.
    auto* knob = new BrowseKnob(model, env);
    auto* bottom = face::crossfaderBlock(model, env, 210, QStringLiteral("a\u00b71"), QStringLiteral("2\u00b7b"), this);
    const double browseHeight = std::max(26.0, knob->designSize().height());
    auto* left = new ChannelStripView(model, env, 0, false);
    auto* master = new MasterColumn(model, env, 44, 26);
    auto* right = new ChannelStripView(model, env, 1, false);
    const double stripHeight = std::max({left->designSize().height(), master->designSize().height()});
    auto* phones = new PhonesColumn(model, env, stripHeight);
    auto* fx = new BeatFXSection(model, env, BeatFXSection::twoChannel(), stripHeight);
    const double rowHeight = std::max({stripHeight, phones->designSize().height(), fx->designSize().height()});

    // The browse row: load keys for decks 1 and 2 around the knob.
    auto* loadLeft = new kit::HardKey(env, QStringLiteral("Load \u25c0"), QStringLiteral("deck 1"), false, false,
                                      kit::KeyStyle::key, 60, 26, false,
                                      [app] { app->load(app->selectedTrack(), 0); });
    loadLeft->setObjectName(QStringLiteral("browse.loadLeft"));
    auto* loadRight = new kit::HardKey(env, QStringLiteral("Load \u25b6"), QStringLiteral("deck 2"), false, false,
                                       kit::KeyStyle::key, 60, 26, false,
                                       [app] { app->load(app->selectedTrack(), 1); });
    loadRight->setObjectName(QStringLiteral("browse.loadRight"));

    const double rowWidth = PhonesColumn::kWidth + 6 + (80 + 4 + 44 + 4 + 80) + 6 + 74;
    auto* top = new kit::DesignBox(env, QSizeF(rowWidth, browseHeight + 7 + rowHeight), this);
    const double browseWidth = 60 + 10 + knob->designSize().width() + 10 + 60;
    double x = (rowWidth - browseWidth) / 2;
    top->place(loadLeft, QRectF(x, (browseHeight - 26) / 2, 60, 26));
    x += 70;
    top->place(knob, QRectF(QPointF(x, (browseHeight - knob->designSize().height()) / 2), knob->designSize()));
    x += knob->designSize().width() + 10;
    top->place(loadRight, QRectF(x, (browseHeight - 26) / 2, 60, 26));
    const double y = browseHeight + 7;
    x = 0;
    top->place(phones, QRectF(QPointF(x, y), phones->designSize()));
    x += PhonesColumn::kWidth + 6;
    top->place(left, QRectF(QPointF(x, y), left->designSize()));
    x += 84;
    top->place(master, QRectF(QPointF(x, y), master->designSize()));
    x += 48;
    top->place(right, QRectF(QPointF(x, y), right->designSize()));
    x += 86;
    top->place(fx, QRectF(QPointF(x, y), fx->designSize()));

    setParts(top, bottom, 7);
}

} // namespace zelvo
