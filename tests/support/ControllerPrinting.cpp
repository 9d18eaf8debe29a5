#include "ControllerPrinting.h"

#include <sstream>

namespace zelvo {

namespace {
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

const char* onOff(bool down)
{
    return down ? "down" : "up";
}
} // namespace

std::string describe(const DDJEvent& event)
{
    std::ostringstream s;
    std::visit(Overloaded{
                   [&](const DDJ::Key& e) {
                       s << "key(" << int(e.key.kind) << "/" << e.key.payload << ", deck " << e.deck
                         << (e.shift ? ", shift" : "") << ", " << onOff(e.down) << ")";
                   },
                   [&](const DDJ::Pad& e) {
                       s << "pad(deck " << e.deck << ", mode " << int(e.mode) << ", page " << e.page << ", pad "
                         << e.pad << (e.shift ? ", shift" : "") << ", " << onOff(e.down) << ")";
                   },
                   [&](const DDJ::Jog& e) {
                       s << "jog(deck " << e.deck << ", surface " << int(e.surface) << ", " << e.delta << ")";
                   },
                   [&](const DDJ::JogTouch& e) { s << "jogTouch(deck " << e.deck << ", " << onOff(e.down) << ")"; },
                   [&](const DDJ::Knob& e) {
                       s << "knob(" << int(e.knob) << ", deck " << e.deck << ", " << e.value << ")";
                   },
                   [&](const DDJ::Crossfader& e) { s << "crossfader(" << e.value << ")"; },
                   [&](const DDJ::CrossfaderAssign& e) {
                       s << "crossfaderAssign(deck " << e.deck << ", " << e.side << ")";
                   },
                   [&](const DDJ::DeckSelect& e) { s << "deckSelect(" << e.deck << ")"; },
                   [&](const DDJ::Browse& e) { s << "browse(" << e.delta << ")"; },
                   [&](const DDJ::Zoom& e) { s << "zoom(" << e.delta << ")"; },
                   [&](const DDJ::BrowsePress& e) { s << "browsePress(" << (e.shift ? "shift" : "") << ")"; },
                   [&](const DDJ::Load& e) { s << "load(" << e.deck << ")"; },
                   [&](const DDJ::HeadphonesMix& e) { s << "headphonesMix(" << e.value << ")"; },
                   [&](const DDJ::ColorFXSelect& e) { s << "colorFXSelect(" << e.effect << ")"; },
                   [&](const DDJ::BeatFXOn& e) {
                       s << "beatFXOn(" << (e.shift ? "shift, " : "") << onOff(e.down) << ")";
                   },
                   [&](const DDJ::BeatFXBeat& e) { s << "beatFXBeat(" << e.step << ")"; },
                   [&](const DDJ::BeatFXSelect& e) { s << "beatFXSelect(" << e.effect << ")"; },
                   [&](const DDJ::BeatFXStep& e) { s << "beatFXStep(" << e.step << ")"; },
                   [&](const DDJ::BeatFXChannel& e) {
                       s << "beatFXChannel(" << (e.channel ? std::to_string(*e.channel) : "none") << ")";
                   },
                   [&](const DDJ::BeatFXLevel& e) { s << "beatFXLevel(" << e.value << ")"; },
                   [&](const DDJ::Back&) { s << "back"; },
                   [&](const DDJ::View&) { s << "view"; },
               },
               event);
    return s.str();
}

std::string describe(const CDJEvent& event)
{
    std::ostringstream s;
    std::visit(Overloaded{
                   [&](const CDJ::Button& e) {
                       s << "button(" << int(e.button.kind) << "/" << e.button.amount << ", " << onOff(e.down) << ")";
                   },
                   [&](const CDJ::Platter& e) { s << "platter(" << e.speed << ")"; },
                   [&](const CDJ::JogSide& e) { s << "jogSide(" << e.speed << ")"; },
                   [&](const CDJ::JogTouch& e) { s << "jogTouch(" << onOff(e.down) << ")"; },
                   [&](const CDJ::Tempo& e) { s << "tempo(" << e.value << ")"; },
                   [&](const CDJ::Needle& e) {
                       s << "needle(" << (e.position ? std::to_string(*e.position) : "none") << ")";
                   },
                   [&](const CDJ::Browse& e) { s << "browse(" << e.delta << ")"; },
               },
               event);
    return s.str();
}

} // namespace zelvo
