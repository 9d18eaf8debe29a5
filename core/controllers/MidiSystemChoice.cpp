#include "controllers/MidiSystemChoice.h"

#include "controllers/PlayerModel.h"
#include "platform/AlsaMidiSystem.h"
#include "platform/LogSink.h"
#include "platform/VirtualMidiSystem.h"

#include <QString>

#include <charconv>
#include <cstdlib>

namespace zelvo {

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

int attachVirtualDevices(VirtualMidiSystem& system, std::string_view listed)
{
    int attached = 0;
    while (!listed.empty()) {
        const auto comma = listed.find(',');
        std::string_view item = trimmed(listed.substr(0, comma));
        listed = comma == std::string_view::npos ? std::string_view{} : listed.substr(comma + 1);
        if (item.empty())
            continue;
        std::optional<std::uint32_t> location;
        if (const auto at = item.rfind('@'); at != std::string_view::npos) {
            const auto hex = trimmed(item.substr(at + 1));
            std::uint32_t value = 0;
            const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
            if (ec == std::errc() && end == hex.data() + hex.size() && !hex.empty()) {
                location = value;
                item = trimmed(item.substr(0, at));
            }
        }
        if (item.empty())
            continue;
        VirtualMidiSystem::Device d;
        d.source = VirtualMidiSystem::Port{std::string(item)};
        if (!PlayerModels::match(item))
            d.destination = VirtualMidiSystem::Port{std::string(item)};
        d.usbLocation = location;
        // Distinct ids keep players without a location on ports of their own.
        d.uniqueId = AlsaMidi::uniqueId("virtual", std::to_string(attached) + ":" + std::string(item));
        system.addDevice(std::move(d));
        ++attached;
    }
    return attached;
}

std::shared_ptr<MidiSystem> openMidiSystem(LogSink* log)
{
    const char* listed = std::getenv("KAVRI_VIRTUAL_MIDI");
    std::string why;
    if (!listed) {
        std::string error;
        if (auto alsa = AlsaMidi::open(log, &error)) {
            if (log)
                log->note("controller: midi through the ALSA sequencer");
            return alsa;
        }
        why = "no sequencer (" + error + ")";
    } else {
        why = "KAVRI_VIRTUAL_MIDI";
    }
    auto virtualSystem = std::make_shared<VirtualMidiSystem>();
    const int devices = listed ? attachVirtualDevices(*virtualSystem, listed) : 0;
    if (log)
        log->note(QString::fromStdString("controller: midi on virtual ports — " + why + ", "
                                         + std::to_string(devices) + " device(s) attached"));
    return virtualSystem;
}

} // namespace zelvo
