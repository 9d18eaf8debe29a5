#include "SimulatedControllers.h"

#include <algorithm>

namespace zelvo::test {

SimulatedDdj::SimulatedDdj(VirtualMidiSystem& system, ControllerKind kind, std::string name,
                           std::optional<std::optional<std::string>> destinationName,
                           std::optional<std::size_t> position)
    : system_(system)
    , kind_(kind)
{
    VirtualMidiSystem::Device d;
    d.source = VirtualMidiSystem::Port{name};
    if (!destinationName)
        d.destination = VirtualMidiSystem::Port{name};
    else if (*destinationName)
        d.destination = VirtualMidiSystem::Port{**destinationName};
    d.usbLocation = 0x01100000;
    d.uniqueId = 0x5EED;
    device_ = system_.addDevice(std::move(d), position);
}

void SimulatedDdj::send(std::vector<std::uint8_t> bytes)
{
    system_.injectBytes(source(), bytes);
}

void SimulatedDdj::press(int channel, std::uint8_t note)
{
    send({std::uint8_t(0x90 | channel), note, 0x7F});
}

void SimulatedDdj::release(int channel, std::uint8_t note, Release form)
{
    if (form == Release::noteOff)
        send({std::uint8_t(0x80 | channel), note, 0x40});
    else
        send({std::uint8_t(0x90 | channel), note, 0x00});
}

void SimulatedDdj::pad(int deck, bool shift, HardwarePadMode mode, int page, int pad, bool down)
{
    const auto channel = std::uint8_t(7 + 2 * deck + (shift ? 1 : 0));
    const auto note = std::uint8_t(int(mode) << 4 | page << 3 | pad);
    send({std::uint8_t(0x90 | channel), note, std::uint8_t(down ? 0x7F : 0x00)});
}

void SimulatedDdj::knob(int channel, std::uint8_t msb, int value14, Halves halves)
{
    std::vector<std::uint8_t> b;
    const auto status = std::uint8_t(0xB0 | channel);
    if (halves != Halves::lsbOnly)
        b.insert(b.end(), {status, msb, std::uint8_t(value14 >> 7)});
    if (halves != Halves::msbOnly)
        b.insert(b.end(), {status, std::uint8_t(msb + 32), std::uint8_t(value14 & 0x7F)});
    send(std::move(b));
}

void SimulatedDdj::jog(int deck, JogSurface surface, int delta)
{
    std::uint8_t cc = 0x22;
    switch (surface) {
    case JogSurface::platter: cc = 0x22; break;
    case JogSurface::platterNudge: cc = 0x23; break;
    case JogSurface::side: cc = 0x21; break;
    case JogSurface::search: cc = 0x1F; break;
    }
    send({std::uint8_t(0xB0 | deck), cc, std::uint8_t(64 + delta)});
}

void SimulatedDdj::browse(int delta)
{
    send({0xB6, 0x40, std::uint8_t(delta & 0x7F)});
}

void SimulatedDdj::zoom(int delta)
{
    send({0xB6, 0x64, std::uint8_t(delta & 0x7F)});
}

void SimulatedDdj::beatFX(std::uint8_t note, bool down)
{
    send({0x94, note, std::uint8_t(down ? 0x7F : 0x00)});
}

void SimulatedDdj::global(std::uint8_t note)
{
    send({0x96, note, 0x7F});
}

void SimulatedDdj::raw(std::vector<std::uint8_t> bytes)
{
    send(std::move(bytes));
}

SimulatedDdj::Received SimulatedDdj::received(bool strict) const
{
    Received r;
    const auto& keepAlive = ControllerKinds::keepAlive(kind_);
    std::map<std::uint8_t, int> jogMsb; // MSB controller -> pending high bits
    for (const auto& sent : system_.sent(destination())) {
        ++r.sends;
        const auto& b = sent.bytes;
        std::size_t i = 0;
        while (i < b.size() && r.error.empty()) {
            if (b[i] == 0xF0) {
                const auto end = std::find(b.begin() + std::ptrdiff_t(i), b.end(), std::uint8_t(0xF7));
                if (end == b.end()) {
                    r.error = "unterminated SysEx";
                    break;
                }
                const std::vector<std::uint8_t> sysex(b.begin() + std::ptrdiff_t(i), end + 1);
                if (std::equal(sysex.begin(), sysex.end(), keepAlive.begin(), keepAlive.end()))
                    r.keepAlives.push_back(sent.at);
                else if (strict)
                    r.error = "unknown SysEx";
                i += sysex.size();
                ++r.messages;
                continue;
            }
            if (!(b[i] & 0x80)) {
                if (strict)
                    r.error = "running status or stray data byte";
                ++i;
                continue;
            }
            if (i + 3 > b.size()) {
                r.error = "partial message";
                break;
            }
            const std::uint8_t status = b[i], d1 = b[i + 1], d2 = b[i + 2];
            if ((d1 | d2) & 0x80) {
                r.error = "partial message";
                break;
            }
            i += 3;
            ++r.messages;
            const int type = status >> 4, channel = status & 0x0F;
            if (type == 0xB && channel < 4 && d1 == 0x02)
                r.meters[channel] = d2;
            else if (type == 0xB && channel < 4 && d1 == 73)
                r.keys[channel].first = d2;
            else if (type == 0xB && channel < 4 && d1 == 74)
                r.keys[channel].second = d2;
            else if (type == 0xB && channel == 15 && d1 >= 16 && d1 < 48)
                jogMsb[d1] = d2;
            else if (type == 0xB && channel == 15 && d1 >= 48 && d1 < 64 && jogMsb.contains(std::uint8_t(d1 - 32)))
                r.jogValues[std::uint8_t(d1 - 32)] = jogMsb[std::uint8_t(d1 - 32)] * 128 + d2;
            r.lamps[{status, d1}] = d2;
        }
    }
    return r;
}

SimulatedCdj::SimulatedCdj(VirtualMidiSystem& system, PlayerModel model, std::optional<std::uint32_t> location,
                           int channel, std::optional<std::uint32_t> uniqueId, std::optional<std::string> name)
    : system_(system)
    , channel_(channel)
{
    VirtualMidiSystem::Device d;
    d.source = VirtualMidiSystem::Port{name ? *name : std::string(PlayerModels::model(model))};
    d.usbLocation = location;
    d.uniqueId = uniqueId;
    device_ = system_.addDevice(std::move(d));
}

void SimulatedCdj::press(std::uint8_t note)
{
    const std::uint8_t b[] = {std::uint8_t(0x90 | channel_), note, 0x7F};
    system_.injectBytes(source(), b);
}

void SimulatedCdj::release(std::uint8_t note, Release form)
{
    const std::uint8_t b[] = {std::uint8_t((form == Release::noteOff ? 0x80 : 0x90) | channel_), note,
                              std::uint8_t(form == Release::noteOff ? 0x40 : 0x00)};
    system_.injectBytes(source(), b);
}

void SimulatedCdj::control(std::uint8_t cc, std::uint8_t value)
{
    const std::uint8_t b[] = {std::uint8_t(0xB0 | channel_), cc, value};
    system_.injectBytes(source(), b);
}

void SimulatedCdj::raw(std::vector<std::uint8_t> bytes)
{
    system_.injectBytes(source(), bytes);
}

} // namespace zelvo::test
