#include "library/LibraryStore.h"
#include "library/WaveformFile.h"

#include "LibraryStoreSupport.h"

#include <QDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace zelvo;
using zelvo::test::testWaveform;

namespace {

QByteArray header(double pointsPerSecond, quint32 count)
{
    QByteArray bytes(12, '\0');
    qToLittleEndian(pointsPerSecond, bytes.data());
    qToLittleEndian(count, bytes.data() + 8);
    return bytes;
}

} // namespace

TEST(WaveformFile, ThreePointsAtTheAnalysisRateHaveTheDocumentedBytes)
{
    WaveformData waveform;
    waveform.pointsPerSecond = 150.0;
    waveform.low = {1, 2, 3};
    waveform.mid = {4, 5, 6};
    waveform.high = {7, 8, 255};
    const auto bytes = LibraryStore::encodeWaveform(waveform);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, QByteArray::fromHex("0000000000C06240" "03000000" "010203" "040506" "0708FF"));
    EXPECT_EQ(LibraryStore::decodeWaveform(*bytes), waveform);
}

TEST(WaveformFile, ShortTruncatedAndOversizedInput)
{
    EXPECT_FALSE(LibraryStore::decodeWaveform(QByteArray()));
    EXPECT_FALSE(LibraryStore::decodeWaveform(QByteArray(11, '\0')));

    const auto empty = LibraryStore::decodeWaveform(header(0.5, 0));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->pointsPerSecond, 0.5);
    EXPECT_TRUE(empty->low.empty() && empty->mid.empty() && empty->high.empty());

    EXPECT_FALSE(LibraryStore::decodeWaveform(header(150, 10) + QByteArray(29, 'x'))); // 41 bytes
    const auto extra = LibraryStore::decodeWaveform(header(150, 10) + QByteArray(30, 'y') + QByteArray(8, 'z'));
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->count(), 10);
    EXPECT_EQ(extra->high.back(), 'y');

    // A count near the 32-bit limit must not wrap into a small size.
    EXPECT_FALSE(LibraryStore::decodeWaveform(header(150, 0xFFFFFFFFu) + QByteArray(64, 'x')));
    EXPECT_FALSE(LibraryStore::decodeWaveform(header(150, 0x55555556u) + QByteArray(2, 'x')));

    // Views divide by the points per second: a rate that is not a positive
    // finite number makes the file unreadable, and is never written.
    for (double rate : {0.0, -0.0, -150.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_FALSE(LibraryStore::decodeWaveform(header(rate, 3) + QByteArray(9, 'x'))) << rate;
        WaveformData waveform = testWaveform(3);
        waveform.pointsPerSecond = rate;
        EXPECT_FALSE(LibraryStore::encodeWaveform(waveform)) << rate;
    }

    // A truncated real file is absent, never partial.
    const QByteArray whole = *LibraryStore::encodeWaveform(testWaveform(500));
    for (qsizetype cut : {qsizetype(12), qsizetype(512), whole.size() - 1})
        EXPECT_FALSE(LibraryStore::decodeWaveform(whole.left(cut))) << cut;
}

TEST(WaveformFile, BandsOfUnequalLengthAreRefusedRatherThanWrittenShort)
{
    WaveformData waveform = testWaveform(10);
    waveform.mid.pop_back();
    EXPECT_FALSE(LibraryStore::encodeWaveform(waveform));
    waveform = testWaveform(10);
    waveform.high.push_back(1);
    EXPECT_FALSE(LibraryStore::encodeWaveform(waveform));
}

TEST(WaveformFile, WritesReplaceWholeFilesAndLeaveNoTemporaries)
{
    zelvo::test::TempHome home;
    const QString path = home.file("A.wf");
    ASSERT_TRUE(WaveformFile::write(path, testWaveform(100)));
    ASSERT_TRUE(WaveformFile::write(path, testWaveform(7)));
    EXPECT_EQ(WaveformFile::read(path), testWaveform(7));

    WaveformData bad = testWaveform(5);
    bad.low.clear();
    QString error;
    EXPECT_FALSE(WaveformFile::write(path, bad, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(WaveformFile::read(path), testWaveform(7)); // the old file stays

    EXPECT_FALSE(WaveformFile::write(home.file("missing/B.wf"), testWaveform(3)));
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList{"A.wf"});
    EXPECT_FALSE(WaveformFile::read(home.file("none.wf")));
}
