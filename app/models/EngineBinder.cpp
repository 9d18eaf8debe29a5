#include "models/EngineBinder.h"

#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace zelvo {

EngineBinder::EngineBinder(std::array<DeckModel*, kDecks> decks, MixerModel& mixer, Scheduler& scheduler)
    : decks_(decks)
    , mixer_(mixer)
    , scheduler_(scheduler)
    // Hands off until the first touch: a date far back, whose distance from
    // now still fits every time arithmetic.
    , handsOnAt_(QDate(1, 1, 1), QTime(0, 0), Qt::UTC)
    , self_(std::make_shared<EngineBinder*>(this))
{
}

EngineBinder::~EngineBinder() = default;

void EngineBinder::wireDecks(LibraryStore* library,
                             std::function<void(const TrackRecord&, const TrackBufferRef&)> onLoaded)
{
    const std::weak_ptr<EngineBinder*> weak = self_;
    for (DeckModel* deck : decks_) {
        const bool locksToDeck1 = deck->index() < 2;
        deck->setLibrary(library);
        deck->setOnHands([weak] {
            if (const auto self = weak.lock())
                (*self)->noteHandsOn();
        });
        // The drop lock ties deck 2's timeline to deck 1's; a new timeline on
        // either breaks it. Decks 3 and 4 have nothing to do with it.
        if (locksToDeck1) {
            deck->setOnNewTimeline([weak] {
                if (const auto self = weak.lock()) {
                    if (const std::shared_ptr<MixerParams> params = (*self)->mixer_.params())
                        params->lockOffset.store(std::numeric_limits<double>::quiet_NaN());
                }
            });
        } else {
            deck->setOnNewTimeline({});
        }
        deck->setOnLoaded([weak, onLoaded](const TrackRecord& record, const TrackBufferRef& buffer) {
            if (weak.lock() && onLoaded)
                onLoaded(record, buffer);
        });
    }
}

void EngineBinder::engineInstalled(MixEngine& engine)
{
    // Against the rate each deck's buffer was decoded at, not the last
    // engine's: an output restarted again while a deck's record still
    // decodes for the one before runs at the rate of that decode, and the
    // deck's buffer is still the older rate's.
    const double rate = engine.sampleRate();
    for (int i = 0; i < kDecks; ++i) {
        DeckModel& deck = *decks_[std::size_t(i)];
        const TrackBufferRef& buffer = deck.buffer();
        deck.attach(engine.deck(i), buffer && std::abs(buffer->sampleRate - rate) > kReloadRateDifference);
    }
    mixer_.bind(engine.params());
    engine.params()->directMute.store(muteDirect_);
}

void EngineBinder::outputStopped()
{
    mixer_.carryUnrendered();
}

void EngineBinder::tick()
{
    for (DeckModel* deck : decks_) {
        deck->harvestCues();
        deck->refreshLive();
    }
    handOverCarried();
}

void EngineBinder::handOverCarried()
{
    if (!mixer_.params())
        return;
    DeckModel& one = *decks_[0];
    DeckModel& two = *decks_[1];
    if (one.settling() || two.settling())
        return;
    if (const std::optional<int> deck = mixer_.carriedAlignedStart()) {
        const std::shared_ptr<DeckVoice> voice = decks_[std::size_t(*deck)]->voice();
        if (voice && voice->state().loaded.load())
            mixer_.releaseAlignedStart();
    }
    if (mixer_.carriedDrop() && one.reading().playing())
        mixer_.releaseDrop();
}

void EngineBinder::noteHandsOn()
{
    handsOnAt_ = scheduler_.now();
}

void EngineBinder::setMuteDirect(bool mute)
{
    muteDirect_ = mute;
    if (const std::shared_ptr<MixerParams> params = mixer_.params())
        params->directMute.store(mute);
}

} // namespace zelvo
