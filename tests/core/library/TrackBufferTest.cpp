#include "library/TrackBuffer.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(TrackBufferTest, EmptyBufferOwnsOneZeroedSample)
{
    TrackBufferRef b(0, 48000);
    ASSERT_NE(b->left, nullptr);
    ASSERT_NE(b->right, nullptr);
    EXPECT_EQ(b->frames, 0);
    EXPECT_EQ(b->left[0], 0.0f);
    EXPECT_EQ(b->musicEnd(), 0.0);
    EXPECT_EQ(b->duration(), 0.0);
}

TEST(TrackBufferTest, MusicEndFindsTheLastAudibleFrame)
{
    TrackBufferRef b(48000 * 3, 48000);
    for (std::int64_t i = 0; i < 48000 * 2; ++i)
        b->right[i] = 0.5f;
    EXPECT_DOUBLE_EQ(b->musicEnd(), 2.0);
    b->left[48000 * 2 + 10] = 0.0001f; // exactly the threshold counts as silence
    EXPECT_DOUBLE_EQ(b->musicEnd(), 2.0);
    b->left[48000 * 2 + 10] = -0.00011f;
    EXPECT_DOUBLE_EQ(b->musicEnd(), double(48000 * 2 + 11) / 48000);
}

TEST(TrackBufferTest, ReferencesFreeWithTheLastOne)
{
    const auto before = TrackBuffer::liveCount();
    const auto bytesBefore = TrackBuffer::liveBytes();
    {
        TrackBufferRef a(16, 44100);
        EXPECT_EQ(TrackBuffer::liveCount(), before + 1);
        EXPECT_EQ(TrackBuffer::liveBytes(), bytesBefore + 2 * 16 * std::int64_t(sizeof(float)));
        TrackBufferRef b = a;
        EXPECT_EQ(a->referenceCount(), 2);
        TrackBuffer* carried = TrackBufferRef(b).detach(); // a command carrying one reference
        EXPECT_EQ(a->referenceCount(), 3);
        TrackBufferRef back = TrackBufferRef::adopt(carried);
        EXPECT_EQ(a->referenceCount(), 3);
        back.reset();
        b.reset();
        EXPECT_EQ(a->referenceCount(), 1);
    }
    EXPECT_EQ(TrackBuffer::liveCount(), before);
    EXPECT_EQ(TrackBuffer::liveBytes(), bytesBefore);
}

} // namespace
} // namespace zelvo
