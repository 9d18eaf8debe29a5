#include "state/SetLedger.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <optional>
#include <utility>

namespace zelvo {
namespace {

struct Ledger {
    QStringList lines;
    int changes = 0;
    SetLedger ledger{[this](const QString& line) { lines << line; }, [this] { ++changes; }};
};

TEST(SetLedger, ARequestTakenBackRestoresWhatWasKnownBefore)
{
    Ledger l;
    const QUuid heard = QUuid::createUuid();
    const QUuid fresh = QUuid::createUuid();
    l.ledger.noteOnAir(heard);
    // Asked for twice before its turn: the first request remembers it was heard.
    l.ledger.request(heard);
    l.ledger.request(heard);
    EXPECT_FALSE(l.ledger.onAir(heard));
    EXPECT_EQ(l.ledger.standing(heard), SetLedger::Standing::requested);
    l.ledger.takeBack(heard);
    EXPECT_TRUE(l.ledger.onAir(heard));
    EXPECT_EQ(l.ledger.standing(heard), SetLedger::Standing::heard);

    // A record never heard stays unheard when its request is taken back.
    l.ledger.request(fresh);
    l.ledger.takeBack(fresh);
    EXPECT_FALSE(l.ledger.onAir(fresh));
    EXPECT_EQ(l.ledger.standing(fresh), SetLedger::Standing::unknown);

    // Its turn came: heard again, and nothing to restore.
    l.ledger.request(heard);
    l.ledger.endRequest(heard);
    l.ledger.takeBack(heard);
    EXPECT_FALSE(l.ledger.onAir(heard));
}

TEST(SetLedger, OneCueOneMixOneHeldRecordAtATime)
{
    Ledger l;
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    l.ledger.cue(a, 1);
    l.ledger.cue(b, 0);
    ASSERT_TRUE(l.ledger.cued());
    EXPECT_EQ(*l.ledger.cued(), std::make_pair(0, b));
    EXPECT_FALSE(l.ledger.entry(a).cuedOn);

    l.ledger.mixIn(std::make_pair(1, a));
    l.ledger.mixIn(std::make_pair(0, b));
    EXPECT_EQ(l.ledger.standing(a), SetLedger::Standing::unknown);
    EXPECT_EQ(l.ledger.standing(b), SetLedger::Standing::mixingIn);
    l.ledger.mixIn(std::nullopt);
    EXPECT_FALSE(l.ledger.mixingIn());
    // The cue outlives its mix: a called-off mix leaves flow's cue standing.
    EXPECT_EQ(l.ledger.standing(b), SetLedger::Standing::cued);

    l.ledger.setStandsHeard(0, a);
    l.ledger.setStandsHeard(1, b);
    l.ledger.setStandsHeard(0, std::nullopt);
    EXPECT_FALSE(l.ledger.standsHeardOn(a, 0));
    EXPECT_TRUE(l.ledger.standsHeardOn(b, 1));
}

TEST(SetLedger, EveryChangeLogsItsLineOnceAndANewRunForgetsOnlyWhatWasGivenUp)
{
    Ledger l;
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();
    l.ledger.noteOnAir(a);
    l.ledger.giveUp(a, QStringLiteral("flow: gave up loading A"));
    l.ledger.setHeld(std::make_pair(1, b));
    EXPECT_EQ(l.lines, QStringList{QStringLiteral("flow: gave up loading A")});
    EXPECT_EQ(l.ledger.standing(a), SetLedger::Standing::passedOver);
    const int changes = l.changes;
    // Writing what is there already changes nothing.
    l.ledger.noteOnAir(a);
    EXPECT_EQ(l.changes, changes);

    l.ledger.newRun();
    EXPECT_FALSE(l.ledger.givenUp(a));
    EXPECT_FALSE(l.ledger.held());
    EXPECT_TRUE(l.ledger.onAir(a));
    EXPECT_EQ(l.ledger.standing(b), SetLedger::Standing::unknown);
}

} // namespace
} // namespace zelvo
