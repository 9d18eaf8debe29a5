#include "generation/ContentService.h"
#include "generation/KavriAccount.h"

#include "platform/Scheduler.h"
#include "support/StandInBrain.h"
#include "support/StandInCdn.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace zelvo {

void PrintTo(const KavriAccount::Check& check, std::ostream* out)
{
    static const char* const names[] = {"ok", "bad", "none", "checking"};
    *out << names[int(check.kind())] << "(" << check.files() << ", " << check.gigabytes() << ", \""
         << check.text().toStdString() << "\")";
}

namespace {

using Check = KavriAccount::Check;
using test::StandInBrain;
using test::StandInCdn;

const QString kValid = QString::fromLatin1(StandInCdn::validKey);
// The default manifest of the stand-in: three files.
const Check kDefaultOk = Check::ok(3, (1048576.0 + 3145728.0 + 2500000.0) / 1e9);

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// One account in a temporary home, with every change of `check` recorded.
class AccountRig {
public:
    explicit AccountRig(QUrl base = QUrl(QStringLiteral("http://127.0.0.1:9/"))) : base_(std::move(base)) {}

    QString keyPath() const { return home_.file(QStringLiteral(".kavri_key")); }

    KavriAccount& open()
    {
        account_ = std::make_unique<KavriAccount>(clock_, base_, keyPath());
        QObject::connect(account_.get(), &KavriAccount::checkChanged, [this] { checks.push_back(account_->check()); });
        QObject::connect(account_.get(), &KavriAccount::keyChanged, [this] { ++keyChanges; });
        QObject::connect(account_.get(), &KavriAccount::filesChanged, [this] { ++filesChanges; });
        return *account_;
    }
    KavriAccount& account() { return *account_; }
    ManualScheduler& clock() { return clock_; }

    // Runs the event loop until the check has an outcome.
    Check settle(double seconds = 10)
    {
        StandInBrain::spinUntil(
            [this] {
                const Check::Kind kind = account_->check().kind();
                return kind == Check::Kind::ok || kind == Check::Kind::bad;
            },
            seconds);
        return account_->check();
    }
    // Runs the event loop for a while, whatever happens.
    static void spinFor(double seconds)
    {
        StandInBrain::spinUntil([] { return false; }, seconds);
    }

    std::vector<Check> checks;
    int keyChanges = 0;
    int filesChanges = 0;

private:
    test::TempHome home_;
    ManualScheduler clock_;
    QUrl base_;
    std::unique_ptr<KavriAccount> account_;
};

TEST(ContentServiceTest, JoinsPathComponentsOntoTheBase)
{
    struct Case {
        const char* base;
        const char* relative;
        const char* expected;
    };
    const Case cases[] = {
        {"https://cdn.kavri.example/", "weights/manifest", "https://cdn.kavri.example/weights/manifest"},
        {"https://cdn.kavri.example", "weights/manifest", "https://cdn.kavri.example/weights/manifest"},
        {"http://127.0.0.1:8080/cdn", "zelvo/latest.json", "http://127.0.0.1:8080/cdn/zelvo/latest.json"},
        {"http://127.0.0.1:8080/cdn/", "zelvo/latest.json", "http://127.0.0.1:8080/cdn/zelvo/latest.json"},
        {"https://h/a/b?x=1#top", "/weights/manifest", "https://h/a/b/weights/manifest"},
        {"https://h/a%2Fb/", "weights/file/zelvo-0/weights/x.bin", "https://h/a%2Fb/weights/file/zelvo-0/weights/x.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base);
        EXPECT_EQ(ContentService::join(QUrl(c.base), QString::fromLatin1(c.relative))
                      .toString(QUrl::FullyEncoded)
                      .toStdString(),
                  c.expected);
    }
    EXPECT_TRUE(ContentService::isLoopback(QUrl("http://127.0.0.1:1/")));
    EXPECT_TRUE(ContentService::isLoopback(QUrl("http://[::1]:80/")));
    EXPECT_FALSE(ContentService::isLoopback(QUrl("https://cdn.kavri.example/")));
}

TEST(KavriAccountTest, ParsesAnyJsonTextAndReadsManifests)
{
    struct Case {
        const char* name;
        QByteArray body;
        bool json;
        std::optional<int> entries; // a manifest with this many entries
        std::vector<KavriAccount::ManifestFile> files;
        double gigabytes = 0;
    };
    const std::vector<Case> cases = {
        {"empty body", "", false, {}, {}},
        {"two texts", "1, 2", false, {}, {}},
        {"escape from the wrapping", "1],[2", false, {}, {}},
        {"trailing garbage", "{} x", false, {}, {}},
        {"bare number", " 42 ", true, {}, {}},
        {"bare string", "\"files\"", true, {}, {}},
        {"null", "null", true, {}, {}},
        {"array", "[]", true, {}, {}},
        {"no files", "{\"model\": 1}", true, {}, {}},
        {"files not an array", "{\"files\": {}}", true, {}, {}},
        {"an entry not an object", "{\"files\": [{\"path\": \"a\", \"bytes\": 1}, 7]}", true, {}, {}},
        {"empty list", "{\"files\": []}", true, 0, {}},
        {"kept and skipped entries",
         R"({"files": [{"path": "w/a", "bytes": 4000000000},
                       {"path": "w/no-size"},
                       {"path": 12, "bytes": 5},
                       {"path": "w/b", "bytes": 9223372036854775807},
                       {"path": "w/frac", "bytes": 1.5},
                       {"path": "w/huge", "bytes": 1180591620717411303424},
                       {"path": "w/text", "bytes": "12"},
                       {"path": "w/neg", "bytes": -1},
                       {"path": "w/c", "bytes": 2.0, "sha": "x"}], "other": true})",
         true, 9, {{"w/a", 4000000000}, {"w/b", INT64_MAX}, {"w/c", 2}}, (4e9 + 9223372036854775807.0 + 2) / 1e9},
        {"paths that leave the model's folder",
         R"({"files": [{"path": "/etc/passwd", "bytes": 1}, {"path": "../x", "bytes": 1},
                       {"path": "w/../../x", "bytes": 1}, {"path": "w//x", "bytes": 1},
                       {"path": "", "bytes": 1}, {"path": "w/./x", "bytes": 1},
                       {"path": "zelvo-0/weights/ok..bin", "bytes": 3}]})",
         true, 7, {{"zelvo-0/weights/ok..bin", 3}}, 3e-9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QJsonValue> json = KavriAccount::parseJson(c.body);
        ASSERT_EQ(json.has_value(), c.json);
        if (!json)
            continue;
        const std::optional<KavriAccount::Manifest> manifest = KavriAccount::readManifest(*json);
        ASSERT_EQ(manifest.has_value(), c.entries.has_value());
        if (!manifest)
            continue;
        EXPECT_EQ(manifest->entries, *c.entries);
        EXPECT_EQ(manifest->files, c.files);
        EXPECT_DOUBLE_EQ(manifest->gigabytes, c.gigabytes);
    }
}

TEST(KavriAccountTest, ReadsTheKeyFileAndChecksAStoredKeyAfterConstruction)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> file; // none: no file; "<dir>": a folder in its place
        QString key;
    };
    const Case cases[] = {
        {"missing", std::nullopt, ""},
        {"trailing line break", QByteArray("sk_kavri_abc\r\n"), "sk_kavri_abc"},
        {"surrounding space", QByteArray(" \t sk_kavri_abc \n\n"), "sk_kavri_abc"},
        {"white space only", QByteArray(" \n\t\r\n "), ""},
        {"invalid UTF-8", QByteArray("sk_kavri_\xff\xfe"), ""},
        {"truncated sequence", QByteArray("sk_kavri_\xc3"), ""},
        {"UTF-8 kept", QByteArray("sk_kavri_\xc3\xa9t\xc3\xa9"), QString::fromUtf8("sk_kavri_été")},
        {"unreadable", QByteArray("<dir>"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountRig rig;
        if (c.file == QByteArray("<dir>"))
            ASSERT_TRUE(QDir().mkpath(rig.keyPath()));
        else if (c.file)
            writeFile(rig.keyPath(), *c.file);
        KavriAccount& account = rig.open();
        EXPECT_EQ(account.key(), c.key);
        // Nothing is checked inside the constructor, so a caller can connect first.
        EXPECT_EQ(account.check(), Check::none());
        QCoreApplication::processEvents();
        // With a key, the posted check starts (and the dead port fails it).
        if (c.key.isEmpty()) {
            EXPECT_TRUE(rig.checks.empty());
        } else {
            ASSERT_FALSE(rig.checks.empty());
            EXPECT_EQ(rig.checks.front(), Check::checking());
            EXPECT_EQ(rig.settle(), Check::bad(KavriAccount::offlineText()));
        }
    }
}

TEST(KavriAccountTest, SavesThePrivateTrimmedKeyAndForgetsIt)
{
    StandInCdn cdn;
    ASSERT_TRUE(cdn.start());
    AccountRig rig(cdn.base());
    KavriAccount& account = rig.open();

    account.save(QStringLiteral(" \n\t "));
    EXPECT_EQ(account.key(), "");
    EXPECT_FALSE(QFile::exists(rig.keyPath()));
    EXPECT_TRUE(rig.checks.empty());

    account.save(QStringLiteral("  ") + kValid + QStringLiteral("\n"));
    EXPECT_EQ(account.key(), kValid);
    EXPECT_EQ(account.check(), Check::checking());
    QFile stored(rig.keyPath());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), kValid.toUtf8());
    EXPECT_EQ(modeOf(rig.keyPath()), mode_t(0600));
    EXPECT_EQ(QDir(QFileInfo(rig.keyPath()).path()).entryList({".kavri_key*"}, QDir::Files | QDir::Hidden),
              QStringList{".kavri_key"});
    EXPECT_EQ(rig.settle(), kDefaultOk);
    EXPECT_EQ(account.files().size(), 3u);
    EXPECT_EQ(account.files()[1], (KavriAccount::ManifestFile{"zelvo-0/weights/model-00001.safetensors", 3145728}));

    // A key read back at the next start is the one saved.
    EXPECT_EQ(KavriAccount(rig.clock(), cdn.base(), rig.keyPath()).key(), kValid);

    rig.checks.clear();
    account.forget();
    EXPECT_FALSE(QFile::exists(rig.keyPath()));
    EXPECT_EQ(account.key(), "");
    EXPECT_EQ(account.check(), Check::none());
    EXPECT_TRUE(account.files().empty());
    EXPECT_EQ(rig.checks, std::vector<Check>{Check::none()});
    // Forgetting again, with no file, is quiet.
    account.forget();
    EXPECT_EQ(rig.checks.size(), 1u);
    EXPECT_EQ(rig.keyChanges, 2);
    EXPECT_EQ(rig.filesChanges, 2);
}

TEST(KavriAccountTest, ASaveThatCannotWriteKeepsTheKeyAndSaysWhy)
{
    AccountRig rig;
    writeFile(rig.keyPath(), "sk_kavri_old\n");
    KavriAccount& account = rig.open();
    QCoreApplication::processEvents();
    rig.settle();
    // Running as root, permissions stop nothing: a folder in the file's place does.
    ASSERT_TRUE(QFile::remove(rig.keyPath()));
    ASSERT_TRUE(QDir().mkpath(rig.keyPath() + "/inside"));
    rig.keyChanges = 0;

    account.save(QStringLiteral("sk_kavri_new"));
    EXPECT_EQ(account.key(), "sk_kavri_old");
    EXPECT_EQ(rig.keyChanges, 0);
    EXPECT_EQ(account.check().kind(), Check::Kind::bad);
    EXPECT_TRUE(account.check().text().startsWith("couldn't save the key: cannot replace "))
        << account.check().text().toStdString();
    EXPECT_EQ(QDir(QFileInfo(rig.keyPath()).path()).entryList({".kavri_key*"}, QDir::AllEntries | QDir::Hidden),
              QStringList{".kavri_key"});
    // Nothing posted overwrites the error.
    AccountRig::spinFor(0.2);
    EXPECT_EQ(account.check().kind(), Check::Kind::bad);
}

TEST(KavriAccountTest, MasksByVisibleCharacters)
{
    const QString family = QString::fromUtf8("👨‍👩‍👧"); // one character of five code points
    const QString accented = QStringLiteral("e\u0301");  // e and a combining acute
    struct Case {
        QString key;
        QString masked;
    };
    const Case cases[] = {
        {"", ""},
        {"sk_kavri_1234", "sk_kavri_1234"},
        {"sk_kavri_12345", "sk_kavri_12345"}, // 14: whole
        {"sk_kavri_123456", QString::fromUtf8("sk_kavri_1…3456")},
        {"sk_kavri_abcdefghijk", QString::fromUtf8("sk_kavri_a…hijk")},
        {"sk_kavri_" + family + "1234", "sk_kavri_" + family + "1234"}, // 14 visible
        {"sk_kavri_" + family + "abcdefg" + family, "sk_kavri_" + family + QString::fromUtf8("…efg") + family},
        {"😀😀😀😀😀😀😀😀😀😀x" + accented + "yz" + accented,
         QString::fromUtf8("😀😀😀😀😀😀😀😀😀😀…") + accented + "yz" + accented},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        AccountRig rig;
        writeFile(rig.keyPath(), c.key.toUtf8());
        EXPECT_EQ(rig.open().masked(), c.masked);
    }
}

// Every kind of answer the service (or something in its place) can give.
TEST(KavriAccountTest, ClassifiesTheServiceAnswers)
{
    StandInCdn::Options options;
    options.prefix = "/cdn";
    options.revoked = {"sk_kavri_revoked"};
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    const Check offline = Check::bad(KavriAccount::offlineText());
    const Check unrecognised = Check::bad(KavriAccount::unrecognisedText());
    struct Case {
        const char* mode;
        QString key;
        Check expected;
        size_t files = 0;
    };
    const std::vector<Case> cases = {
        {"normal", kValid, kDefaultOk, 3},
        {"normal", "sk_kavri_unknown", unrecognised},
        {"normal", "sk_kavri_revoked", unrecognised},
        {"status=401", kValid, unrecognised},
        {"status=403", kValid, unrecognised},
        {"status=500", kValid, Check::bad("the cdn answered 500 — try again in a minute")},
        {"status=404", kValid, Check::bad(KavriAccount::statusText(404))},
        {"status=204", kValid, Check::bad(KavriAccount::statusText(204))},
        {"status=302", kValid, Check::bad(KavriAccount::statusText(302))},
        {"html", kValid, offline},
        {"array", kValid, Check::bad(KavriAccount::statusText(200))},
        {"scalar", kValid, Check::bad(KavriAccount::statusText(200))},
        {"files-string", kValid, Check::bad(KavriAccount::statusText(200))},
        {"files-mixed", kValid, Check::ok(6, 3.5), 2},
        {"hangup", kValid, offline},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(QLatin1String(c.mode), c.key).toStdString());
        ASSERT_TRUE(cdn.setMode(c.mode));
        AccountRig rig(cdn.base());
        KavriAccount& account = rig.open();
        account.save(c.key);
        EXPECT_EQ(rig.settle(), c.expected);
        EXPECT_EQ(account.files().size(), c.files);
        EXPECT_EQ(rig.checks.front(), Check::checking());
    }

    // The requests: GETs below the prefix (Qt sends one again after a hang-up),
    // the key as a bearer token, no body.
    const QList<QJsonObject> log = cdn.log();
    qsizetype gets = 0;
    for (const QJsonObject& entry : log) {
        if (entry["method"].toString() != "GET")
            continue;
        ++gets;
        EXPECT_EQ(entry["path"].toString(), "/cdn/weights/manifest");
    }
    EXPECT_GE(gets, qsizetype(cases.size()));
    const QJsonObject first = *std::find_if(log.begin(), log.end(), [](const QJsonObject& entry) {
        return entry["method"].toString() == "GET";
    });
    const QJsonObject headers = first["headers"].toObject();
    EXPECT_EQ(headers["Authorization"].toString(), "Bearer " + kValid);
    EXPECT_FALSE(headers.contains("Content-Length"));
    EXPECT_FALSE(headers.contains("Content-Type"));
}

// An answer far larger than any manifest is not read to its end, even when it
// would be a valid one.
TEST(KavriAccountTest, RefusesAnOversizedManifest)
{
    StandInCdn::Options options;
    options.manifest = QByteArray(17 * 1024 * 1024, ' ') + R"({"files": []})";
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    AccountRig rig(cdn.base());
    rig.open().save(kValid);
    EXPECT_EQ(rig.settle(), Check::bad(KavriAccount::statusText(200)));
}

TEST(KavriAccountTest, FailsAsUnreachableWithoutAService)
{
    const Check offline = Check::bad(KavriAccount::offlineText());
    test::TempHome scratch;
    // A file: base answers with no status at all: the "status 0" answer.
    ASSERT_TRUE(QDir().mkpath(scratch.file("site/weights")));
    writeFile(scratch.file("site/weights/manifest"), R"({"files": []})");
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 deadPort = closed.serverPort();
    closed.close();

    struct Case {
        const char* name;
        QUrl base;
        Check expected;
    };
    const Case cases[] = {
        {"refused", QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(deadPort)), offline},
        {"not a URL", QUrl(QStringLiteral("cdn.kavri.example"), QUrl::StrictMode), offline},
        {"empty", QUrl(), offline},
        {"unknown scheme", QUrl(QStringLiteral("gopher://127.0.0.1:%1/").arg(deadPort)), offline},
        {"file base", QUrl::fromLocalFile(scratch.file("site") + "/"), Check::bad(KavriAccount::statusText(0))},
        {"missing file", QUrl::fromLocalFile(scratch.file("nowhere") + "/"), offline},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountRig rig(c.base);
        rig.open().save(kValid);
        EXPECT_EQ(rig.settle(), c.expected);
    }
}

TEST(KavriAccountTest, ASlowServiceTimesOutOnTheScheduler)
{
    StandInCdn::Options options;
    options.mode = "slow=60";
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    AccountRig rig(cdn.base());
    KavriAccount& account = rig.open();
    account.save(kValid);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return cdn.log().size() == 1; }));
    rig.clock().advance(KavriAccount::checkTimeout - 0.5);
    AccountRig::spinFor(0.1);
    EXPECT_EQ(account.check(), Check::checking());
    rig.clock().advance(0.5);
    EXPECT_EQ(account.check(), Check::bad(KavriAccount::offlineText()));
    EXPECT_EQ(rig.clock().pending(), 0u);
}

// A key that would break the header line never goes on the wire.
TEST(KavriAccountTest, NeverSendsAKeyWithControlCharacters)
{
    StandInCdn cdn;
    ASSERT_TRUE(cdn.start());
    for (const QString& key : {QStringLiteral("sk_kavri_a\r\nX-Injected: 1"), QStringLiteral("sk_kavri_a\tb"),
                               QStringLiteral("sk_kavri_a\u0085b"), QStringLiteral("sk_kavri_a\u2028b")}) {
        SCOPED_TRACE(key.toStdString());
        AccountRig rig(cdn.base());
        rig.open().save(key);
        EXPECT_EQ(rig.settle(), Check::bad(KavriAccount::unrecognisedText()));
    }
    AccountRig::spinFor(0.1);
    EXPECT_TRUE(cdn.log().empty());
}

// Only an answer about the current key counts: a late answer about a key saved
// over or forgotten meanwhile changes nothing.
TEST(KavriAccountTest, IgnoresAnswersAboutAnOlderKey)
{
    StandInCdn::Options options;
    options.revoked = {"sk_kavri_revoked"};
    options.mode = "slow=0.5";
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    {
        SCOPED_TRACE("saved over");
        AccountRig rig(cdn.base());
        KavriAccount& account = rig.open();
        account.save(QStringLiteral("sk_kavri_revoked"));
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return cdn.log().size() == 1; }));
        account.save(kValid);
        EXPECT_EQ(rig.settle(), kDefaultOk);
        AccountRig::spinFor(0.8); // the first answer would have come by now
        EXPECT_EQ(rig.checks, (std::vector<Check>{Check::checking(), kDefaultOk}));
    }
    {
        SCOPED_TRACE("forgotten");
        AccountRig rig(cdn.base());
        KavriAccount& account = rig.open();
        account.save(kValid);
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return cdn.log().size() == 3; }));
        account.forget();
        AccountRig::spinFor(0.8);
        EXPECT_EQ(account.check(), Check::none());
        EXPECT_TRUE(account.files().empty());
        EXPECT_EQ(rig.checks, (std::vector<Check>{Check::checking(), Check::none()}));
    }
    {
        SCOPED_TRACE("an earlier good list stays through a failed check");
        ASSERT_TRUE(cdn.setMode("normal"));
        AccountRig rig(cdn.base());
        KavriAccount& account = rig.open();
        account.save(kValid);
        ASSERT_EQ(rig.settle(), kDefaultOk);
        ASSERT_TRUE(cdn.setMode("status=503"));
        account.verify();
        EXPECT_EQ(rig.settle(), Check::bad(KavriAccount::statusText(503)));
        EXPECT_EQ(account.files().size(), 3u);
        EXPECT_EQ(rig.filesChanges, 1);
    }
}

} // namespace
} // namespace zelvo
