#include "models/ChannelModel.h"

namespace zelvo {

ChannelModel::ChannelModel(int crossfaderAssign, QObject* parent)
    : QObject(parent), crossfaderAssign_(crossfaderAssign)
{
}

void ChannelModel::bind(const std::shared_ptr<ChannelParams>& params)
{
    params_ = params;
    if (!params)
        return;
    params->trim.store(trim_);
    params->high.store(high_);
    params->mid.store(mid_);
    params->low.store(low_);
    params->colorFX.store(colorFX_);
    params->fader.store(fader_);
    params->cue.store(cue_);
    params->sync.store(sync_);
    params->crossfaderAssign.store(crossfaderAssign_);
}

namespace {

// Stores into the cell while bound, then updates the field; true when it changed.
template <typename T, typename Cell>
bool mirror(T& field, T value, const std::weak_ptr<ChannelParams>& params, Cell ChannelParams::*cell)
{
    if (const std::shared_ptr<ChannelParams> p = params.lock())
        ((*p).*cell).store(value);
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

void ChannelModel::setTrim(double value)
{
    if (mirror(trim_, value, params_, &ChannelParams::trim))
        emit trimChanged();
}

void ChannelModel::setHigh(double value)
{
    if (mirror(high_, value, params_, &ChannelParams::high))
        emit highChanged();
}

void ChannelModel::setMid(double value)
{
    if (mirror(mid_, value, params_, &ChannelParams::mid))
        emit midChanged();
}

void ChannelModel::setLow(double value)
{
    if (mirror(low_, value, params_, &ChannelParams::low))
        emit lowChanged();
}

void ChannelModel::setColorFX(double value)
{
    if (mirror(colorFX_, value, params_, &ChannelParams::colorFX))
        emit colorFXChanged();
}

void ChannelModel::setFader(double value)
{
    if (mirror(fader_, value, params_, &ChannelParams::fader))
        emit faderChanged();
}

void ChannelModel::setCue(bool on)
{
    if (mirror(cue_, on, params_, &ChannelParams::cue))
        emit cueChanged();
}

void ChannelModel::setSync(bool on)
{
    if (mirror(sync_, on, params_, &ChannelParams::sync))
        emit syncChanged();
}

void ChannelModel::setCrossfaderAssign(int side)
{
    if (const std::shared_ptr<ChannelParams> p = params_.lock())
        p->crossfaderAssign.store(side);
    if (crossfaderAssign_ == side)
        return;
    crossfaderAssign_ = side;
    emit crossfaderAssignChanged();
}

void ChannelModel::setBand(int part, double value)
{
    switch (part) {
    case kLow: setLow(value); break;
    case kMid: setMid(value); break;
    case kHigh: setHigh(value); break;
    default: break;
    }
}

void ChannelModel::togglePart(int part)
{
    if (part < 0 || part > 2)
        return;
    const auto i = std::size_t(part);
    if (!partsOff_[i]) {
        partsSaved_[i] = part == kLow ? low_ : part == kMid ? mid_ : high_;
        emit partsSavedChanged();
        setBand(part, -1.0);
    } else {
        setBand(part, partsSaved_[i]);
    }
    partsOff_[i] = !partsOff_[i];
    emit partsOffChanged();
}

void ChannelModel::touchedBand(int band)
{
    // A band number from a controller table we do not know: ignore it rather
    // than write outside the parts.
    if (band < 0 || band > 2)
        return;
    partsOff_[std::size_t(band)] = false;
    emit partsOffChanged();
}

} // namespace zelvo
