// Decoding speed of a five-minute 44.1 kHz stereo track to the engine's 48 kHz
// (so the rate conversion is measured too), as seconds of audio per second; and
// the import path's whole cost on the same MP3: decoding at the analysis rate
// and analysing it (waveform, grid, key, loudness). `BM_Read_*` rows read the
// same files with the reader alone into a buffer made beforehand, decoding on
// a thread of its own beside the conversion (`_DecodeAhead`) or on one thread;
// run on a single CPU (taskset -c N) the reader decodes on one thread either way.
#include "library/AudioFileIO.h"
#include "platform/AudioFileReader.h"
#include "library/TrackAnalyzer.h"
#include "support/AudioFixtures.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <vector>
#include <unistd.h>

namespace {

constexpr double kFileRate = 44100;
constexpr double kSeconds = 300;

// A folder for the generated files, removed at exit.
struct Scratch {
    std::filesystem::path dir = std::filesystem::temp_directory_path()
        / ("zelvo-decode-bench-" + std::to_string(::getpid()));
    Scratch() { std::filesystem::create_directories(dir); }
    ~Scratch() { std::filesystem::remove_all(dir); }
};

// Generated once per format, outside the timed loop.
const std::filesystem::path& track(zelvo::test::AudioFormat format, const char* name)
{
    static Scratch scratch;
    static std::map<zelvo::test::AudioFormat, std::filesystem::path> made;
    auto& path = made[format];
    if (path.empty()) {
        path = scratch.dir / name;
        // A chord with a slow swell and a little noise, so the encoders work as on music.
        std::uint32_t seed = 1;
        const auto music = [&seed](int channel, std::int64_t i) {
            const double t = double(i) / kFileRate;
            const double swell = 0.6 + 0.4 * std::sin(2 * std::numbers::pi * 0.25 * t);
            seed = seed * 1664525u + 1013904223u;
            const double noise = (double(seed >> 8) / double(1 << 24) - 0.5) * 0.05;
            const double detune = channel == 0 ? 1.0 : 1.003;
            return float(swell * (0.2 * std::sin(2 * std::numbers::pi * 110 * detune * t)
                                  + 0.15 * std::sin(2 * std::numbers::pi * 277.2 * t)
                                  + 0.1 * std::sin(2 * std::numbers::pi * 1318.5 * detune * t))
                         + noise);
        };
        zelvo::test::writeAudioFile(path, format,
                                    zelvo::test::generate(2, std::int64_t(kFileRate * kSeconds), kFileRate, music));
    }
    return path;
}

void decode(benchmark::State& state, const std::filesystem::path& path)
{
    for (auto _ : state) {
        auto buffer = zelvo::AudioFileIO::decode(path, 48000);
        benchmark::DoNotOptimize(buffer->left);
        // A loaded track stays on its deck: returning its 115 MB to the system
        // is no part of loading it, so the free is left out of the time.
        state.PauseTiming();
        buffer = {};
        state.ResumeTiming();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Decode_Mp3(benchmark::State& state)
{
    decode(state, track(zelvo::test::AudioFormat::mp3, "track.mp3"));
}

void BM_Decode_Flac(benchmark::State& state)
{
    decode(state, track(zelvo::test::AudioFormat::flac, "track.flac"));
}

void readOnly(benchmark::State& state, const std::filesystem::path& path, bool ahead)
{
    const auto frames = std::size_t(48000 * (kSeconds + 1));
    std::vector<float> left(frames), right(frames);
    std::int64_t total = 0;
    for (auto _ : state) {
        zelvo::AudioFileReader reader;
        if (reader.open(path.string()) < 0 || reader.readFormat() != 0 || reader.setOutputRate(48000) < 0) {
            state.SkipWithError("cannot open");
            return;
        }
        reader.setDecodeAhead(ahead);
        std::int64_t at = 0;
        for (std::int64_t got = 1; got > 0 && at < std::int64_t(frames); at += got) {
            got = reader.read(left.data() + at, right.data() + at, std::min<std::int64_t>(16384, std::int64_t(frames) - at));
            if (got < 0) {
                state.SkipWithError("read failed");
                return;
            }
        }
        total = at;
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["frames"] = double(total);
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Read_Mp3_DecodeAhead(benchmark::State& state)
{
    readOnly(state, track(zelvo::test::AudioFormat::mp3, "track.mp3"), true);
}
void BM_Read_Mp3_OneThread(benchmark::State& state)
{
    readOnly(state, track(zelvo::test::AudioFormat::mp3, "track.mp3"), false);
}
void BM_Read_Flac_DecodeAhead(benchmark::State& state)
{
    readOnly(state, track(zelvo::test::AudioFormat::flac, "track.flac"), true);
}
void BM_Read_Flac_OneThread(benchmark::State& state)
{
    readOnly(state, track(zelvo::test::AudioFormat::flac, "track.flac"), false);
}

void BM_DecodeAndAnalyze_Mp3(benchmark::State& state)
{
    const auto& path = track(zelvo::test::AudioFormat::mp3, "track.mp3");
    for (auto _ : state)
        benchmark::DoNotOptimize(zelvo::TrackAnalyzer::analyze(path));
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_Decode_Mp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode_Flac)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeAndAnalyze_Mp3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read_Mp3_DecodeAhead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read_Mp3_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read_Flac_DecodeAhead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Read_Flac_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
