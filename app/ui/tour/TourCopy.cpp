#include "ui/tour/TourCopy.h"

namespace zelvo {

namespace {

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

TourCopy TourCopy::make(TourModel::Step step, const Inputs& in)
{
    using Step = TourModel::Step;
    const bool C = in.controller.has_value();
    const bool F = in.controller == ControllerKind::flx10;
    const bool P = in.players;
    TourCopy c;
    switch (step) {
    case Step::welcome: break;
    case Step::key:
        c.kicker = u("your key");
        c.title = u("one key brings zelvo-0.");
        c.body = u("zelvo-0 is the kavri model, and it runs on this computer. your free kavri key downloads it "
                   "from the kavri cdn, ") +
                 in.brainSize + u(", once. after that the app never touches the network.");
        break;
    case Step::controller:
        if (P) {
            c.kicker = u("the players");
            c.title = u("your cdjs are the decks.");
            c.body = u("each cdj-3000x in software control drives one deck and plays it out of its own outputs, so "
                       "your djm mixes zelvo-0 like any record. the one on deck 2 is zelvo-0's. go on: move its "
                       "tempo slider.");
            c.hands = {{u("MEMORY"), u("zelvo-0's key: fork · drop · keep going")},
                       {u("DELETE"), u("cancel or a new take")},
                       {u("CALL ◀ ▶"), u("zelvo-0's takes, on its deck")},
                       {u("SOURCE"), u("pick SOFTWARE CONTROL on each player")}};
        } else if (C) {
            c.kicker = u("the controller");
            c.title = u("the ") + (F ? u("flx10") : u("flx4")) + u(" is the instrument.");
            c.body = u("the stage is now laid out like the unit on your desk") +
                     (F ? u(" — four decks, its mixer, its jog screens") : u(" — two decks, its mixer, its pads")) +
                     u(", and its sound card is the output. go on: move a fader, turn a knob.");
        } else {
            c.kicker = u("the controller");
            c.title = u("plug in a ddj.");
            c.body = u("a ddj-flx10 or ddj-flx4 works the moment it's plugged in: the stage redraws to match it, its "
                       "pads and screens light up, and its sound card becomes the output. no controller? the "
                       "keyboard plays too.");
        }
        break;
    case Step::lanes:
        c.kicker = u("the decks");
        c.title = u("every deck at a glance.");
        c.body = u("each waveform shows its three bands: lows in blue, mids in amber, highs in white. the decks "
                   "your hands are on are tall. zelvo-0's audio carries red and cyan ghosts, so you always know "
                   "what's real.");
        if (F)
            c.hands = {{u("DECK 1/3 · 2/4"), u("which deck each side drives — the tall lanes follow")}};
        else
            c.hands = {{u("Z  X"), u("deck 1 cue · play")}, {u("N  M"), u("deck 2 cue · play")}};
        break;
    case Step::crate:
        c.kicker = u("the crate");
        c.title = u("drag your records in.");
        c.body = u("drop music anywhere on the stage, or Ctrl+O. the crate scores every row against what's playing "
                   "— tune, harmony, tempo, intensity — so what fits is at the top.");
        if (C)
            c.hands = {{u("BROWSE"), u("turn to dig · push to load")}, {u("tab"), u("open the crate")}};
        else
            c.hands = {{u("tab"), u("open the crate")}, {u("⏎  ⇧⏎"), u("load to deck 1 · deck 2")}};
        break;
    case Step::machine:
        c.kicker = u("zelvo-0");
        c.title = u("one key. it always knows what's next.");
        c.body = u("fork: zelvo-0 listens to the whole mix — every deck as you've blended it — and writes what "
                   "comes next. when it's ready, it waits. drop: it starts on deck 2 in time with the mix, and "
                   "bringing it in is yours.");
        if (F) {
            c.hands.emplace_back(u("MIX POINT LINK"), u("the key · shift: cancel or re-roll"));
            c.hands.emplace_back(u("◀  ▶"), u("step through the takes"));
        }
        if (C)
            c.hands.emplace_back(u("SAMPLER pads"), u("fork · drop · extend · re-roll"));
        c.hands.emplace_back(u("G  H"), u("fork · drop"));
        break;
    case Step::mixer:
        c.kicker = u("the mixer");
        c.title = u("the mixer moves with your hands.");
        c.body = u("every knob and fader here is the twin of one on the controller") +
                 (F ? u(", in the hardware's order — 3 · 1 · 2 · 4") : QString()) +
                 u(". move one and its value shows big for a second.");
        if (F)
            c.hands.emplace_back(u("DRUMS · VOCAL · INST"), u("take out the band that part lives in"));
        c.hands.emplace_back(u("←  →"), u("crossfader"));
        break;
    case Step::flow:
        c.kicker = u("chain & flow");
        c.title = u("it never has to stop.");
        c.body = u("chain: before a take runs out, zelvo-0 writes the next stretch from the last bar the room "
                   "heard. flow: your record, zelvo-0's take, the next best record, its take — and it backs off "
                   "whenever your hands are on.");
        break;
    case Step::go:
        c.kicker = u("that's it");
        c.title = u("you're set.");
        c.body = u("the tour lives in help → welcome tour if you want it again.");
        break;
    }
    return c;
}

} // namespace zelvo
