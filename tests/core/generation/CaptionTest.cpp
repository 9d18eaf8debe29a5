#include "generation/Caption.h"

#include <cmath>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

const QString kHeader = "TrackType: Music, VocalType: Instrumental, Genre: ";

TEST(CaptionTest, SentenceTidiesOneSentence)
{
    EXPECT_EQ(Caption::sentence(""), ".");
    EXPECT_EQ(Caption::sentence("  \n deep techno...  "), "Deep techno.");
    EXPECT_EQ(Caption::sentence("big room!"), "Big room!.");
    EXPECT_EQ(Caption::sentence("dub chords;."), "Dub chords.");
    EXPECT_EQ(Caption::sentence("a,;.,"), "A.");
    EXPECT_EQ(Caption::sentence("ümlaut AND Caps"), "Ümlaut AND Caps.");
    EXPECT_EQ(Caption::sentence("..."), ".");
}

TEST(CaptionTest, TrainedCaptionIsTheDefaultGenreAndDescription)
{
    EXPECT_EQ(Caption::trained(),
              kHeader + "Electronic. Electronic dance music recorded from a live DJ set, club sound system, "
                        "driving drums and synthesizer bass.");
    EXPECT_EQ(Caption::make("House", "warm pads, "), kHeader + "House. Warm pads.");
}

TEST(CaptionTest, PromptAddsKeyAndTempo)
{
    const QString trainedOpen = Caption::trained().chopped(1);
    EXPECT_EQ(Caption::prompt("  \t ", BeatGrid(128, 0.1, 4), MusicalKey(9, true)),
              trainedOpen + ", in A minor, 128 BPM.");
    EXPECT_EQ(Caption::prompt("", std::nullopt, std::nullopt), Caption::trained());
    EXPECT_EQ(Caption::prompt("  deep techno...  ", std::nullopt, std::nullopt), kHeader + "Electronic. Deep techno.");

    // A whole caption passes through; only its first character could change.
    const QString whole = "TrackType: Music, VocalType: Instrumental, Genre: House. warm pads";
    EXPECT_EQ(Caption::prompt(whole, BeatGrid(123.5, 0, 4), MusicalKey(3, false)),
              whole + ", in Eb major, 124 BPM.");
    EXPECT_EQ(Caption::prompt("tracktype: lower", std::nullopt, std::nullopt), kHeader + "Electronic. Tracktype: lower.");

    EXPECT_EQ(Caption::prompt("acid", std::nullopt, MusicalKey(6, false)), kHeader + "Electronic. Acid, in F# major.");
    EXPECT_EQ(Caption::prompt("acid", BeatGrid(127.4, 0, 4), std::nullopt), kHeader + "Electronic. Acid, 127 BPM.");
    EXPECT_EQ(Caption::prompt("acid", BeatGrid(127.5, 0, 4), std::nullopt), kHeader + "Electronic. Acid, 128 BPM.");
}

TEST(CaptionTest, EveryPitchClassHasItsFlatOrSharpName)
{
    const char* names[] = {"C", "Db", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
    for (int pc = 0; pc < 12; ++pc) {
        EXPECT_TRUE(Caption::prompt("x", std::nullopt, MusicalKey(pc, pc % 2 == 0))
                        .endsWith(QStringLiteral(", in %1 %2.").arg(names[pc], pc % 2 == 0 ? "minor" : "major")))
            << pc;
    }
}

TEST(CaptionTest, ATempoThatIsNotAPositiveNumberIsLeftOut)
{
    const QString plain = Caption::prompt("acid", std::nullopt, std::nullopt);
    for (double bpm : {0.0, -120.0, std::nan(""), double(INFINITY), 1e300})
        EXPECT_EQ(Caption::prompt("acid", BeatGrid(bpm, 0, 4), std::nullopt), plain) << bpm;
}

} // namespace
} // namespace zelvo
