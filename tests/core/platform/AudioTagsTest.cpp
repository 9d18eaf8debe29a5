#include "platform/AudioTags.h"

#include "support/AudioFixtures.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::test;

namespace {

Audio shortSine()
{
    return generate(2, 4410, 44100.0, sine(440.0, 44100.0));
}

} // namespace

TEST(AudioTags, TitleArtistAndAlbumFromEveryTaggedFormat)
{
    TempHome home;
    // AIFF keeps its artist in an author chunk, which is another tag.
    const struct {
        AudioFormat format;
        const char* name;
        bool artist;
    } formats[] = {
        {AudioFormat::mp3, "t.mp3", true},    {AudioFormat::flac, "t.flac", true},
        {AudioFormat::m4a, "t.m4a", true},    {AudioFormat::wav16, "t.wav", true},
        {AudioFormat::aiff16, "t.aiff", false}, {AudioFormat::alac, "t.m4a", true},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        const std::string path = home.file(f.name).toStdString();
        writeAudioFile(path, f.format, shortSine(), Tags{"Title \xC3\xA9", "Artist", ""});
        const AudioTags tags = readTags(QString::fromStdString(path));
        EXPECT_EQ(tags.title, QString::fromUtf8("Title \u00E9"));
        if (f.artist)
            EXPECT_EQ(tags.artist, QString("Artist"));
        else
            EXPECT_FALSE(tags.artist);
        EXPECT_FALSE(tags.album) << tags.album->toStdString(); // no album tag, no key
    }
    const std::string full = home.file("full.mp3").toStdString();
    writeAudioFile(full, AudioFormat::mp3, shortSine(), Tags{"T", "A", "Album"});
    EXPECT_EQ(readTags(QString::fromStdString(full)), (AudioTags{"T", "A", "Album"}));
}

TEST(AudioTags, UntaggedUnreadableAndMissingFilesGiveNothing)
{
    TempHome home;
    const std::string plain = home.file("plain.flac").toStdString();
    writeAudioFile(plain, AudioFormat::flac, shortSine());
    const AudioTags none = readTags(QString::fromStdString(plain));
    EXPECT_FALSE(none.title);
    EXPECT_FALSE(none.artist);
    EXPECT_FALSE(none.album);

    const std::string text = home.file("notes.mp3").toStdString();
    writeTextFile(text, "title=nothing\n");
    EXPECT_EQ(readTags(QString::fromStdString(text)), AudioTags{});
    EXPECT_EQ(readTags(home.file("missing.wav")), AudioTags{});
}
