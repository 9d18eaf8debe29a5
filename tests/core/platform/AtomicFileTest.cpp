#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace zelvo {
namespace {

mode_t modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The permissions a replaced file ends with: an old file's are kept unless a
// mode is asked for; a new file gets 0644 or the mode. Nothing else is ever
// left in the folder.
TEST(AtomicFileTest, PermissionsOfNewAndReplacedFiles)
{
    struct Case {
        const char* name;
        std::optional<mode_t> oldMode; // none: no old file
        std::optional<mode_t> asked;
        mode_t expected;
    };
    const Case cases[] = {
        {"new, default", std::nullopt, std::nullopt, 0644},
        {"new, private", std::nullopt, 0600, 0600},
        {"old 0640 kept", 0640, std::nullopt, 0640},
        {"old 0644 narrowed", 0644, 0600, 0600},
        {"old 0600 widened on request", 0600, 0644, 0644},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("secret");
        if (c.oldMode) {
            ASSERT_TRUE(writeFileAtomically(path, "old"));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), *c.oldMode), 0);
        }
        QString error;
        ASSERT_TRUE(writeFileAtomically(path, "new", &error, true, c.asked)) << error.toStdString();
        EXPECT_EQ(contents(path), "new");
        EXPECT_EQ(modeOf(path), c.expected);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
}

} // namespace
} // namespace zelvo
