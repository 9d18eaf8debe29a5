#include "models/MixerModel.h"

#include "audio/GainLaws.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace zelvo {

namespace {

constexpr std::array<int, MixerModel::kChannels> kSides{-1, +1, -1, +1};

// Stores into the cell while bound, then updates the field; true when it changed.
template <typename T, typename Stored, typename Cell>
bool mirror(T& field, T value, Stored stored, const std::weak_ptr<MixerParams>& params, Cell MixerParams::*cell)
{
    if (const std::shared_ptr<MixerParams> p = params.lock())
        ((*p).*cell).store(stored);
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

MixerModel::MixerModel(QObject* parent) : QObject(parent)
{
    for (std::size_t i = 0; i < channels_.size(); ++i)
        channels_[i] = new ChannelModel(kSides[i], this);
}

void MixerModel::bind(const std::shared_ptr<MixerParams>& params)
{
    params_ = params;
    if (!params)
        return;
    const std::size_t pairs = std::min(channels_.size(), params->channels.size());
    for (std::size_t i = 0; i < pairs; ++i)
        channels_[i]->bind(params->channels[i]);
    params->crossfader.store(crossfader_);
    params->crossfaderCurve.store(crossfaderCurve_);
    params->master.store(master_);
    params->cueMix.store(cueMix_);
    params->phones.store(phones_);
    params->colorFXKind.store(int(colorFXKind_));
    params->colorFXParameter.store(colorFXParameter_);
    params->beatFXKind.store(int(beatFXKind_));
    params->beatFXBeats.store(beatFractions[std::size_t(beatFXBeatIndex_)]);
    params->beatFXLevel.store(beatFXLevel_);
    params->beatFXOn.store(beatFXOn_);
    params->beatFXTarget.store(beatFXTarget_);
    params->limiter.store(limiter_);
    // Who leads the tempo does not depend on what plays: asked at once.
    if (carried_.master)
        params->masterRequest.store(*std::exchange(carried_.master, std::nullopt));
}

bool MixerModel::dropArmed() const
{
    if (carried_.drop)
        return true;
    const std::shared_ptr<MixerParams> p = params();
    return p && !std::isnan(p->dropOffset.load());
}

void MixerModel::armDrop(double offset)
{
    carried_.drop.reset();
    if (const std::shared_ptr<MixerParams> p = params())
        p->dropOffset.store(offset);
}

void MixerModel::disarmDrop()
{
    carried_.drop.reset();
    if (const std::shared_ptr<MixerParams> p = params())
        p->dropOffset.store(std::numeric_limits<double>::quiet_NaN());
}

void MixerModel::askAlignedStart(int deck)
{
    carried_.alignStart.reset();
    if (const std::shared_ptr<MixerParams> p = params())
        p->alignStart.store(deck);
}

void MixerModel::withdrawAlignedStart(int deck)
{
    if (carried_.alignStart == deck)
        carried_.alignStart.reset();
    if (const std::shared_ptr<MixerParams> p = params(); p && p->alignStart.load() == deck)
        p->alignStart.store(-1);
}

void MixerModel::carryUnrendered()
{
    const std::shared_ptr<MixerParams> p = params();
    if (!p)
        return;
    // Taken out of the cells (nothing renders them any more), so a second
    // look at the same stopped engine finds nothing more to carry and keeps
    // what was carried.
    if (const std::int64_t master = p->masterRequest.load(); master >= 0 && master < kChannels)
        carried_.master = int(master);
    if (const double drop = p->dropOffset.load(); !std::isnan(drop))
        carried_.drop = drop;
    if (const std::int64_t align = p->alignStart.load(); align == 0 || align == 1)
        carried_.alignStart = int(align);
    p->masterRequest.store(-1);
    p->dropOffset.store(std::numeric_limits<double>::quiet_NaN());
    p->alignStart.store(-1);
}

void MixerModel::releaseDrop()
{
    const std::shared_ptr<MixerParams> p = params();
    if (!p || !carried_.drop)
        return;
    p->dropOffset.store(*std::exchange(carried_.drop, std::nullopt));
}

void MixerModel::releaseAlignedStart()
{
    const std::shared_ptr<MixerParams> p = params();
    if (!p || !carried_.alignStart)
        return;
    p->alignStart.store(*std::exchange(carried_.alignStart, std::nullopt));
}

void MixerModel::setCrossfader(double value)
{
    if (mirror(crossfader_, value, value, params_, &MixerParams::crossfader))
        emit crossfaderChanged();
}

void MixerModel::setCrossfaderCurve(double value)
{
    if (mirror(crossfaderCurve_, value, value, params_, &MixerParams::crossfaderCurve))
        emit crossfaderCurveChanged();
}

void MixerModel::setMaster(double value)
{
    if (mirror(master_, value, value, params_, &MixerParams::master))
        emit masterChanged();
}

void MixerModel::setCueMix(double value)
{
    if (mirror(cueMix_, value, value, params_, &MixerParams::cueMix))
        emit cueMixChanged();
}

void MixerModel::setPhones(double value)
{
    if (mirror(phones_, value, value, params_, &MixerParams::phones))
        emit phonesChanged();
}

void MixerModel::setColorFXKind(ColorFXKind kind)
{
    if (mirror(colorFXKind_, kind, std::int64_t(kind), params_, &MixerParams::colorFXKind))
        emit colorFXKindChanged();
}

void MixerModel::setColorFXParameter(double value)
{
    if (mirror(colorFXParameter_, value, value, params_, &MixerParams::colorFXParameter))
        emit colorFXParameterChanged();
}

void MixerModel::setBeatFXKind(BeatFXKind kind)
{
    if (mirror(beatFXKind_, kind, std::int64_t(kind), params_, &MixerParams::beatFXKind))
        emit beatFXKindChanged();
}

void MixerModel::setBeatFXBeatIndex(int index)
{
    // The index picks a row of the length table: never read outside it.
    const int clamped = std::clamp(index, 0, kLastBeatIndex);
    if (mirror(beatFXBeatIndex_, clamped, beatFractions[std::size_t(clamped)], params_, &MixerParams::beatFXBeats))
        emit beatFXBeatIndexChanged();
}

void MixerModel::setBeatFXLevel(double value)
{
    if (mirror(beatFXLevel_, value, value, params_, &MixerParams::beatFXLevel))
        emit beatFXLevelChanged();
}

void MixerModel::setBeatFXOn(bool on)
{
    if (mirror(beatFXOn_, on, on, params_, &MixerParams::beatFXOn))
        emit beatFXOnChanged();
}

void MixerModel::setBeatFXTarget(int target)
{
    if (mirror(beatFXTarget_, target, std::int64_t(target), params_, &MixerParams::beatFXTarget))
        emit beatFXTargetChanged();
}

void MixerModel::setLimiter(bool on)
{
    if (mirror(limiter_, on, on, params_, &MixerParams::limiter))
        emit limiterChanged();
}

} // namespace zelvo
