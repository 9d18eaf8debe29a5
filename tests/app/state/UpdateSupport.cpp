#include "UpdateSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zelvo::test {

namespace {

SigningKey makeKey(const char* name)
{
    static QTemporaryDir keys; // lives as long as the test program
    SigningKey key;
    key.publicKey = keys.filePath(QString::fromLatin1(name) + QStringLiteral(".pub"));
    key.secretKey = keys.filePath(QString::fromLatin1(name) + QStringLiteral(".key"));
    QString output;
    const int code = runProgram(QStringLiteral("/usr/bin/minisign"),
                                {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), key.publicKey,
                                 QStringLiteral("-s"), key.secretKey},
                                &output);
    EXPECT_EQ(code, 0) << output.toStdString();
    // The public key's comment names its id: "untrusted comment: minisign public key <ID>".
    const QString comment = readText(key.publicKey).section(QLatin1Char('\n'), 0, 0);
    key.id = comment.section(QLatin1Char(' '), -1);
    return key;
}

void put(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

const SigningKey& publisherKey()
{
    static const SigningKey key = makeKey("publisher");
    return key;
}

const SigningKey& strangerKey()
{
    static const SigningKey key = makeKey("stranger");
    return key;
}

int runProgram(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return process.exitCode();
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void writeScript(const QString& path, const QString& body)
{
    put(path, (QStringLiteral("#!/bin/sh\n") + body + QLatin1Char('\n')).toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

bool signRelease(const QString& release, const SigningKey& key)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZELVO_MANIFEST_TOOL"), QStringLiteral(ZELVO_BINARY_DIR "/kavri-zelvo-manifest"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ZELVO_SOURCE_DIR "/scripts/sign-release"), {release, key.secretKey});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "sign-release: " << process.readAll().toStdString();
        return false;
    }
    return true;
}

QString makeRelease(const QString& parent, const QString& version, const SigningKey* trusted,
                    const SigningKey* signer, const QString& marker)
{
    const QString root = parent + QStringLiteral("/KavriZelvo");
    QString body = QStringLiteral("# kavri zelvo ") + version;
    if (!marker.isEmpty())
        body += QStringLiteral("\necho ") + version + QStringLiteral(" > '") + marker + QLatin1Char('\'');
    writeScript(root + QStringLiteral("/bin/kavri-zelvo"), body);
    put(root + QStringLiteral("/share/kavri-zelvo/version.txt"), version.toUtf8());
    if (trusted)
        QFile::copy(trusted->publicKey, root + QStringLiteral("/share/kavri-zelvo/update.pub"));
    if (signer && !signRelease(root, *signer))
        return {};
    return root;
}

bool makeImage(const QString& release, const QString& image)
{
    const QFileInfo info(release);
    QString output;
    const int code = runProgram(QStringLiteral("/usr/bin/tar"),
                                {QStringLiteral("-c"), QStringLiteral("-z"), QStringLiteral("-f"), image,
                                 QStringLiteral("-C"), info.absolutePath(), info.fileName()},
                                &output);
    EXPECT_EQ(code, 0) << output.toStdString();
    return code == 0;
}

} // namespace zelvo::test
