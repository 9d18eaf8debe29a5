#pragma once
// The keyboard's and the pads' rig: a booted state root on the scripted output,
// decks 1 and 2 holding a 120 bpm track, a fake of the workflow's remaining
// actions and the queue that journals into the rig's journal, and a shown
// window whose own widget records every key event that reaches it.
#include "AppTestSupport.h"
#include "state/PerformanceLink.h"
#include "audio/DeckState.h"
#include "models/DeckModel.h"

#include <QEvent>
#include <QLineEdit>
#include <QWidget>
#include <utility>
#include <vector>

namespace zelvo::test {

struct FakePerformanceState {
    bool rendering = false;
    bool snoozed = false;
};

// Journals every call into the rig's journal.
class FakePerformance final : public PerformanceLink {
public:
    FakePerformance(QStringList& journal, FakePerformanceState& state) : j_(journal), s_(state) {}
    void reroll() override { j_ << "reroll"; }
    void stepTake(int delta) override { j_ << QStringLiteral("stepTake(%1)").arg(delta); }
    void cancel() override { j_ << "cancel"; }
    bool rendering() const override { return s_.rendering; }
    bool chainSnoozed() const override { return s_.snoozed; }
    void resumeChain() override { j_ << "resumeChain"; s_.snoozed = false; }
    void keySync(int deck) override { j_ << QStringLiteral("keySync(%1)").arg(deck); }
    void enqueue(const QUuid& id) override { j_ << QStringLiteral("enqueue(%1)").arg(id.toString()); }
    void loadNext() override { j_ << "loadNext"; }
    void load(const QUuid& id, int deck) override { j_ << QStringLiteral("load(%1,%2)").arg(id.toString()).arg(deck); }

private:
    QStringList& j_;
    FakePerformanceState& s_;
};

// A focusable widget that records the key events delivered to it.
class KeyRecorder final : public QWidget {
public:
    std::vector<std::pair<QEvent::Type, int>> seen;
    KeyRecorder() { setFocusPolicy(Qt::StrongFocus); }
    bool event(QEvent* event) override;
};

struct PerformanceRig {
    // With `output` false the decks have no engine voice.
    explicit PerformanceRig(bool output = true);
    DeckModel& deck(int i) { return app().deck(i); }
    AppModel& app() { return *rig.app; }
    const DeckState& state(int i) { return deck(i).voice()->state(); }
    // Plays a few renders so the engine takes the commands, then refreshes the decks.
    void render();
    // Key events to the window, the real path of a keyboard.
    void press(int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false);
    void release(int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false);
    void tap(int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // The events that reached the window's widget since the last call.
    std::vector<std::pair<QEvent::Type, int>> passedOn();

    AppRig rig;
    FakePerformanceState fake;
    QUuid trackId = QUuid::createUuid();
    KeyRecorder window;
    QLineEdit* field = nullptr;
    bool booted = false;
};

} // namespace zelvo::test
