#pragma once
// The ledger of the set: what flow knows of each record it has met during the
// run, and why. A record stands requested (the user queued it again after it
// was heard), cued by flow on a deck, mixing in (owed to the room until its mix
// completes), heard on air, or passed over with a reason; a few marks tie a
// record to the deck it stands on.
//
// Every change goes through `write`, which logs the line that comes with it
// through the sink flow writes to, and reports the change. The state root owns
// the ledger and alone writes it.
//
// Main thread only.
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <utility>

namespace zelvo {

class SetLedger {
public:
    enum class Standing { unknown, requested, cued, mixingIn, heard, passedOver };

    struct Entry {
        // Heard on air (playing, through the fader and the crossfader) and not
        // put on a deck or queued by the user since.
        bool onAir = false;
        // Queued again by the user after it was heard: what it was before the
        // request, restored when the request is taken back.
        std::optional<bool> requestedFrom;
        // When the request still standing was made: a play that starts after
        // it is the play asked for.
        QDateTime requestedAt;
        // Flow's cue of it stands on this deck.
        std::optional<int> cuedOn;
        // The running mix brings it in on this deck, taken from the queue or
        // from flow's cue: owed to the room until that mix completes.
        std::optional<int> mixingOn;
        // Loaded over the incoming deck while a mix ran onto it.
        bool owed = false;
        // Loaded by hand over a deck after the deck's record was heard: the
        // set stands there as when that record stopped.
        std::optional<int> standsHeardOn;
        // Still on this deck when flow's load meant to replace it was given up.
        std::optional<int> heldOn;
        // Flow gave up loading it: the fill does not queue it again this run.
        bool givenUp = false;
        // Why flow last dropped it from the queue without playing it.
        QString passedOverWhy;

        bool operator==(const Entry&) const = default;
    };

    // `note` writes a line of the set's log; `changed` is called after every change.
    SetLedger(std::function<void(const QString&)> note, std::function<void()> changed);

    // The one writer: sets a record's entry and logs `line` (none when empty).
    void write(const QUuid& id, const Entry& entry, const QString& line = {});

    // --- Reads
    Entry entry(const QUuid& id) const { return entries_.value(id); }
    // The standing that sums a record up, the most pressing first.
    Standing standing(const QUuid& id) const;
    bool onAir(const QUuid& id) const { return entry(id).onAir; }
    bool requested(const QUuid& id) const { return entry(id).requestedFrom.has_value(); }
    bool givenUp(const QUuid& id) const { return entry(id).givenUp; }
    bool owed(const QUuid& id) const { return entry(id).owed; }
    bool standsHeardOn(const QUuid& id, int deck) const { return entry(id).standsHeardOn == deck; }
    bool heldOn(const QUuid& id, int deck) const { return entry(id).heldOn == deck; }
    // The one record flow has cued, with its deck; and the one its mix owes.
    std::optional<std::pair<int, QUuid>> cued() const;
    std::optional<std::pair<int, QUuid>> mixingIn() const;
    std::optional<std::pair<int, QUuid>> held() const;
    QSet<QUuid> onAirSet() const;
    QSet<QUuid> givenUpSet() const;
    QSet<QUuid> requestedSet() const;

    // --- Changes, each through `write`
    // Heard on air now: a request has had its turn, a record owed is paid.
    void noteOnAir(const QUuid& id);
    // The user queued the record again at `at`: a heard record stands requested.
    void request(const QUuid& id, const QDateTime& at = {});
    // Taken off the queue before its turn: it stands as it did before.
    void takeBack(const QUuid& id, const QString& line = {});
    // Its turn came (it landed on a deck): an ordinary record from here on.
    void endRequest(const QUuid& id);
    // Put on a deck by the user: it may come in again.
    void clearOnAir(const QUuid& id);
    // Flow's cue: at most one record at a time.
    void cue(const QUuid& id, int deck, const QString& line = {});
    void uncue(const QUuid& id, const QString& line = {});
    void uncueAny(const QString& line = {});
    // A running mix brings it in: at most one record at a time; none clears it.
    void mixIn(std::optional<std::pair<int, QUuid>> record);
    // Loaded over the incoming deck of a running mix: at most one record.
    void setOwed(std::optional<QUuid> id);
    // Loaded by hand over a heard record on `deck`; none clears that deck's.
    void setStandsHeard(int deck, std::optional<QUuid> id);
    // Flow gave up loading it, with the line that says so.
    void giveUp(const QUuid& id, const QString& line);
    // What a deck still held under a load given up on; none clears it.
    void setHeld(std::optional<std::pair<int, QUuid>> record);
    // Dropped from the queue without playing, for this reason.
    void passOver(const QUuid& id, const QString& why, const QString& line);
    // A new run: records given up on may be queued again.
    void newRun();

private:
    template <typename F>
    void change(const QUuid& id, F&& edit, const QString& line = {});
    // Moves a deck mark to `to`'s record on `to`'s deck (none clears it),
    // taking it from the record that holds it now: the one whose mark
    // matches `holds`.
    template <typename Holds>
    void moveMark(std::optional<int> Entry::*field, Holds holds, const std::optional<std::pair<int, QUuid>>& to,
                  const QString& line = {});

    QHash<QUuid, Entry> entries_;
    std::function<void(const QString&)> note_;
    std::function<void()> changed_;
};

} // namespace zelvo
