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
    if (e.mixingOn)
        return Standing::mixingIn;
    if (e.cuedOn)
        return Standing::cued;
    if (e.requestedFrom)
        return Standing::requested;
    if (e.givenUp || e.heldOn || !e.passedOverWhy.isEmpty())
        return Standing::passedOver;
    if (e.onAir)
        return Standing::heard;
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
            if (e.requestedFrom)
                e.onAir = e.onAir || *e.requestedFrom;
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

void SetLedger::cue(const QUuid& id, int deck, const QString& line)
{
    if (const auto was = cued(); was && was->second != id)
        change(was->second, [](Entry& e) { e.cuedOn.reset(); });
    change(id, [deck](Entry& e) { e.cuedOn = deck; }, line);
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
    if (const auto was = mixingIn(); was && (!record || was->second != record->second))
        change(was->second, [](Entry& e) { e.mixingOn.reset(); });
    if (record)
        change(record->second, [deck = record->first](Entry& e) { e.mixingOn = deck; });
}

void SetLedger::setOwed(std::optional<QUuid> id)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it.value().owed && (!id || it.key() != *id)) {
            change(it.key(), [](Entry& e) { e.owed = false; });
            break;
        }
    if (id)
        change(*id, [](Entry& e) { e.owed = true; });
}

void SetLedger::setStandsHeard(int deck, std::optional<QUuid> id)
{
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (it.value().standsHeardOn == deck && (!id || it.key() != *id)) {
            change(it.key(), [](Entry& e) { e.standsHeardOn.reset(); });
            break;
        }
    if (id)
        change(*id, [deck](Entry& e) { e.standsHeardOn = deck; });
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
    if (const auto was = held(); was && (!record || *was != *record))
        change(was->second, [](Entry& e) { e.heldOn.reset(); });
    if (record)
        change(record->second, [deck = record->first](Entry& e) { e.heldOn = deck; });
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
