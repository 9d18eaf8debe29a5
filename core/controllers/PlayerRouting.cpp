#include "controllers/PlayerRouting.h"

#include "audio/CoreAudioHAL.h"

#include <algorithm>
#include <array>
#include <optional>

namespace zelvo::PlayerRouting {

std::map<std::int64_t, int> assignDecks(const std::vector<std::int64_t>& ports,
                                        const std::map<std::int64_t, int>& saved)
{
    constexpr int deckCount = 4;
    std::map<std::int64_t, int> out;
    std::array<bool, deckCount> used{};
    for (auto port : ports) {
        const auto s = saved.find(port);
        if (s == saved.end() || s->second < 0 || s->second >= deckCount || used[std::size_t(s->second)])
            continue;
        // A port listed twice keeps its first deck.
        if (out.emplace(port, s->second).second)
            used[std::size_t(s->second)] = true;
    }
    for (auto port : ports) {
        if (out.contains(port))
            continue;
        const auto free = std::find(used.begin(), used.end(), false);
        if (free == used.end())
            break;
        *free = true;
        out.emplace(port, int(free - used.begin()));
    }
    return out;
}

std::map<int, AudioDevice> pairCards(std::vector<AudioDevice> cards, std::vector<PlayerPort> decks)
{
    std::stable_sort(cards.begin(), cards.end(), [](const AudioDevice& a, const AudioDevice& b) { return a.uid < b.uid; });
    std::stable_sort(decks.begin(), decks.end(), [](const PlayerPort& a, const PlayerPort& b) { return a.deck < b.deck; });

    std::vector<std::optional<std::int64_t>> locations;
    locations.reserve(cards.size());
    for (const auto& card : cards)
        locations.push_back(CoreAudioHAL::usbLocation(card.uid));
    std::vector<bool> taken(cards.size(), false);
    std::vector<std::optional<std::size_t>> chosen(decks.size());

    for (std::size_t p = 0; p < decks.size(); ++p) {
        for (std::size_t c = 0; c < cards.size(); ++c) {
            if (!taken[c] && locations[c] && *locations[c] == decks[p].port) {
                taken[c] = true;
                chosen[p] = c;
                break;
            }
        }
    }
    for (std::size_t p = 0; p < decks.size(); ++p) {
        if (chosen[p])
            continue;
        for (std::size_t c = 0; c < cards.size(); ++c) {
            if (!taken[c]) {
                taken[c] = true;
                chosen[p] = c;
                break;
            }
        }
    }

    std::map<int, AudioDevice> out;
    for (std::size_t p = 0; p < decks.size(); ++p) {
        // Two players naming the same deck: the first keeps it.
        if (chosen[p])
            out.emplace(decks[p].deck, cards[*chosen[p]]);
    }
    return out;
}

} // namespace zelvo::PlayerRouting
