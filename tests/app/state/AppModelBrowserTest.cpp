// The browser's list (sources, search, the nine sorts, the reference and the
// score cache), the set queue's operations, load-next and key sync.
#include "state/AppModel.h"

#include "FlowSupport.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::FlowRig;
using test::RecordFields;
using Sort = AppModel::BrowserSort;
using Source = AppModel::BrowserSource;

QDateTime day(int d)
{
    return QDateTime(QDate(2026, 3, d), QTime(9, 0), Qt::UTC);
}

// A (8A, 128 bpm), B (nothing analysed, played), C (8B, 120 bpm), D (1A,
// 64 bpm), a whole take of A and a segment of that take.
struct Crate {
    Crate()
    {
        a = test::fixtureRecord({.title = "Alpha", .artist = "Zed", .bpm = 128, .key = MusicalKey(9, true),
                                 .energy = 0.9, .added = day(1)});
        b = test::fixtureRecord({.title = "beta", .artist = "Night 8", .bpm = std::nullopt, .key = std::nullopt,
                                 .energy = std::nullopt, .added = day(3), .plays = 2});
        c = test::fixtureRecord({.title = "Gamma", .artist = "Other", .bpm = 120, .key = MusicalKey(0, false),
                                 .energy = 0.3, .added = day(2)});
        d = test::fixtureRecord({.title = "alpha", .artist = "Other", .bpm = 64, .key = MusicalKey(8, true),
                                 .energy = 0.5, .added = day(2), .plays = 1});
        OutpaintInfo info;
        info.sourceID = a.id;
        take = test::fixtureRecord({.title = "Take of Alpha", .added = day(4), .outpaint = info});
        info.segmentOf = take.id;
        segment = test::fixtureRecord({.title = "Take of Alpha 2", .added = day(5), .outpaint = info});
    }
    std::vector<TrackRecord> all() const { return {a, b, c, d, take, segment}; }
    QString name(const QUuid& id) const
    {
        for (const TrackRecord& r : all())
            if (r.id == id)
                return r.title;
        return QStringLiteral("?");
    }
    TrackRecord a, b, c, d, take, segment;
};

QStringList titles(const std::vector<TrackRecord>& records)
{
    QStringList out;
    for (const TrackRecord& r : records)
        out << r.title;
    return out;
}

TEST(Browser, SourcesAndSearch)
{
    Crate crate;
    FlowRig rig(crate.all());
    AppModel& app = rig.model;
    app.setQueue({crate.c.id, QUuid::createUuid(), crate.a.id});

    struct Case {
        Source source;
        QString query;
        QStringList expected; // sorted newest first
    };
    const Case cases[] = {
        {Source::collection, "", {"beta", "Gamma", "alpha", "Alpha"}},
        {Source::outpaints, "", {"Take of Alpha"}},
        {Source::recent, "", {"beta", "alpha"}},
        {Source::queue, "", {"Gamma", "Alpha"}}, // the unknown entry is skipped; sort order, not queue order
        {Source::collection, " \t ", {"beta", "Gamma", "alpha", "Alpha"}},
        {Source::collection, "ALPH", {"alpha", "Alpha"}},
        {Source::collection, "other", {"Gamma", "alpha"}},
        {Source::collection, "\t8a ", {"Alpha"}},   // the exact Camelot code
        {Source::collection, "8A", {"Alpha"}},
        {Source::collection, "8", {"beta"}},        // only the artist holds a bare 8
        {Source::collection, "8b", {"Gamma"}},
        {Source::collection, "8a\n", {}},           // line breaks are not trimmed
        {Source::outpaints, "gamma", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((AppModel::rawValue(c.source) + QStringLiteral(" '") + c.query + QStringLiteral("'")).toStdString());
        app.setBrowserSource(c.source);
        app.setBrowserQuery(c.query);
        EXPECT_EQ(titles(app.browserTracks()), c.expected);
    }

    // An empty library lists nothing under any source or sort.
    app.setBrowserQuery({});
    QSet<QUuid> ids;
    for (const TrackRecord& r : crate.all())
        ids.insert(r.id);
    app.library().remove(ids);
    for (int source = 0; source <= int(Source::queue); ++source)
        for (int sort = 0; sort <= int(Sort::harmony); ++sort) {
            app.setBrowserSource(Source(source));
            app.setBrowserSort(Sort(sort));
            EXPECT_TRUE(app.browserTracks().empty()) << source << " " << sort;
        }
}

TEST(Browser, EachSortOrdersStablyAndMeasuresAgainstTheLiveDeck)
{
    Crate crate;
    FlowRig rig(crate.all());
    AppModel& app = rig.model;

    struct Case {
        Sort sort;
        QStringList expected;
    };
    // Nothing loaded: the relative sorts have no reference and come out newest first.
    const Case plain[] = {
        {Sort::added, {"beta", "Gamma", "alpha", "Alpha"}},
        {Sort::title, {"Alpha", "alpha", "beta", "Gamma"}}, // a case-only tie keeps library order
        {Sort::bpm, {"beta", "alpha", "Gamma", "Alpha"}},   // no grid counts as 0
        {Sort::key, {"alpha", "Gamma", "Alpha", "beta"}},   // 1A, 8B before 8A, no key last
        {Sort::energy, {"Alpha", "alpha", "Gamma", "beta"}},
        {Sort::tempo, {"beta", "Gamma", "alpha", "Alpha"}},
        {Sort::harmony, {"beta", "Gamma", "alpha", "Alpha"}},
    };
    for (const Case& c : plain) {
        app.setBrowserSort(c.sort);
        EXPECT_EQ(titles(app.browserTracks()), c.expected) << AppModel::rawValue(c.sort).toStdString();
    }
    EXPECT_FALSE(app.referenceTrack());

    // Only deck 2 loaded, crossfader left: deck 2's track is the reference.
    rig.put(1, crate.c);
    app.mixer().setCrossfader(-1.0);
    ASSERT_TRUE(app.referenceTrack());
    EXPECT_EQ(app.referenceTrack()->id, crate.c.id);

    // Both loaded: the live side decides.
    rig.put(0, crate.a);
    EXPECT_EQ(app.referenceTrack()->id, crate.a.id);
    app.setBrowserSort(Sort::tempo);
    // Against 128 bpm: D at half time fits fully, C 120 partly, B not at all, A is the reference.
    EXPECT_EQ(titles(app.browserTracks()), QStringList({"alpha", "Gamma", "beta", "Alpha"}));
    EXPECT_FALSE(app.matchScore(crate.a, app.referenceTrack()));
    EXPECT_DOUBLE_EQ(*app.matchScore(crate.d, app.referenceTrack()), 1.0);

    app.mixer().setCrossfader(0.5);
    EXPECT_EQ(app.referenceTrack()->id, crate.c.id);
    // Against 120 bpm, A and D fit alike: the newer one first; C sinks as the reference.
    EXPECT_EQ(titles(app.browserTracks()), QStringList({"alpha", "Alpha", "beta", "Gamma"}));
    EXPECT_DOUBLE_EQ(*app.matchScore(crate.a, app.referenceTrack()), *app.matchScore(crate.d, app.referenceTrack()));

    // The overall fit under a non-relative sort, the key fit under harmony.
    app.setBrowserSort(Sort::added);
    const double overall = *app.matchScore(crate.a, app.referenceTrack());
    app.setBrowserSort(Sort::harmony);
    EXPECT_DOUBLE_EQ(*app.matchScore(crate.a, app.referenceTrack()), 0.85); // 8A against 8B
    EXPECT_GT(overall, 0.0);
    EXPECT_NE(overall, 0.85);
}

TEST(Browser, ScoresStayCachedUntilTheReferenceOrTheSortChanges)
{
    Crate crate;
    FlowRig rig(crate.all());
    AppModel& app = rig.model;
    rig.put(0, crate.a);
    app.setBrowserSort(Sort::tempo);
    TrackRecord c = crate.c;
    const auto score = [&] { return *app.matchScore(c, app.referenceTrack()); };
    const double before = score();

    // C's tempo changes: the cached (stale) score stays.
    c.grid = BeatGrid(128, 0);
    app.library().update(c);
    app.setBrowserQuery(QStringLiteral("a")); // other inputs keep the cache
    EXPECT_EQ(score(), before);

    // Tempo → harmony → tempo empties the cache twice; the new score shows.
    app.setBrowserSort(Sort::harmony);
    EXPECT_DOUBLE_EQ(score(), 0.85);
    app.setBrowserSort(Sort::tempo);
    EXPECT_DOUBLE_EQ(score(), 1.0);

    // A new reference empties it too.
    c = crate.c;
    app.library().update(c);
    EXPECT_DOUBLE_EQ(score(), 1.0);
    rig.put(0, crate.d);
    EXPECT_DOUBLE_EQ(score(), 1.0 - (1.0 - 120.0 / 128.0) / 0.08);
}

TEST(SetQueue, OperationsPersistEveryChange)
{
    Crate crate;
    FlowRig rig(crate.all());
    AppModel& app = rig.model;
    const QUuid a = crate.a.id, b = crate.b.id, c = crate.c.id, d = crate.d.id;
    const auto stored = [&] {
        std::vector<QUuid> ids;
        for (const QString& text : rig.defaults->stringList(QStringLiteral("set.queue")).value_or(QStringList{}))
            ids.push_back(QUuid(text));
        return ids;
    };

    struct Step {
        std::function<void()> act;
        std::vector<QUuid> expected;
    };
    const Step steps[] = {
        {[&] { app.enqueue(a); }, {a}},
        {[&] { app.enqueue(b); }, {a, b}},
        {[&] { app.enqueue(c); }, {a, b, c}},
        {[&] { app.enqueue(a); }, {b, c, a}}, // moved to the end, not doubled
        {[&] { app.moveInQueue(b, -1); }, {b, c, a}},
        {[&] { app.moveInQueue(a, 1); }, {b, c, a}},
        {[&] { app.moveInQueue(c, 1); }, {b, a, c}},
        {[&] { app.moveInQueue(c, -100); }, {c, a, b}}, // swaps with the first
        {[&] { app.moveInQueue(c, 1 << 30); }, {b, a, c}},
        {[&] { app.moveInQueue(d, 1); }, {b, a, c}},
        {[&] { app.setQueue({a, b, a}); }, {a, b, a}},
        {[&] { app.dequeue(a); }, {b}},
        {[&] { app.dequeue(d); }, {b}},
    };
    int i = 0;
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(app.queue(), step.expected) << "step " << i;
        EXPECT_EQ(stored(), step.expected) << "step " << i;
        ++i;
    }
}

TEST(SetQueue, LoadNextDropsStaleEntriesWaitsForAMixAndLoadsTheIdleDeck)
{
    Crate crate;
    FlowRig rig(crate.all());
    AppModel& app = rig.model;
    const QString empty = QStringLiteral("QUEUE IS EMPTY \u00B7 ADD TRACKS WITH +");

    app.loadNext();
    EXPECT_EQ(app.hint(), empty);
    EXPECT_EQ(app.hintUntil(), rig.scheduler.now().addSecs(3));

    app.setQueue({QUuid::createUuid(), QUuid::createUuid()});
    app.loadNext();
    EXPECT_TRUE(app.queue().empty());
    EXPECT_EQ(app.hint(), empty);

    // A running mix keeps the record queued.
    rig.put(0, crate.a);
    rig.put(1, crate.b);
    const QUuid gone = QUuid::createUuid();
    app.setQueue({gone, crate.c.id, crate.d.id});
    app.transition().mix(1);
    ASSERT_NE(app.transition().phase().kind, TransitionModel::Phase::Kind::idle);
    app.loadNext();
    EXPECT_EQ(app.hint(), QStringLiteral("WAIT FOR THE MIX TO FINISH"));
    EXPECT_EQ(app.queue(), (std::vector<QUuid>{crate.c.id, crate.d.id}));
    rig.after(0.2);
    ASSERT_EQ(app.transition().phase().kind, TransitionModel::Phase::Kind::idle);

    // Crossfader right: deck 1 is idle and gets the head, with sync on.
    app.mixer().setCrossfader(1.0);
    app.mixer().channel(0).setSync(false);
    app.deck(0).setDecoder([](const QString&, double rate) { return TrackBufferRef(4800, rate); });
    app.loadNext();
    EXPECT_EQ(app.queue(), std::vector<QUuid>{crate.d.id});
    EXPECT_TRUE(app.mixer().channel(0).sync());
    EXPECT_TRUE(test::spinUntil([&] { return app.deck(0).track() && app.deck(0).track()->id == crate.c.id; }));
    EXPECT_EQ(app.deck(1).track()->id, crate.b.id);
}

// A hint shown again, word for word, still tells its readers the new expiry;
// the text itself notifies only when it changes.
TEST(SetQueue, ARepeatedHintNotifiesItsExpiryEachTime)
{
    FlowRig rig({});
    AppModel& app = rig.model;
    QSignalSpy texts(&app, &AppModel::hintChanged);
    QSignalSpy expiries(&app, &AppModel::hintUntilChanged);
    for (int i = 1; i <= 3; ++i) {
        app.loadNext();
        EXPECT_EQ(app.hintUntil(), rig.scheduler.now().addSecs(3)) << i;
        EXPECT_EQ(expiries.count(), i);
        rig.after(1.5);
    }
    EXPECT_EQ(texts.count(), 1);
    // The same text at the same moment changes nothing.
    app.loadNext();
    app.loadNext();
    EXPECT_EQ(expiries.count(), 4);
    EXPECT_EQ(texts.count(), 1);
}

TEST(KeySync, MatchesThePartnerAcrossTheControllerAndUndoes)
{
    // Keys by pitch class, all major unless said.
    const auto keyed = [](const char* title, int pc, bool minor = false) {
        return test::fixtureRecord({.title = title, .key = MusicalKey(pc, minor)});
    };
    const TrackRecord c = keyed("C", 0), b = keyed("B", 11), d = keyed("D", 2), am = keyed("Am", 9, true);
    TrackRecord none = keyed("none", 0);
    none.key.reset();
    FlowRig rig({c, b, d, am, none});
    AppModel& app = rig.model;

    struct Case {
        TrackRecord mine;
        int deck;
        TrackRecord theirs;
        int theirShift;
        std::array<int, 2> sides;
        int expected; // this deck's shift afterwards
    };
    const Case cases[] = {
        {c, 0, d, 0, {0, 1}, 2},
        {d, 1, c, 0, {0, 1}, -2},
        {c, 0, b, 2, {0, 1}, 1},       // 11 + 2 wraps to 1
        {c, 1, c, -1, {0, 1}, -1},     // a negative remainder gets 12 added
        {c, 2, d, 0, {0, 1}, 2},       // deck 3 takes the right side's deck (index 1)
        {c, 3, d, 0, {0, 2}, 2},       // deck 4 takes the left side's deck
        {c, 2, d, 0, {0, 7}, 0},       // a partner outside 0 ... 3 does nothing
        {c, 0, none, 0, {0, 1}, 0},
        {none, 0, c, 0, {0, 1}, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE((k.mine.title + QStringLiteral(" on deck %1 against ").arg(k.deck + 1) + k.theirs.title).toStdString());
        rig.world.activeDecks = k.sides;
        const int partner = k.deck == 0 ? 1 : k.deck == 1 ? 0 : k.sides[std::size_t((k.deck ^ 1) & 1)];
        for (int i = 0; i < 4; ++i)
            rig.put(i, i == k.deck ? k.mine : k.theirs);
        if (partner >= 0 && partner < 4 && partner != k.deck)
            app.deck(partner).setKeyShift(k.theirShift);
        app.keySync(k.deck);
        EXPECT_EQ(app.deck(k.deck).keyShift(), k.expected);
        // A second press undoes a sync, whatever the partner plays.
        if (k.expected != 0) {
            app.keySync(k.deck);
            EXPECT_EQ(app.deck(k.deck).keyShift(), 0);
        }
    }
}

} // namespace
} // namespace zelvo
