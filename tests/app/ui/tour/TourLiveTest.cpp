// What the tour's live widgets show: key entry faces, the download bar's
// faces (the free-space warning in both waiting and failed), the controller
// check's line around the echo's life, and the closing checklist.
#include "ui/tour/TourLive.h"

#include <gtest/gtest.h>

namespace zelvo::tour {
namespace {

using Check = KavriAccount::Check;
using StatusKind = BrainStatus::Kind;

TEST(TourLive, KeyFaces)
{
    const QString host = QStringLiteral("keys.example");
    const KeyFace none = keyFace(Check::none(), {}, {}, host);
    EXPECT_FALSE(none.confirmed);
    EXPECT_EQ(none.placeholder, QString::fromUtf8("paste your sk_kavri_… key"));
    EXPECT_EQ(none.statusText, QStringLiteral("no key yet? it's free"));

    const KeyFace refused = keyFace(Check::bad(QStringLiteral("that key was refused")), QStringLiteral("sk_kavri_0123456789"),
                                    QString::fromUtf8("sk_kavri_0…6789"), host);
    EXPECT_EQ(refused.status, KeyFace::Status::refused);
    EXPECT_EQ(refused.statusText, QStringLiteral("that key was refused"));
    EXPECT_EQ(refused.placeholder, QString::fromUtf8("sk_kavri_0…6789")) << "the stored key, masked";

    const KeyFace checking = keyFace(Check::checking(), QStringLiteral("short"), QStringLiteral("short"), host);
    EXPECT_EQ(checking.statusText, QString::fromUtf8("checking with keys.example…"));
    EXPECT_TRUE(keyFace(Check::ok(3, 4.2), QStringLiteral("k"), QStringLiteral("k"), host).confirmed);
}

TEST(TourLive, DownloadFaces)
{
    const std::optional<QString> room;
    const std::optional<QString> tight = QString::fromUtf8("needs 9.0 gb free — 2.0 gb free now");
    struct Row {
        const char* what;
        BrainStatus status;
        double fraction;
        bool started;
        std::optional<QString> shortfall;
        DownloadFace::Kind kind;
        QString percent;
        QString message;
        bool retry;
    };
    const std::vector<Row> rows{
        {"before the first byte", BrainStatus::installing("download"), 0, false, room, DownloadFace::Kind::downloading, "", "", false},
        {"once started", BrainStatus::installing("download"), 0.424, true, room, DownloadFace::Kind::downloading, "42%", "", false},
        {"started at nothing", BrainStatus::installing("download"), 0, true, room, DownloadFace::Kind::downloading, "0%", "", false},
        {"all of it", BrainStatus::installing("local"), 1, true, room, DownloadFace::Kind::downloading, "100%", "", false},
        {"loading is installed", BrainStatus::loading("weights"), 1, true, room, DownloadFace::Kind::installed, "", "", false},
        {"ready", BrainStatus::of(StatusKind::ready), 1, true, room, DownloadFace::Kind::installed, "", "", false},
        {"offline waits", BrainStatus::of(StatusKind::offline), 0, false, room, DownloadFace::Kind::waiting, "", "", false},
        {"waiting, too little room", BrainStatus::of(StatusKind::notInstalled), 0, false, tight, DownloadFace::Kind::waiting, "", *tight, false},
        {"failed", BrainStatus::failed("pip exited 1"), 0.3, true, room, DownloadFace::Kind::failed, "", "pip exited 1", true},
        {"try again with too little room says so", BrainStatus::failed("pip exited 1"), 0.3, true, tight,
         DownloadFace::Kind::failed, "", *tight, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const DownloadFace face = downloadFace(row.status, row.fraction, row.started, row.shortfall, QStringLiteral("detail"));
        EXPECT_EQ(face.kind, row.kind);
        EXPECT_EQ(face.percent, row.percent);
        EXPECT_EQ(face.message, row.message);
        EXPECT_EQ(face.retry, row.retry);
    }
    EXPECT_EQ(downloadFill(300, 0), 6);
    EXPECT_EQ(downloadFill(300, 1), 300);
    EXPECT_EQ(downloadFill(300, 2), 300);
    EXPECT_EQ(downloadFill(4, 0.5), 6) << "a narrow bar still shows its dot";
    EXPECT_EQ(downloadFill(300, std::nan("")), 6);
}

TEST(TourLive, ControllerLineAroundTheEchoLife)
{
    const EchoReading knob{0, QStringLiteral("trim"), QStringLiteral("+2.0 dB"), 100.0};
    const EchoReading master{std::nullopt, QStringLiteral("master"), QStringLiteral("80%"), 100.0};
    using PM = PlayerModel;
    struct Row {
        const char* what;
        std::optional<ControllerKind> connected;
        int players;
        std::optional<PM> first;
        std::optional<EchoReading> echo;
        double now;
        bool attached, echoShows;
        QString text;
    };
    const std::vector<Row> rows{
        {"nothing", std::nullopt, 0, std::nullopt, knob, 101, false, false,
         QString::fromUtf8("no controller on usb — plug one in, this updates by itself")},
        {"flx10 waiting", ControllerKind::flx10, 0, std::nullopt, std::nullopt, 0, true, false,
         QString::fromUtf8("ddj-flx10 · waiting for a hand…")},
        {"flx4, echo 4.9 s old", ControllerKind::flx4, 0, std::nullopt, knob, 104.9, true, true, QString::fromUtf8("deck 1 · trim")},
        {"flx4, echo 5 s old", ControllerKind::flx4, 2, PM::cdj3000, knob, 105.0, true, false,
         QString::fromUtf8("ddj-flx4 · waiting for a hand…")},
        {"players", std::nullopt, 2, PM::cdj3000x, std::nullopt, 0, true, false,
         QString::fromUtf8("2 × cdj-3000x · waiting for a hand…")},
        {"players, deckless echo", std::nullopt, 1, PM::cdj3000, master, 101, true, true, QStringLiteral("master")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ControllerLine line = controllerLine(row.connected, row.players, row.first, row.echo, row.now);
        EXPECT_EQ(line.attached, row.attached);
        EXPECT_EQ(line.echo, row.echoShows);
        EXPECT_EQ(line.text, row.text);
    }
}

TEST(TourLive, ChecklistPerState)
{
    const auto texts = [](const std::vector<ChecklistRow>& rows) {
        QStringList out;
        for (const auto& r : rows)
            out << (r.done ? (*r.done ? QStringLiteral("+") : QStringLiteral("o")) : QStringLiteral("~")) + r.text;
        return out;
    };
    EXPECT_EQ(texts(checklist(false, BrainStatus::of(StatusKind::notInstalled), {}, std::nullopt)),
              QStringList({QString::fromUtf8("okavri key · add it any time in \u2699\uFE0E"),
                           QString::fromUtf8("ozelvo-0 · comes down once there's a key"),
                           QString::fromUtf8("ono controller · the keyboard plays too")}));
    EXPECT_EQ(texts(checklist(true, BrainStatus::failed("x"), {}, ControllerKind::flx4)),
              QStringList({QString::fromUtf8("+kavri key · works"), QString::fromUtf8("ozelvo-0 · press install on the big key"),
                           QString::fromUtf8("+ddj-flx4 · linked")}));
    EXPECT_EQ(texts(checklist(true, BrainStatus::installing("download"), QStringLiteral("1.0 of 4.0 gb"), std::nullopt))[1],
              QString::fromUtf8("~zelvo-0 · 1.0 of 4.0 gb"));
    for (StatusKind ticked : {StatusKind::offline, StatusKind::checking, StatusKind::loading, StatusKind::starting, StatusKind::ready, StatusKind::rendering})
        EXPECT_EQ(checklist(false, BrainStatus::of(ticked), {}, std::nullopt)[1].done, true);
    EXPECT_EQ(firstMoves().size(), 3u);
}

} // namespace
} // namespace zelvo::tour
