#include "generation/Adapters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace zelvo {
namespace {

const QByteArray kAdapterHeader =
    R"({"__metadata__":{"rank":"16","alpha":"32"},)"
    R"("blocks.0.attn.q.lora_A":{"dtype":"F32","shape":[16,4],"data_offsets":[0,256]},)"
    R"("blocks.0.attn.q.lora_B":{"dtype":"F32","shape":[4,16],"data_offsets":[256,512]}})";

QByteArray lengthWord(std::uint64_t n)
{
    QByteArray word(8, '\0');
    for (int i = 0; i < 8; ++i)
        word[i] = char((n >> (8 * i)) & 0xff);
    return word;
}

// A safetensors file: length word, header, then `payload` bytes of tensor data.
QByteArray safetensors(const QByteArray& header, int payload = 512)
{
    return lengthWord(std::uint64_t(header.size())) + header + QByteArray(payload, '\x11');
}

class AdaptersTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static unsigned mode(const QString& path)
    {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 07777;
    }

    QTemporaryDir dir;
};

TEST_F(AdaptersTest, RecognisesAdaptersWhateverTheCaseOfTheExtension)
{
    EXPECT_TRUE(Adapters::isAdapter(write("warm.safetensors", safetensors(kAdapterHeader))));
    EXPECT_TRUE(Adapters::isAdapter(write("LOUD.SafeTensors", safetensors(kAdapterHeader))));
    // The header may be cut short by the end of the file only if it still parses:
    // a length word larger than the file is read as far as the file goes.
    EXPECT_TRUE(Adapters::isAdapter(
        write("short-data.safetensors", lengthWord(std::uint64_t(kAdapterHeader.size()) + 100) + kAdapterHeader)));
}

TEST_F(AdaptersTest, RefusesFilesThatAreNotAdapters)
{
    const QByteArray good = safetensors(kAdapterHeader);
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"adapter.bin", good},
        {"adapter.safetensors.bak", good},
        {".safetensors", good},
        {"tiny.safetensors", QByteArray("\x10\x00\x00", 3)},
        {"zero.safetensors", lengthWord(0) + kAdapterHeader},
        {"absurd.safetensors", lengthWord(std::uint64_t(1) << 26) + kAdapterHeader},
        {"huge.safetensors", lengthWord(~std::uint64_t(0)) + kAdapterHeader},
        {"garbage.safetensors", safetensors("{\"__metadata__\": {\"rank\": 1, ")},
        {"array.safetensors", safetensors("[1, 2, 3]")},
        {"empty-object.safetensors", safetensors("{}")},
        {"plain-model.safetensors",
         safetensors(R"({"w.lora_A":{"dtype":"F32","shape":[1],"data_offsets":[0,4]}})")},
        {"meta-not-object.safetensors", safetensors(R"({"__metadata__":"rank alpha","x.lora_A":{}})")},
        {"meta-empty.safetensors", safetensors(R"({"__metadata__":{},"x.lora_A":{}})")},
        {"no-alpha.safetensors", safetensors(R"({"__metadata__":{"rank":"8"},"x.lora_A":{}})")},
        {"no-rank.safetensors", safetensors(R"({"__metadata__":{"alpha":"8"},"x.lora_A":{}})")},
        {"no-lora-a.safetensors",
         safetensors(R"({"__metadata__":{"rank":"8","alpha":"8"},"x.lora_A.weight":{},"x.lora_B":{}})")},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(Adapters::isAdapter(write(c.name, c.bytes))) << c.name;

    EXPECT_FALSE(Adapters::isAdapter(dir.filePath("missing.safetensors")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.safetensors"));
    EXPECT_FALSE(Adapters::isAdapter(dir.filePath("folder.safetensors")));
    // A pipe with an adapter's name is never opened (opening it would block).
    const QString fifo = dir.filePath("pipe.safetensors");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(Adapters::isAdapter(fifo));
}

TEST_F(AdaptersTest, InstallCopiesPrivatelyUnderTheStem)
{
    const QString models = dir.filePath("brain/models");
    const QString source = write("Night Drive.v2.SAFETENSORS", safetensors(kAdapterHeader, 4096));

    EXPECT_EQ(Adapters::install(source, models), "Night Drive.v2");
    const QString installed = models + "/Night Drive.v2.safetensors";
    EXPECT_EQ(read(installed), read(source));
    EXPECT_EQ(mode(models), 0700u);
    EXPECT_EQ(mode(installed), 0600u);
    EXPECT_TRUE(QFileInfo::exists(source)) << "the source stays where it was";
    EXPECT_EQ(QDir(models).entryList(QDir::Files | QDir::Hidden), QStringList{"Night Drive.v2.safetensors"});
}

TEST_F(AdaptersTest, InstallReplacesAnEarlierAdapterOfTheSameName)
{
    const QString models = dir.filePath("models");
    ASSERT_TRUE(QDir().mkpath(models));
    QFile::setPermissions(models, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ReadOther | QFileDevice::ExeOther);
    write("models/.warm.safetensors.part", "left over from a crash");
    Adapters::install(write("warm.safetensors", safetensors(kAdapterHeader, 100)), models);

    const QString newer = dir.filePath("newer");
    ASSERT_TRUE(QDir().mkpath(newer));
    const QByteArray second = safetensors(kAdapterHeader, 999);
    const QString source = write("newer/warm.safetensors", second);
    EXPECT_EQ(Adapters::install(source, models), "warm");
    EXPECT_EQ(read(models + "/warm.safetensors"), second);
    EXPECT_EQ(mode(models), 0700u);
    EXPECT_EQ(QDir(models).entryList(QDir::Files | QDir::Hidden), QStringList{"warm.safetensors"});
}

TEST_F(AdaptersTest, InstallingTheInstalledFileCopiesNothing)
{
    const QString models = dir.filePath("models");
    const QString installed = models + "/warm.safetensors";
    Adapters::install(write("warm.safetensors", safetensors(kAdapterHeader)), models);
    const QDateTime before = QFileInfo(installed).lastModified();
    const auto inode = QFileInfo(installed).fileTime(QFileDevice::FileMetadataChangeTime);
    QFile::setPermissions(models, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ReadGroup | QFileDevice::ExeGroup);

    EXPECT_EQ(Adapters::install(models + "/../models/./warm.safetensors", models), "warm");
    EXPECT_EQ(QFileInfo(installed).lastModified(), before);
    EXPECT_EQ(QFileInfo(installed).fileTime(QFileDevice::FileMetadataChangeTime), inode);
    EXPECT_EQ(mode(models), 0700u) << "the folder's permissions are set again";
}

TEST_F(AdaptersTest, RefusesANonAdapterBeforeWritingAnything)
{
    const QString models = dir.filePath("models");
    try {
        Adapters::install(write("song.safetensors", safetensors("{\"a\":1}")), models);
        FAIL() << "no error";
    } catch (const Adapters::InstallError& e) {
        EXPECT_EQ(e.kind(), Adapters::InstallError::Kind::notAnAdapter);
        EXPECT_EQ(e.description(), "song.safetensors isn't a zelvo-0 adapter");
    }
    EXPECT_FALSE(QFileInfo::exists(models));
}

TEST_F(AdaptersTest, FileSystemFailuresAreThrownAndLeaveTheOldAdapter)
{
    const QString models = dir.filePath("models");
    const QByteArray first = safetensors(kAdapterHeader, 10);
    Adapters::install(write("warm.safetensors", first), models);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("other")));
    const QString source = write("other/warm.safetensors", safetensors(kAdapterHeader, 20));

    // A models folder in the way of a plain file cannot be created.
    write("blocked", "x");
    EXPECT_THROW(Adapters::install(source, dir.filePath("blocked/models")), std::filesystem::filesystem_error);

    // A folder standing where the temporary file goes makes the copy fail.
    ASSERT_TRUE(QDir(models).mkdir(".warm.safetensors.part"));
    write("models/.warm.safetensors.part/keep", "x");
    EXPECT_THROW(Adapters::install(source, models), std::filesystem::filesystem_error);
    EXPECT_EQ(read(models + "/warm.safetensors"), first);
}

} // namespace
} // namespace zelvo
