#include "audio/AtomicCells.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

TEST(AtomicCellsTest, DoubleKeepsEveryBitPattern)
{
    const std::vector<std::uint64_t> patterns = {
        std::bit_cast<std::uint64_t>(0.0),
        std::bit_cast<std::uint64_t>(-0.0),
        std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN()),
        0x7ff8'0000'dead'beefULL, // quiet NaN with a payload
        0xfff0'0000'0000'0001ULL, // negative signalling NaN
        std::bit_cast<std::uint64_t>(std::numeric_limits<double>::infinity()),
        std::bit_cast<std::uint64_t>(-std::numeric_limits<double>::infinity()),
        std::bit_cast<std::uint64_t>(std::numeric_limits<double>::denorm_min()),
        std::bit_cast<std::uint64_t>(-1.0 / 3.0),
    };
    AtomicDouble cell(1.5);
    EXPECT_EQ(cell.load(), 1.5);
    for (std::uint64_t p : patterns) {
        cell.store(std::bit_cast<double>(p));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(cell.load()), p) << std::hex << p;
    }
    EXPECT_TRUE(std::signbit(AtomicDouble(-0.0).load()));
    EXPECT_TRUE(std::isnan(AtomicDouble(std::nan("")).load()));
}

TEST(AtomicCellsTest, IntAndBoolHoldTheirWholeRange)
{
    AtomicInt i(-7);
    EXPECT_EQ(i.load(), -7);
    for (std::int64_t v : {std::numeric_limits<std::int64_t>::min(), std::int64_t(-1), std::int64_t(0),
                           std::int64_t(1) << 40, std::numeric_limits<std::int64_t>::max()}) {
        i.store(v);
        EXPECT_EQ(i.load(), v);
    }
    AtomicBool b(true);
    EXPECT_TRUE(b.load());
    b.store(false);
    EXPECT_FALSE(b.load());
    EXPECT_FALSE(AtomicBool().load());
}

TEST(AtomicCellsTest, SharedCellIsSeenByEveryOwner)
{
    auto cell = std::make_shared<AtomicDouble>(0.25);
    std::shared_ptr<AtomicDouble> other = cell;
    other->store(-2.0);
    EXPECT_EQ(cell->load(), -2.0);
}

// A writer thread stores values whose halves must always agree; a torn word
// (half of one store, half of another) would break the agreement.
TEST(AtomicCellsTest, ReadersNeverSeeATornWord)
{
    constexpr int kStores = 500'000;
    auto d = std::make_shared<AtomicDouble>(0.0);
    auto n = std::make_shared<AtomicInt>(0);
    auto flag = std::make_shared<AtomicBool>(false);

    std::thread writer([d, n, flag] {
        for (std::int64_t k = 1; k <= kStores; ++k) {
            const std::uint64_t half = std::uint64_t(k);
            d->store(std::bit_cast<double>((half << 32) | half));
            n->store(std::int64_t((half << 32) | half));
            flag->store(k % 2 == 0);
        }
    });

    std::int64_t lastSeen = 0;
    bool monotonic = true, intact = true;
    while (lastSeen < kStores) {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(d->load());
        const std::uint64_t raw = std::uint64_t(n->load());
        intact = intact && (bits >> 32) == (bits & 0xffff'ffffULL) && (raw >> 32) == (raw & 0xffff'ffffULL);
        // One writer, one cell: a reader never goes back in time on it.
        const std::int64_t seen = std::int64_t(raw & 0xffff'ffffULL);
        monotonic = monotonic && seen >= lastSeen;
        lastSeen = seen;
        (void)flag->load();
    }
    writer.join();
    EXPECT_TRUE(intact);
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(flag->load()); // the last store was for an even k
}

} // namespace
} // namespace zelvo
