#include "state/SetLedger.h"

#include <utility>

namespace zelvo {

SetLedger::SetLedger(std::function<void(const QString&)> note, std::function<void()> changed)
    : note_(std::move(note))
    , changed_(std::move(changed))
{
}

void SetLedger::write(const QUuid& id, const Entry& entry, const QString& line)
{
    const bool differs = entries_.value(id) != entry;
    if (entry == Entry())
        entries_.remove(id);
    else
        entries_.insert(id, entry);
    if (!line.isEmpty() && note_)
        note_(line);
    if (differs && changed_)
        changed_();
}

template <typename F>
void SetLedger::change(const QUuid& id, F&& edit, const QString& line)
{
    Entry entry = entries_.value(id);
    edit(entry);
    write(id, entry, line);
}

SetLedger::Standing SetLedger::standing(const QUuid& id) const
{
    const Entry e = entry(id);
    const bool passedOver = e.givenUp || e.heldOn || !e.passedOverWhy.isEmpty();
    // The most pressing first.
    const std::pair<bool, Standing> order[] = {
        {e.mixingOn.has_value(), Standing::mixingIn}, {e.cuedOn.has_value(), Standing::cued},
        {e.requestedFrom.has_value(), Standing::requested}, {passedOver, Standing::passedOver},
        {e.onAir, Standing::heard},
    };
    for (const auto& [holds, standing] : order)
        if (holds)
            return standing;
    return Standing::unknown;
}

namespace {

template <typename Field>
std::optional<std::pair<int, QUuid>> findOn(const QHash<QUuid, SetLedger::Entry>& entries, Field field)
{
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (const std::optional<int> deck = it.value().*field)
            return std::pair<int, QUuid>(*deck, it.key());
    return std::nullopt;
}

// The records whose entries match `pred`.
template <typename Pred>
QSet<QUuid> idsWhere(const QHash<QUuid, SetLedger::Entry>& entries, Pred pred)
{
    QSet<QUuid> ids;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (pred(it.value()))
            ids.insert(it.key());
    return ids;
}

// A mark one record holds at a time, on whichever deck.
bool onAnyDeck(const std::optional<int>& on)
{
    return on.has_value();
}

} // namespace

std::optional<std::pair<int, QUuid>> SetLedger::cued() const
{
    return findOn(entries_, &Entry::cuedOn);
}

std::optional<std::pair<int, QUuid>> SetLedger::mixingIn() const
{
    return findOn(entries_, &Entry::mixingOn);
}

std::optional<std::pair<int, QUuid>> SetLedger::held() const
{
    return findOn(entries_, &Entry::heldOn);
}

QSet<QUuid> SetLedger::onAirSet() const
{
    return idsWhere(entries_, [](const Entry& e) { return bool(e.onAir); });
}

QSet<QUuid> SetLedger::givenUpSet() const
{
    return idsWhere(entries_, [](const Entry& e) { return bool(e.givenUp); });
}

QSet<QUuid> SetLedger::requestedSet() const
{
    return idsWhere(entries_, [](const Entry& e) { return bool(e.requestedFrom); });
}

void SetLedger::noteOnAir(const QUuid& id)
{
    change(id, [](Entry& e) {
        e.onAir = true;
        e.requestedFrom.reset();
        e.owed = false;
    });
}

void SetLedger::request(const QUuid& id, const QDateTime& at)
{
    change(id, [&at](Entry& e) {
        if (!e.requestedFrom) {
            e.requestedFrom = e.onAir;
            e.requestedAt = at;
        }
        e.onAir = false;
    });
}

void SetLedger::takeBack(const QUuid& id, const QString& line)
{
    change(
        id,
        [](Entry& e) {
            e.onAir = e.onAir || e.requestedFrom.value_or(false);
            e.requestedFrom.reset();
            e.requestedAt = QDateTime();
        },
        line);
}

void SetLedger::endRequest(const QUuid& id)
{
    change(id, [](Entry& e) {
        e.requestedFrom.reset();
        e.requestedAt = QDateTime();
    });
}

void SetLedger::clearOnAir(const QUuid& id)
{
    change(id, [](Entry& e) { e.onAir = false; });
}

template <typename Holds>
void SetLedger::moveMark(std::optional<int> Entry::*field, Holds holds, const std::optional<std::pair<int, QUuid>>& to,
                         const QString& line)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (const std::optional<int> on = it.value().*field; holds(on) && std::pair(*on, it.key()) != to) {
            change(it.key(), [field](Entry& e) { (e.*field).reset(); });
            break;
        }
    if (to)
        change(to->second, [field, deck = to->first](Entry& e) { e.*field = deck; }, line);
}

void SetLedger::cue(const QUuid& id, int deck, const QString& line)
{
    moveMark(&Entry::cuedOn, onAnyDeck, std::pair(deck, id), line);
}

void SetLedger::uncue(const QUuid& id, const QString& line)
{
    change(id, [](Entry& e) { e.cuedOn.reset(); }, line);
}

void SetLedger::uncueAny(const QString& line)
{
    if (const auto was = cued())
        uncue(was->second, line);
}

void SetLedger::mixIn(std::optional<std::pair<int, QUuid>> record)
{
    moveMark(&Entry::mixingOn, onAnyDeck, record);
}

void SetLedger::setOwed(std::optional<QUuid> id)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it.value().owed && it.key() != id) {
            change(it.key(), [](Entry& e) { e.owed = false; });
            break;
        }
    if (id)
        change(*id, [](Entry& e) { e.owed = true; });
}

void SetLedger::setStandsHeard(int deck, std::optional<QUuid> id)
{
    moveMark(&Entry::standsHeardOn, [deck](const std::optional<int>& on) { return on == deck; },
             id ? std::optional(std::pair(deck, *id)) : std::nullopt);
}

void SetLedger::giveUp(const QUuid& id, const QString& line)
{
    change(id, [](Entry& e) { e.givenUp = true; }, line);
}

void SetLedger::passOver(const QUuid& id, const QString& why, const QString& line)
{
    change(id, [&why](Entry& e) { e.passedOverWhy = why; }, line);
}

void SetLedger::setHeld(std::optional<std::pair<int, QUuid>> record)
{
    moveMark(&Entry::heldOn, onAnyDeck, record);
}

void SetLedger::newRun()
{
    const QList<QUuid> ids = entries_.keys();
    for (const QUuid& id : ids)
        change(id, [](Entry& e) {
            e.givenUp = false;
            e.heldOn.reset();
        });
}

} // namespace zelvo
