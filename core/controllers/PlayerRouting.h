#pragma once
// Which player's sound card plays which deck.
#include "audio/AudioDevice.h"

#include <cstdint>
#include <map>
#include <vector>

namespace zelvo {

namespace PlayerRouting {

// One player: the deck it drives (0-based) and its MIDI port key (the USB
// location of the player when it has one).
struct PlayerPort {
    int deck = 0;
    std::int64_t port = 0;
    bool operator==(const PlayerPort&) const = default;
};

// Gives each player (its port, in the order given) a deck 0 to 3: first every
// port whose saved deck is 0 to 3 and not yet taken keeps it, then every port
// still without a deck takes the lowest free one; when all four are taken the
// remaining ports get none. Returns port -> deck. Any thread.
std::map<std::int64_t, int> assignDecks(const std::vector<std::int64_t>& ports,
                                        const std::map<std::int64_t, int>& saved);

// Hands each player a card: cards sorted by UID, players by deck; first every
// player, in that order, takes the first remaining card whose USB location
// (from its UID) equals the player's port; then every player still without a
// card takes the first remaining card, while any remain. A card goes to one
// player at most. Returns deck index -> card; empty without cards. Any thread
// but the audio thread.
std::map<int, AudioDevice> pairCards(std::vector<AudioDevice> cards, std::vector<PlayerPort> decks);

} // namespace PlayerRouting

} // namespace zelvo
