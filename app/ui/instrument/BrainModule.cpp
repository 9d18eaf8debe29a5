#include "ui/instrument/BrainModule.h"

#include "generation/Caption.h"

namespace zelvo {

const std::vector<BrainModule::Preset>& BrainModule::presets()
{
    static const std::vector<Preset> table = [] {
        struct Genre {
            const char* label;
            const char* genre;
            const char* description;
        };
        static constexpr Genre genres[] = {
            {"DUBSTEP", "Dubstep",
             "Heavy modern dubstep, half-time drums, aggressive wobble bass, deep sub, metallic growls, big drop"},
            {"HOUSE", "House", "Deep hypnotic house groove, warm analog bass, crisp shuffled percussion"},
            {"TECHNO", "Techno", "Driving warehouse techno, rolling kick, metallic hats, dark synth stabs"},
            {"DISCO", "Disco", "Larkmoor disco edit, live bass guitar, strings, tambourine, warm tape"},
            {"DUB", "Dub Techno", "Heavy dub techno, deep chords drowned in delay, spacious sub bass"},
            {"BREAKS", "Breakbeat", "Chopped breakbeat, sampled drums, fat bassline, rave stabs"},
            {"AMBIENT", "Ambient", "Beatless ambient wash, evolving pads, field recordings, tape hiss"},
            {"LO-FI", "Lo-Fi Hip Hop", "Dusty lo-fi hip hop beat, swung drums, mellow Rhodes, vinyl crackle"},
            {"ACID", "Acid House", "Squelchy acid line, 303 resonance, jacking 909 drums"},
        };
        std::vector<Preset> presets{{QStringLiteral("ZELVO-0"), Caption::trained()}};
        for (const Genre& g : genres)
            presets.push_back({QString::fromUtf8(g.label),
                               Caption::make(QString::fromUtf8(g.genre), QString::fromUtf8(g.description))});
        return presets;
    }();
    return table;
}

} // namespace zelvo
