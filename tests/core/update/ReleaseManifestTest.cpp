#include "update/ReleaseManifest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {
namespace {

void put(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

// A release folder with an executable, data files (one with a line break and
// a backslash in its name) and an empty folder, listed by `write`.
QString makeRelease(const QTemporaryDir& dir)
{
    const QString root = dir.filePath(QStringLiteral("KavriZelvo"));
    put(root + QStringLiteral("/bin/kavri-zelvo"), "#!/bin/sh\nexit 0\n",
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    put(root + QStringLiteral("/share/kavri-zelvo/update.pub"), "key\n");
    put(root + QStringLiteral("/share/kavri-zelvo/odd\nname\\.txt"), "odd");
    put(root + QStringLiteral("/share/kavri-zelvo/sounds/click.wav"), QByteArray(3000, 'x'));
    QDir().mkpath(root + QStringLiteral("/share/empty"));
    put(root + QLatin1Char('/') + QLatin1String(ReleaseManifest::signaturePath), "not checked here\n");
    return root;
}

TEST(ReleaseManifestTest, FormatsAndParsesBackExactly)
{
    const std::vector<ReleaseManifest::Entry> entries = {
        {"b", true, 0755, {}},
        {"a/x\ny\\z", false, 04711, std::string(64, 'a')},
        {"\xc3\xa9t\xc3\xa9", false, 0644, std::string(64, '0')},
    };
    const QByteArray text = ReleaseManifest::format(entries);
    const auto parsed = ReleaseManifest::parse(text);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 3u);
    EXPECT_EQ((*parsed)[0], entries[1]); // sorted by path bytes
    EXPECT_EQ((*parsed)[1], entries[0]);
    EXPECT_EQ((*parsed)[2], entries[2]);

    // Texts a manifest never is.
    const QByteArray header = "kavri-zelvo release manifest 1\n";
    const std::string digest(64, 'a');
    const QByteArray bad[] = {
        "",
        header.chopped(1),
        "kavri-zelvo release manifest 2\n",
        header + "f 0644 " + QByteArray::fromStdString(digest) + " a", // no final line break
        header + "f 0644 " + QByteArray::fromStdString(digest).toUpper() + " a\n",
        header + "f 0844 " + QByteArray::fromStdString(digest) + " a\n",
        header + "d 0755 " + QByteArray::fromStdString(digest) + " a\n",
        header + "f 0644 - a\n",
        header + "x 0644 - a\n",
        header + "d 0755 - ../a\n",
        header + "d 0755 - /a\n",
        header + "d 0755 - a//b\n",
        header + "d 0755 - a\\q\n",
        header + "d 0755 - b\nd 0755 - a\n", // out of order
        header + "d 0755 - a\nd 0755 - a\n", // twice
        header + "f 0644 " + QByteArray::fromStdString(digest) + " share/kavri-zelvo/release.manifest\n",
    };
    for (const QByteArray& text : bad) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_FALSE(ReleaseManifest::parse(text));
    }
}

TEST(ReleaseManifestTest, ATreeMatchesOnlyItsOwnList)
{
    using Change = std::function<void(const QString& root)>;
    struct Case {
        const char* name;
        Change change;
        QString mismatch; // "": still matches
    };
    const QString prefix = QLatin1String(ReleaseManifest::mismatchPrefix);
    auto path = [](const QString& root, const char* relative) { return root + QLatin1Char('/') + QLatin1String(relative); };
    const std::vector<Case> cases = {
        {"untouched", [](const QString&) {}, {}},
        {"signature replaced", [&](const QString& r) { put(path(r, ReleaseManifest::signaturePath), "other"); }, {}},
        {"content changed", [&](const QString& r) { put(path(r, "share/kavri-zelvo/sounds/click.wav"), QByteArray(3000, 'y')); },
         "share/kavri-zelvo/sounds/click.wav"},
        {"mode changed", [&](const QString& r) { ::chmod(QFile::encodeName(path(r, "bin/kavri-zelvo")).constData(), 0777); },
         "bin/kavri-zelvo"},
        {"folder mode changed", [&](const QString& r) { ::chmod(QFile::encodeName(path(r, "share/empty")).constData(), 0700); },
         "share/empty"},
        {"file added", [&](const QString& r) { put(path(r, "bin/helper"), "x"); }, "bin/helper"},
        {"folder added", [&](const QString& r) { QDir().mkpath(path(r, "share/empty/more")); }, "share/empty/more"},
        {"file removed", [&](const QString& r) { QFile::remove(path(r, "share/kavri-zelvo/update.pub")); },
         "share/kavri-zelvo/update.pub"},
        {"odd name removed", [&](const QString& r) { QFile::remove(r + QStringLiteral("/share/kavri-zelvo/odd\nname\\.txt")); },
         "share/kavri-zelvo/odd\nname\\.txt"},
        {"file replaced by a link to the same bytes",
         [&](const QString& r) {
             const QString target = path(r, "bin/kavri-zelvo");
             QFile::rename(target, r + QStringLiteral("/../elsewhere"));
             QFile::link(r + QStringLiteral("/../elsewhere"), target);
         },
         "bin/kavri-zelvo"},
        {"link added", [&](const QString& r) { QFile::link(QStringLiteral("/etc/passwd"), path(r, "share/passwd")); },
         "share/passwd"},
        {"pipe added", [&](const QString& r) { ::mkfifo(QFile::encodeName(path(r, "share/a-pipe")).constData(), 0644); },
         "share/a-pipe"},
        {"list edited", [&](const QString& r) { put(path(r, ReleaseManifest::manifestPath), "kavri-zelvo release manifest 1\n"); },
         "bin"},
        {"list unreadable", [&](const QString& r) { put(path(r, ReleaseManifest::manifestPath), "garbage"); },
         "share/kavri-zelvo/release.manifest"},
        {"list is a link",
         [&](const QString& r) {
             const QString list = path(r, ReleaseManifest::manifestPath);
             QFile::rename(list, r + QStringLiteral("/../list"));
             QFile::link(r + QStringLiteral("/../list"), list);
         },
         "share/kavri-zelvo/release.manifest"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString root = makeRelease(dir);
        ASSERT_EQ(ReleaseManifest::write(root), QString());
        c.change(root);
        EXPECT_EQ(ReleaseManifest::check(root).toStdString(),
                  c.mismatch.isNull() ? std::string() : (prefix + c.mismatch).toStdString());
    }
}

TEST(ReleaseManifestTest, TheReleaseFolderItselfMustBeARealFolder)
{
    QTemporaryDir dir;
    const QString root = makeRelease(dir);
    ASSERT_EQ(ReleaseManifest::write(root), QString());
    const QString link = dir.filePath(QStringLiteral("Linked"));
    ASSERT_TRUE(QFile::link(root, link));
    EXPECT_EQ(ReleaseManifest::check(link), QLatin1String(ReleaseManifest::mismatchPrefix) + link);
    EXPECT_FALSE(ReleaseManifest::write(link).isEmpty());

    // A tree holding a link cannot be listed in the first place.
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc"), root + QStringLiteral("/share/etc")));
    EXPECT_EQ(ReleaseManifest::write(root),
              QStringLiteral("a symbolic link or special file can't be signed: share/etc"));
}

} // namespace
} // namespace zelvo
