#include "ui/instrument/FourChannelMixer.h"

#include "state/AppLinks.h"
#include "state/AppModel.h"
#include "models/MixerModel.h"
#include "ui/instrument/MixerParts.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageSides.h"

#include <algorithm>

namespace zelvo {

FourChannelMixer::FourChannelMixer(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent,
                                   stage::StageSides* sides)
    : MixerPanel(env, QStringLiteral("mixer"), designSize, parent), model_(model), sides_(sides)
{
    setObjectName(QStringLiteral("instrument.fourMixer"));
    setDetail(QStringLiteral("4 channel"));
    AppModel* app = &model;
    MixerModel* mixer = &model.mixer();

    auto* knob = new BrowseKnob(model, env);
    auto* bottom = face::crossfaderBlock(model, env, 230, QStringLiteral("a"), QStringLiteral("b"), this);
    const double browseHeight = std::max(26.0, knob->designSize().height());
    constexpr double kFxKeyWidth = 58, kFxKeyHeight = 18;
    const double fxRowHeight = kFxKeyHeight + 14;

    std::vector<kit::DesignBox*> columns;
    double rowHeight = 0;
    for (const int index : face::kFourStripOrder) {
        kit::DesignBox* column = index < 0 ? static_cast<kit::DesignBox*>(new MasterColumn(model, env, 40, 24))
                                           : new ChannelStripView(model, env, index, true);
        rowHeight = std::max(rowHeight, column->designSize().height());
        columns.push_back(column);
    }
    auto* phones = new PhonesColumn(model, env, rowHeight);
    auto* fx = new BeatFXSection(model, env, BeatFXSection::fourChannel(), rowHeight);
    rowHeight = std::max({rowHeight, phones->designSize().height(), fx->designSize().height()});

    // The load keys read the halves' decks at press.
    loadLeft_ = new kit::HardKey(env, QStringLiteral("Load \u25c0"), face::deckSublabel(0), false, false,
                                 kit::KeyStyle::key, 64, 26, false,
                                 [this, app] { app->load(app->selectedTrack(), app->controller().activeDeck(0)); });
    loadLeft_->setObjectName(QStringLiteral("browse.loadLeft"));
    loadRight_ = new kit::HardKey(env, QStringLiteral("Load \u25b6"), face::deckSublabel(1), false, false,
                                  kit::KeyStyle::key, 64, 26, false,
                                  [this, app] { app->load(app->selectedTrack(), app->controller().activeDeck(1)); });
    loadRight_->setObjectName(QStringLiteral("browse.loadRight"));

    const double blockWidth = 4 * 62 + 40 + 4 * 2;
    const double rowWidth = PhonesColumn::kWidth + 5 + blockWidth + 5 + 70;
    auto* top = new kit::DesignBox(env, QSizeF(rowWidth, browseHeight + 6 + fxRowHeight + 6 + rowHeight), this);

    const double browseWidth = 64 + 10 + knob->designSize().width() + 10 + 64;
    double x = (rowWidth - browseWidth) / 2;
    top->place(loadLeft_, QRectF(x, (browseHeight - 26) / 2, 64, 26));
    x += 74;
    top->place(knob, QRectF(QPointF(x, (browseHeight - knob->designSize().height()) / 2), knob->designSize()));
    x += knob->designSize().width() + 10;
    top->place(loadRight_, QRectF(x, (browseHeight - 26) / 2, 64, 26));

    // The sound colour effect: one key per kind, exactly one lit.
    double y = browseHeight + 6;
    x = (rowWidth - (4 * kFxKeyWidth + 3 * 4)) / 2;
    for (const ColorFXKind kind : allColorFXKinds) {
        const QString name = QString::fromUtf8(label(kind).data(), qsizetype(label(kind).size()));
        auto* key = new kit::HardKey(env, name.left(1) + name.mid(1).toLower(), std::nullopt,
                                     mixer->colorFXKind() == kind, false, kit::KeyStyle::key, kFxKeyWidth,
                                     kFxKeyHeight, false, [mixer, kind] { mixer->setColorFXKind(kind); });
        key->setObjectName(QStringLiteral("mixer.cfx.") + name.toLower());
        connect(mixer, &MixerModel::colorFXKindChanged, key, [key, mixer, kind] { key->setLit(mixer->colorFXKind() == kind); });
        top->place(key, QRectF(x, y, kFxKeyWidth, kFxKeyHeight));
        x += kFxKeyWidth + 4;
    }
    auto* legend = new kit::Legend(env, QStringLiteral("sound color fx"), std::nullopt, 6.5, Qt::AlignHCenter, top);
    const QSizeF ls = legend->designSize();
    top->place(legend, QRectF(QPointF((rowWidth - ls.width()) / 2, y + kFxKeyHeight - ls.height() + 12), ls));

    y += fxRowHeight + 6;
    x = 0;
    top->place(phones, QRectF(QPointF(x, y), phones->designSize()));
    x += PhonesColumn::kWidth + 5;
    for (kit::DesignBox* column : columns) {
        top->place(column, QRectF(QPointF(x, y), column->designSize()));
        x += column->designSize().width() + 2;
    }
    x += 5 - 2;
    top->place(fx, QRectF(QPointF(x, y), fx->designSize()));

    setParts(top, bottom, 6);

    if (sides_)
        repaintOn(sides_.data(), &stage::StageSides::sidesChanged);
    refresh();
}

void FourChannelMixer::refresh()
{
    loadLeft_->setSublabel(face::deckSublabel(model_.controller().activeDeck(0)));
    loadRight_->setSublabel(face::deckSublabel(model_.controller().activeDeck(1)));
    update();
}

} // namespace zelvo
