// The browser's list and the match score, the set queue's operations, key
// sync and load-next.
#include "state/AppModel.h"

#include "library/CollectionJson.h"
#include "library/Similarity.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace zelvo {
namespace {

const QString kQueueEmpty = QStringLiteral("QUEUE IS EMPTY \u00B7 ADD TRACKS WITH +");
const QString kWaitForMix = QStringLiteral("WAIT FOR THE MIX TO FINISH");
constexpr double kQueueHintSeconds = 3.0;

// The search text: spaces and tabs trimmed (line breaks kept), lower-cased.
QString cleanedQuery(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (first < last && blank(text[first]))
        ++first;
    while (last > first && blank(text[last - 1]))
        --last;
    return text.mid(first, last - first).toLower();
}

// A sort value that is not a number would break the sort's ordering; it
// counts as the value of a record that has none.
double orMissing(double value, double missing)
{
    return std::isnan(value) ? missing : value;
}

std::optional<double> tempoOf(const TrackRecord& record)
{
    return record.bpm();
}

} // namespace

// --- The list

std::vector<TrackRecord> AppModel::browserTracks()
{
    std::vector<const TrackRecord*> source;
    const std::vector<TrackRecord>& all = library_->tracks();
    switch (browserSource_) {
    case BrowserSource::collection:
        for (const TrackRecord& record : all)
            if (!record.outpaint)
                source.push_back(&record);
        break;
    case BrowserSource::outpaints:
        for (const TrackRecord& record : all)
            if (record.outpaint && !record.outpaint->segmentOf)
                source.push_back(&record);
        break;
    case BrowserSource::recent:
        for (const TrackRecord& record : all)
            if (record.plays >= 1)
                source.push_back(&record);
        break;
    case BrowserSource::queue: {
        // The first record with an identifier, as the library's lookup finds it.
        QHash<QUuid, const TrackRecord*> byId;
        byId.reserve(qsizetype(all.size()));
        for (const TrackRecord& record : all)
            if (!byId.contains(record.id))
                byId.insert(record.id, &record);
        for (const QUuid& id : queue_)
            if (const auto it = byId.constFind(id); it != byId.constEnd())
                source.push_back(*it);
        break;
    }
    }

    const QString text = cleanedQuery(browserQuery_);
    if (text.isEmpty())
        return sorted(std::move(source));
    std::vector<const TrackRecord*> kept;
    for (const TrackRecord* record : source) {
        if (record->title.toLower().contains(text) || record->artist.toLower().contains(text)
            || (record->key && record->key->camelot().toLower() == text))
            kept.push_back(record);
    }
    return sorted(std::move(kept));
}

std::vector<TrackRecord> AppModel::sorted(std::vector<const TrackRecord*> records)
{
    // Each record's sort value is computed once, then the positions are sorted.
    const std::size_t n = records.size();
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    const auto by = [&](const auto& before) { std::stable_sort(order.begin(), order.end(), before); };

    std::vector<qint64> added;
    const auto fillAdded = [&] {
        added.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            added[i] = records[i]->added.isValid() ? records[i]->added.toMSecsSinceEpoch() : 0;
    };

    switch (browserSort_) {
    case BrowserSort::added:
        fillAdded();
        by([&](std::size_t a, std::size_t b) { return added[a] > added[b]; });
        break;
    case BrowserSort::title: {
        if (!collator_) {
            collator_ = std::make_unique<QCollator>(QLocale());
            collator_->setCaseSensitivity(Qt::CaseInsensitive);
        }
        // Missing keys first: an insert may move the hash's entries.
        for (std::size_t i = 0; i < n; ++i) {
            if (!titleKeys_.contains(records[i]->title))
                // Folded first: the C locale's collation ignores the case setting.
                titleKeys_.insert(records[i]->title, collator_->sortKey(records[i]->title.toCaseFolded()));
        }
        std::vector<const QCollatorSortKey*> keys(n);
        for (std::size_t i = 0; i < n; ++i)
            keys[i] = &*titleKeys_.constFind(records[i]->title);
        by([&](std::size_t a, std::size_t b) { return keys[a]->compare(*keys[b]) < 0; });
        break;
    }
    case BrowserSort::bpm: {
        std::vector<double> bpm(n);
        for (std::size_t i = 0; i < n; ++i)
            bpm[i] = records[i]->grid ? orMissing(records[i]->grid->bpm, 0.0) : 0.0;
        by([&](std::size_t a, std::size_t b) { return bpm[a] < bpm[b]; });
        break;
    }
    case BrowserSort::key: {
        std::vector<double> wheel(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::optional<MusicalKey>& key = records[i]->key;
            wheel[i] = key ? double(key->camelotNumber()) + (key->minor ? 0.5 : 0.0) : 999.0;
        }
        by([&](std::size_t a, std::size_t b) { return wheel[a] < wheel[b]; });
        break;
    }
    case BrowserSort::energy: {
        std::vector<double> energy(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::optional<TrackMetrics> metrics = library_->metrics(records[i]->id);
            energy[i] = metrics ? orMissing(metrics->energy, 0.0) : 0.0;
        }
        by([&](std::size_t a, std::size_t b) { return energy[a] > energy[b]; });
        break;
    }
    case BrowserSort::tune:
    case BrowserSort::tempo:
    case BrowserSort::intensity:
    case BrowserSort::harmony: {
        const std::optional<TrackRecord> reference = referenceTrack();
        std::vector<double> score(n);
        for (std::size_t i = 0; i < n; ++i)
            score[i] = orMissing(matchScore(*records[i], reference).value_or(-1.0), -1.0);
        fillAdded();
        by([&](std::size_t a, std::size_t b) {
            if (score[a] != score[b])
                return score[a] > score[b];
            return added[a] > added[b];
        });
        break;
    }
    }

    std::vector<TrackRecord> result;
    result.reserve(n);
    for (const std::size_t i : order)
        result.push_back(*records[i]);
    return result;
}

// --- Reference and score

std::optional<TrackRecord> AppModel::referenceTrack() const
{
    const int live = transition_->liveDeck();
    if (const std::optional<TrackRecord>& track = decks_[std::size_t(live)]->track())
        return track;
    return decks_[std::size_t(1 - live)]->track();
}

std::optional<double> AppModel::matchScore(const TrackRecord& candidate, const std::optional<TrackRecord>& reference)
{
    if (!reference || candidate.id == reference->id)
        return std::nullopt;
    // The key's text is built only when the reference or the sort differs
    // from the last call (a relative sort asks once per listed track).
    if (reference->id != scoreKeyReference_ || browserSort_ != scoreKeySort_ || scoreCacheKey_.isEmpty()) {
        scoreKeyReference_ = reference->id;
        scoreKeySort_ = browserSort_;
        const QString key = uuidText(reference->id).toUpper() + QLatin1Char('-') + rawValue(browserSort_);
        if (key != scoreCacheKey_) {
            scoreCacheKey_ = key;
            scoreCache_.clear();
        }
    }
    if (const auto it = scoreCache_.constFind(candidate.id); it != scoreCache_.constEnd())
        return *it;
    const double score = computeMatch(candidate, *reference);
    scoreCache_.insert(candidate.id, score);
    return score;
}

double AppModel::computeMatch(const TrackRecord& candidate, const TrackRecord& reference)
{
    switch (browserSort_) {
    case BrowserSort::tempo: return Similarity::tempo(tempoOf(candidate), tempoOf(reference));
    case BrowserSort::intensity:
        return Similarity::intensity(library_->metrics(candidate.id), library_->metrics(reference.id));
    case BrowserSort::harmony: return Similarity::key(candidate.key, reference.key);
    default:
        return Similarity::overall(tempoOf(candidate), tempoOf(reference), candidate.key, reference.key,
                                   library_->metrics(candidate.id), library_->metrics(reference.id));
    }
}

// --- The set queue

void AppModel::enqueue(const QUuid& id)
{
    std::vector<QUuid> queue = queue_;
    std::erase(queue, id);
    queue.push_back(id);
    setQueue(std::move(queue));
    // Queued again after it was on air: the user wants it again, and flow
    // plays it when its turn comes. A record a running mix brings in and the
    // room does not hear yet is about to be heard: that mix is the play asked
    // for. Once the room hears it, it is the record playing now.
    const TransitionModel::Phase phase = transition_->phase();
    const std::optional<TrackRecord>& incoming = decks_[std::size_t(phase.to)]->track();
    if (phase.kind != TransitionModel::Phase::Kind::idle && incoming && incoming->id == id && !isAudible(phase.to))
        return;
    if (ledger_.onAir(id))
        ledger_.request(id, scheduler_.now());
}

void AppModel::dequeue(const QUuid& id)
{
    std::vector<QUuid> queue = queue_;
    std::erase(queue, id);
    setQueue(std::move(queue));
}

void AppModel::moveInQueue(const QUuid& id, int offset)
{
    const auto it = std::find(queue_.begin(), queue_.end(), id);
    if (it == queue_.end())
        return;
    const qint64 from = it - queue_.begin();
    const qint64 to = std::clamp(from + qint64(offset), qint64(0), qint64(queue_.size()) - 1);
    std::vector<QUuid> queue = queue_;
    std::swap(queue[std::size_t(from)], queue[std::size_t(to)]);
    setQueue(std::move(queue));
}

void AppModel::loadNext()
{
    std::vector<QUuid> queue = queue_;
    // Records the library no longer holds are dropped, and so are those flow
    // passes over (with flow off, only a record playing on air now): loading
    // one would mix a record into itself.
    std::erase_if(queue, [this](const QUuid& id) { return !library_->track(id) || queueSkips(id); });
    setQueue(queue);
    if (queue.empty()) {
        showHint(kQueueEmpty, kQueueHintSeconds);
        return;
    }
    const std::optional<TrackRecord> record = library_->track(queue.front());
    const int target = transition_->liveDeck() == 0 ? 1 : 0;
    if (transition_->phase().kind != TransitionModel::Phase::Kind::idle) {
        showHint(kWaitForMix, kQueueHintSeconds);
        return;
    }
    queue.erase(queue.begin());
    setQueue(std::move(queue));
    mixer_->channel(target).setSync(true);
    decks_[std::size_t(target)]->load(*record);
}

void AppModel::keySync(int deck)
{
    if (deck < 0 || deck >= kDecks)
        return;
    int other = deck == 1 ? 0 : deck == 0 ? 1 : controller_->activeDeck((deck ^ 1) & 1);
    if (other < 0 || other >= kDecks)
        return;
    DeckModel& self = *decks_[std::size_t(deck)];
    const DeckModel& partner = *decks_[std::size_t(other)];
    if (!self.track() || !self.track()->key || !partner.track() || !partner.track()->key)
        return;
    if (self.keyShift() != 0) {
        self.setKeyShift(0);
        return;
    }
    const MusicalKey& theirs = *partner.track()->key;
    // Reduced first, so a stored pitch class far out of range cannot overflow.
    std::int64_t sounding = (theirs.pitchClass % 12 + partner.keyShift() % 12) % 12;
    if (sounding < 0)
        sounding += 12;
    self.setKeyShift(int(self.track()->key->syncShift(MusicalKey(sounding, theirs.minor))));
}

// --- Small shared pieces

void AppModel::showHint(const QString& text, double seconds)
{
    // The text first, then its expiry; each notifies only on a change.
    setHint(text);
    setHintUntil(scheduler_.now().addMSecs(qint64(seconds * 1000.0)));
}

bool AppModel::isAudible(int deck) const
{
    if (deck < 0 || deck >= kDecks || !decks_[std::size_t(deck)]->reading().playing())
        return false;
    const ChannelModel& channel = mixer_->channel(deck);
    if (!(channel.fader() > 0.05))
        return false;
    const double crossfader = mixer_->crossfader();
    if (channel.crossfaderAssign() < 0)
        return crossfader < 0.95;
    if (channel.crossfaderAssign() > 0)
        return crossfader > -0.95;
    return true;
}

} // namespace zelvo
