#include "audio/MasterTap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

// Writes `frames` frames whose left sample tells the frame number (mod 30000)
// and whose right sample is its negative.
void writeRamp(MasterTap& tap, std::int64_t frames, std::int64_t chunk = 4096)
{
    std::vector<float> l(static_cast<std::size_t>(chunk)), r(static_cast<std::size_t>(chunk));
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t n = std::min(chunk, frames - done);
        const std::int64_t base = tap.written();
        for (std::int64_t i = 0; i < n; ++i) {
            l[std::size_t(i)] = float((base + i) % 30000) / 32767.0f;
            r[std::size_t(i)] = -l[std::size_t(i)];
        }
        tap.write(n, l.data(), r.data());
        done += n;
    }
}

float expectedLeft(std::int64_t frame)
{
    return float(MasterTap::encode(float(frame % 30000) / 32767.0f)) / 32767.0f;
}

TEST(MasterTapTest, SamplesAreClippedAndTruncatedToSixteenBits)
{
    EXPECT_EQ(MasterTap::encode(1.5f), 32767);
    EXPECT_EQ(MasterTap::encode(-1.5f), -32767);
    EXPECT_EQ(MasterTap::encode(0.99999f), 32766);
    EXPECT_EQ(MasterTap::encode(std::numeric_limits<float>::quiet_NaN()), 32767);
    EXPECT_EQ(MasterTap::encode(std::numeric_limits<float>::infinity()), 32767);

    MasterTap tap(48000.0, 1.0);
    const float l[] = {1.5f, -0.25f}, r[] = {-1.5f, 0.5f};
    std::vector<float> pad(4096, 0.0f);
    tap.write(2, l, r);
    tap.write(4096, pad.data(), pad.data());
    auto snap = tap.snapshot(1.0);
    ASSERT_TRUE(snap);
    ASSERT_EQ(snap->buffer->frames, 2);
    EXPECT_EQ(snap->buffer->left[0], 1.0f);
    EXPECT_EQ(snap->buffer->right[0], -1.0f);
    EXPECT_EQ(snap->buffer->left[1], float(std::int16_t(-0.25f * 32767.0f)) / 32767.0f);
    EXPECT_EQ(snap->buffer->right[1], float(std::int16_t(0.5f * 32767.0f)) / 32767.0f);
}

TEST(MasterTapTest, SnapshotStaysOneSliceBehindTheWriter)
{
    MasterTap tap(48000.0, 75.0);
    EXPECT_EQ(tap.capacity(), 3'600'000);
    EXPECT_FALSE(tap.snapshot(10.0));
    writeRamp(tap, 4096);
    EXPECT_FALSE(tap.snapshot(10.0));
    writeRamp(tap, 1);
    auto one = tap.snapshot(10.0);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->buffer->frames, 1);
    EXPECT_EQ(one->endFrame, 1);
    EXPECT_EQ(one->buffer->sampleRate, 48000.0);
    // A request under one frame gets nothing.
    EXPECT_FALSE(tap.snapshot(0.00001));
    EXPECT_FALSE(tap.snapshot(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(tap.snapshot(-1.0));
}

TEST(MasterTapTest, HoldsSeventyFiveSecondsAndCopiesTheNewestInOrder)
{
    MasterTap tap(48000.0, 75.0);
    writeRamp(tap, 100 * 48000);
    EXPECT_EQ(tap.available(), 75.0);

    auto whole = tap.snapshot(80.0);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->buffer->frames, 3'595'904);
    EXPECT_EQ(whole->endFrame, 4'795'904);
    const std::int64_t first = whole->endFrame - whole->buffer->frames;
    for (std::int64_t i = 0; i < whole->buffer->frames; i += 997) {
        ASSERT_EQ(whole->buffer->left[i], expectedLeft(first + i)) << i;
        ASSERT_EQ(whole->buffer->right[i], -expectedLeft(first + i)) << i;
    }

    auto half = tap.snapshot(0.5);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->buffer->frames, 24000);
    EXPECT_EQ(half->endFrame, tap.written() - 4096);
    EXPECT_EQ(half->buffer->left[23999], expectedLeft(half->endFrame - 1));

    MasterTap fresh(48000.0, 75.0);
    writeRamp(fresh, 48000);
    EXPECT_DOUBLE_EQ(fresh.available(), 1.0);
}

TEST(MasterTapTest, AWriterLappingTheCopyNeverLeaksNewerFramesIntoIt)
{
    // A small ring that the writer laps many times while snapshots of the whole
    // ring are taken: every frame in a copy must be the frame its position says.
    MasterTap tap(1000.0, 6.0); // 6000 frames; a whole copy is 1904 frames
    writeRamp(tap, 6000);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load())
            writeRamp(tap, 4096, 512);
    });
    int checked = 0, shortened = 0;
    for (int round = 0; round < 3000; ++round) {
        auto snap = tap.snapshot(100.0);
        if (!snap)
            continue;
        ++checked;
        shortened += snap->buffer->frames < 1904;
        const std::int64_t first = snap->endFrame - snap->buffer->frames;
        for (std::int64_t i = 0; i < snap->buffer->frames; ++i)
            ASSERT_EQ(snap->buffer->left[i], expectedLeft(first + i)) << "round " << round << " frame " << i;
    }
    stop.store(true);
    writer.join();
    EXPECT_GT(checked, 0);
    RecordProperty("shortened", shortened);
}

} // namespace
} // namespace zelvo
