// Decoding speed of a DDJ-FLX10's MIDI stream: 60 s at 3,000 messages per
// second (four spinning jogs, faders as MSB/LSB pairs, buttons), as seconds of
// stream per wall-clock second, and nanoseconds per message.
#include "controllers/DDJDecoder.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

constexpr int kSeconds = 60;
constexpr int kPerSecond = 3000;

using Message = std::array<std::uint8_t, 3>;

// Per millisecond-ish slot of three messages: a jog tick on one of the four
// decks, half a fader pair, and every eighth slot a button instead of the jog.
std::vector<Message> flx10Stream()
{
    std::vector<Message> out;
    out.reserve(kSeconds * kPerSecond);
    int fader = 0;
    for (int i = 0; out.size() < std::size_t(kSeconds * kPerSecond); ++i) {
        const auto deck = std::uint8_t(i % 4);
        if (i % 8 == 7)
            out.push_back({std::uint8_t(0x90 | deck), 0x0B, std::uint8_t((i / 8) % 2 ? 0x7F : 0x00)});
        else
            out.push_back({std::uint8_t(0xB0 | deck), 0x22, std::uint8_t(64 + 1 + (i % 3))});
        fader = (fader + 37) % 16384;
        out.push_back({std::uint8_t(0xB0 | deck), 0x13, std::uint8_t(fader >> 7)});
        out.push_back({std::uint8_t(0xB0 | deck), 0x33, std::uint8_t(fader & 0x7F)});
    }
    out.resize(std::size_t(kSeconds * kPerSecond));
    return out;
}

void BM_DDJDecoder_Decode(benchmark::State& state)
{
    const auto stream = flx10Stream();
    zelvo::DDJDecoder decoder(zelvo::ControllerKind::flx10);
    std::int64_t events = 0;
    for (auto _ : state) {
        for (const auto& m : stream) {
            auto e = decoder.decode(m[0], m[1], m[2]);
            benchmark::DoNotOptimize(e);
            events += e.has_value();
        }
    }
    const double messages = double(state.iterations()) * double(stream.size());
    state.counters["x_realtime"]
        = benchmark::Counter(double(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
    // Seconds per (message * 1e-9): nanoseconds per message.
    state.counters["ns_per_message"]
        = benchmark::Counter(messages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(events);
}
BENCHMARK(BM_DDJDecoder_Decode)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
