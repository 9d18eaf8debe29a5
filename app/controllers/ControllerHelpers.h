#pragma once
// Small helpers both halves of the controller model (the controller side in
// ControllerModel.cpp, the players' side in PlayerControl.cpp) share.
// Main thread only.
#include "audio/DeckVoice.h"
#include "models/DeckModel.h"

#include <QString>
#include <cmath>
#include <memory>

namespace zelvo::controllerhelpers {

// Sends a command to a deck's voice, if the deck has one.
inline void sendTo(DeckModel& deck, const DeckCommand& command)
{
    if (const std::shared_ptr<DeckVoice> voice = deck.voice())
        voice->send(command);
}

// A reading a controller shows: 0 where the value is not finite.
inline double finiteOr0(double value)
{
    return std::isfinite(value) ? value : 0.0;
}

// "on" or "off", as the log and the controller's read-outs spell them.
inline QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

} // namespace zelvo::controllerhelpers
