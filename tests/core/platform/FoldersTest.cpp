#include "platform/Folders.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

void writeUserDirs(const QString& configHome, const QByteArray& text)
{
    QDir().mkpath(configHome);
    QFile file(configHome + "/user-dirs.dirs");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(FoldersTest, FollowTheXdgVariablesAndFallBackUnderHome)
{
    test::TempHome home;
    qputenv("XDG_DATA_HOME", "/srv/data");
    qputenv("XDG_STATE_HOME", "/srv/state/");
    qputenv("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(Folders::applicationSupport(), "/srv/data/KavriZelvo");
    EXPECT_EQ(Folders::dataHome(), "/srv/data");
    EXPECT_EQ(Folders::logs(), "/srv/state/KavriZelvo");
    EXPECT_EQ(Folders::config(), "/srv/config/KavriZelvo");

    // Unset, empty and relative values are all ignored, as the XDG rules say.
    qunsetenv("XDG_DATA_HOME");
    qputenv("XDG_STATE_HOME", "");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(Folders::applicationSupport(), home.path() + "/.local/share/KavriZelvo");
    EXPECT_EQ(Folders::dataHome(), home.path() + "/.local/share");
    EXPECT_EQ(Folders::logs(), home.path() + "/.local/state/KavriZelvo");
    EXPECT_EQ(Folders::config(), home.path() + "/.config/KavriZelvo");
    EXPECT_EQ(Folders::music(), home.path() + "/Music");

    // Everything is read at call time: moving HOME moves the defaults.
    qputenv("HOME", "/home/other");
    EXPECT_EQ(Folders::home(), "/home/other");
    EXPECT_EQ(Folders::applicationSupport(), "/home/other/.local/share/KavriZelvo");
    EXPECT_EQ(Folders::music(), "/home/other/Music");
}

TEST(FoldersTest, MusicComesFromUserDirsWithHomeExpanded)
{
    test::TempHome home;
    const QString configHome = home.file(".config");
    writeUserDirs(configHome,
                  "# written by the desktop\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                  "#XDG_MUSIC_DIR=\"$HOME/Commented\"\n"
                  "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    EXPECT_EQ(Folders::music(), home.path() + "/Musik");

    // Absolute paths are taken as they are; the last valid entry wins; relative
    // entries are not paths the file may hold and are skipped.
    writeUserDirs(configHome,
                  "XDG_MUSIC_DIR=\"/mnt/audio/My Music\"\n"
                  "XDG_MUSIC_DIR=\"Music-relative\"\n");
    EXPECT_EQ(Folders::music(), "/mnt/audio/My Music");

    writeUserDirs(configHome, "XDG_MUSIC_DIR=\"$HOME/Tracks \\\"live\\\"\"\n");
    EXPECT_EQ(Folders::music(), home.path() + "/Tracks \"live\"");

    writeUserDirs(configHome, "XDG_MUSIC_DIR=\"relative\"\n");
    EXPECT_EQ(Folders::music(), home.path() + "/Music");

    // The file is found through XDG_CONFIG_HOME.
    writeUserDirs(home.file("elsewhere"), "XDG_MUSIC_DIR=\"$HOME/Elsewhere\"\n");
    qputenv("XDG_CONFIG_HOME", home.file("elsewhere").toUtf8());
    EXPECT_EQ(Folders::music(), home.path() + "/Elsewhere");

    // The environment wins over the file.
    qputenv("XDG_MUSIC_DIR", "$HOME/FromEnv");
    EXPECT_EQ(Folders::music(), home.path() + "/FromEnv");
    qputenv("XDG_MUSIC_DIR", "/abs/env");
    EXPECT_EQ(Folders::music(), "/abs/env");
}

} // namespace
} // namespace zelvo
