// The MIDI hub under a flood: 20,000 jog and fader messages spread evenly over
// one second (20 per millisecond, one delivery each) through the virtual MIDI
// system, the main queue pumped every 5 ms. Reports the receive callback's
// 99th-percentile time (it holds the hub's lock for all of its decoding, so
// this bounds the lock's hold time), the main-thread time per drain, drains per
// second and events delivered per message.
#include "controllers/MIDIHub.h"
#include "platform/Scheduler.h"
#include "platform/VirtualMidiSystem.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Queue {
    std::mutex mutex;
    std::vector<zelvo::MIDIHub::Task> tasks, running;
    zelvo::MIDIHub::MainPoster poster()
    {
        return [this](zelvo::MIDIHub::Task t) {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(t));
        };
    }
    int pump()
    {
        {
            std::lock_guard lock(mutex);
            std::swap(tasks, running);
        }
        for (auto& t : running)
            (*t)();
        const int n = int(running.size());
        running.clear();
        return n;
    }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

void BM_MidiHub_Flood(benchmark::State& state)
{
    std::vector<double> receiveMicros, drainMicros;
    double drains = 0, events = 0, messages = 0, seconds = 0;
    for (auto _ : state) {
        auto midi = std::make_shared<zelvo::VirtualMidiSystem>();
        zelvo::VirtualMidiSystem::Device d;
        d.source = zelvo::VirtualMidiSystem::Port{"DDJ-FLX10"};
        d.destination = zelvo::VirtualMidiSystem::Port{"DDJ-FLX10"};
        const auto device = midi->addDevice(d);
        std::mutex timesMutex;
        std::vector<double> receives;
        receives.reserve(2000);
        midi->setDeliveryWrapper([&](const std::function<void()>& deliver) {
            const auto t0 = Clock::now();
            deliver();
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
            std::lock_guard lock(timesMutex);
            receives.push_back(us);
        });
        zelvo::ManualScheduler scheduler;
        Queue queue;
        zelvo::MIDIHub hub(midi, scheduler, queue.poster());
        std::size_t delivered = 0;
        hub.onEvents = [&](const std::vector<zelvo::DDJEvent>& batch) { delivered += batch.size(); };
        hub.start();
        midi->flush();
        queue.pump();

        // 1,000 deliveries of 20 messages: jogs on four decks and fader pairs.
        std::vector<std::vector<std::uint8_t>> chunks(1000);
        int fader = 0;
        for (int ms = 0; ms < 1000; ++ms) {
            auto& c = chunks[std::size_t(ms)];
            for (int k = 0; k < 10; ++k) {
                const auto deck = std::uint8_t((ms + k) % 4);
                c.insert(c.end(), {std::uint8_t(0xB0 | deck), 0x22, std::uint8_t(66)});
            }
            for (int k = 0; k < 5; ++k) {
                fader = (fader + 97) % 16384;
                const auto deck = std::uint8_t(k % 4);
                c.insert(c.end(), {std::uint8_t(0xB0 | deck), 0x13, std::uint8_t(fader >> 7), std::uint8_t(0xB0 | deck),
                                   0x33, std::uint8_t(fader & 0x7F)});
            }
        }
        const auto source = midi->sourceOf(device);
        const auto start = Clock::now();
        std::thread injector([&] {
            for (int ms = 0; ms < 1000; ++ms) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
                midi->injectBytes(source, chunks[std::size_t(ms)]);
            }
            midi->flush();
        });
        for (int tick = 1; tick <= 202; ++tick) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(5 * tick));
            const auto t0 = Clock::now();
            const int ran = queue.pump();
            if (ran) {
                drainMicros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / ran);
                drains += ran;
            }
        }
        injector.join();
        drains += queue.pump();
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        messages += 20000;
        events += double(delivered);
        receiveMicros.insert(receiveMicros.end(), receives.begin(), receives.end());
    }
    state.counters["receive_p99_us"] = percentile(receiveMicros, 0.99);
    state.counters["drain_p99_us"] = percentile(drainMicros, 0.99);
    state.counters["drain_max_us"] = percentile(drainMicros, 1.0);
    state.counters["drains_per_s"] = drains / seconds;
    state.counters["events_per_message"] = events / messages;
}
BENCHMARK(BM_MidiHub_Flood)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
