#pragma once
// Fixtures of the updater's tests: signing keys made at run time, signed
// release folders whose executable is a script, their images, and a log that
// keeps its lines.
#include "platform/LogSink.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace zelvo::test {

struct SigningKey {
    QString publicKey; // file
    QString secretKey; // file
    QString id;        // as minisign prints it
};

// Two key pairs made once per test program (no secret key is kept anywhere
// else). Each returns the same pair on every call.
const SigningKey& publisherKey();
const SigningKey& strangerKey();

// Makes a release folder "<parent>/KavriZelvo" of `version`: an executable
// script that writes "<version>" to `marker` (when given) and the public key
// of `trusted`; then signs it with `signer` unless null. Returns its path.
QString makeRelease(const QString& parent, const QString& version, const SigningKey* trusted,
                    const SigningKey* signer, const QString& marker = {});

// Signs a release folder with scripts/sign-release; false when it failed.
bool signRelease(const QString& release, const SigningKey& key);

// A tar image at `image` holding the release folder `release` as its top entry.
bool makeImage(const QString& release, const QString& image);

// Writes an executable shell script.
void writeScript(const QString& path, const QString& body);

// Runs a program to its end; its exit code, or -1.
int runProgram(const QString& program, const QStringList& arguments, QString* output = nullptr);

// The text of a file ("" when missing).
QString readText(const QString& path);

class RecordingLog final : public LogSink {
public:
    void note(const QString& line) override { lines.push_back(line); }
    std::vector<QString> lines;
};

} // namespace zelvo::test
