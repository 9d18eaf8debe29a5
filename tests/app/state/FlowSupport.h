#pragma once
// A booted state root over a fixture library, with decks whose published
// cells the test sets by hand (the engine renders only when pumped).
#include "AppTestSupport.h"
#include "audio/DeckState.h"
#include "support/LibraryFixtures.h"
#include "models/DeckModel.h"

#include <memory>
#include <vector>

namespace zelvo::test {

struct FlowRig : AppRig {
    // Writes the collection, builds the state root, boots it with an output
    // and links the model key's step to the world.
    explicit FlowRig(const std::vector<TrackRecord>& records, QStringList arguments = {});
    // Puts the record on the deck (a short silent buffer).
    void put(int deck, const TrackRecord& record);
    // The deck's published cells.
    DeckState& cells(int deck);
    // Sets what the deck's voice publishes.
    void publish(int deck, bool playing, double position, double duration);
    // Advances the clock by `seconds` and runs one tick.
    void after(double seconds);
    // Lines the supervisor was given, without their prefix.
    QStringList notes() const;

    AppModel& model;
    FakeAIStep aiStep{world};
};

// A deck decoder that decodes as the program does but holds the decode of
// chosen files until released, as a very slow disk would: hand `decoder()` to
// a deck.
class HeldDecode {
public:
    explicit HeldDecode(QString path);
    explicit HeldDecode(QStringList paths);
    // Lets every decode go, now and later, so no worker waits past the test.
    ~HeldDecode();
    DeckModel::Decoder decoder() const;
    // True while a decode of a held file waits to be released. Any thread.
    bool holding() const;
    // Lets the decodes waiting now go; later decodes of the files wait again.
    void release();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace zelvo::test
