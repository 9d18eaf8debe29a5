#pragma once
// Which MIDI system the program runs on, chosen once at start.
#include "platform/MidiSystem.h"

#include <memory>
#include <string_view>

namespace zelvo {

class LogSink;
class VirtualMidiSystem;

// The virtual system when KAVRI_VIRTUAL_MIDI is set or the sequencer cannot be
// opened, else the ALSA sequencer; one log line says which. Main thread.
std::shared_ptr<MidiSystem> openMidiSystem(LogSink* log);

// Attaches the devices a KAVRI_VIRTUAL_MIDI value lists: comma-separated
// display names, each with an optional "@" and a hexadecimal USB location
// ("DDJ-FLX4,CDJ-3000X@21300000"). Players get a source, anything else a
// source and a destination. Returns how many were attached. Main thread.
int attachVirtualDevices(VirtualMidiSystem& system, std::string_view listed);

} // namespace zelvo
