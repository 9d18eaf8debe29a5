#include "generation/BrainScripts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(BrainScriptsTest, InstalledCopyElseTheSourceTree)
{
    const QString source = QDir::cleanPath(QStringLiteral(ZELVO_SOURCE_DIR "/brain"));
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    const QString installed = prefix.filePath(QStringLiteral("share/kavri-zelvo/brain"));
    QDir().mkpath(bin);

    // Nothing installed, then the folder without the server script: the source tree.
    EXPECT_EQ(QDir::cleanPath(brainScriptsFor(bin)), source);
    QDir().mkpath(installed);
    QFile(installed + QStringLiteral("/install.sh")).open(QIODevice::WriteOnly);
    EXPECT_EQ(QDir::cleanPath(brainScriptsFor(bin)), source);

    QFile(installed + QStringLiteral("/kavri_brain.py")).open(QIODevice::WriteOnly);
    EXPECT_EQ(brainScriptsFor(bin), installed);

    // The fallback is returned even where it does not exist.
    EXPECT_EQ(QDir::cleanPath(brainScriptsFor(QStringLiteral("/nonexistent/bin"))), source);
    // A test program is not installed.
    EXPECT_EQ(QDir::cleanPath(brainScripts()), source);
}

} // namespace
} // namespace zelvo
