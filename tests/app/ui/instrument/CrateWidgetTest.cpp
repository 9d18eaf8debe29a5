// The crate browser and the model module as widgets over a real library in a
// temporary home: keys by object name, the table's rows, menu and drag, drops,
// and the model module's keys, presets and settings.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "generation/OutpaintModel.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "support/LibraryFixtures.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/BrowserView.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/instrument/TrackTable.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/VFDField.h"

#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace zelvo {
namespace {

// `count` fixture records (keys around the wheel, every fifth a take, even
// ones with waveforms) and a browser over them.
struct CrateRig {
    explicit CrateRig(int count = 30, bool snapshot = false) : kit(1.0, snapshot)
    {
        std::vector<TrackRecord> records;
        for (int i = 0; i < count; ++i) {
            test::RecordFields fields;
            fields.title = QStringLiteral("song %1").arg(i, 3, 10, QLatin1Char('0'));
            fields.key = MusicalKey(i % 12, i % 2 == 0);
            fields.bpm = 150.0 - i;
            fields.added = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(-i);
            if (i % 5 == 4)
                fields.outpaint = OutpaintInfo{};
            records.push_back(test::fixtureRecord(fields));
            records.back().path = QDir::homePath() + QStringLiteral("/music/song%1.wav").arg(i);
        }
        test::writeCollection(records);
        app.make();
        WaveformData wave;
        for (int p = 0; p < 400; ++p) {
            wave.low.push_back(std::uint8_t(p % 200));
            wave.mid.push_back(100);
            wave.high.push_back(50);
        }
        for (int i = 0; i < count; i += 2)
            model().library().storeWaveform(wave, records[std::size_t(i)].id);
        browser = std::make_unique<BrowserView>(model(), kit.env(), QSizeF(600, 300));
        browser->show();
        QApplication::processEvents();
    }
    AppModel& model() const { return *app.app; }
    TrackTable& table() const { return *browser->table(); }
    template <typename T = kit::HardKey>
    T* find(const QString& name) const
    {
        T* w = browser->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void click(const QString& name) const
    {
        kit::HardKey* key = find(name);
        QTest::mousePress(key, Qt::LeftButton, {}, key->rect().center());
        QTest::mouseRelease(key, Qt::LeftButton, {}, key->rect().center());
        QApplication::processEvents();
    }
    // A point of row `row`: its title, or one of its keys (1, 2: load, 3: queue).
    QPoint at(int row, int key = 0) const
    {
        const QRect rect = table().rowRect(row);
        if (key == 0)
            return rect.topLeft() + QPoint(60, rect.height() / 2);
        for (int x = rect.right(); x > rect.left(); --x)
            if (table().hitAt(QPoint(x, rect.center().y()), row) == key)
                return QPoint(x - 3, rect.center().y());
        ADD_FAILURE() << "no key " << key;
        return {};
    }
    QStringList menuTexts(int row)
    {
        QStringList out;
        const std::unique_ptr<QMenu> menu = table().menuFor(row);
        for (QAction* action : menu->actions())
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return out;
    }
    void trigger(int row, const QString& text)
    {
        std::unique_ptr<QMenu> menu = table().menuFor(row);
        for (QAction* action : menu->actions())
            if (action->text() == text)
                return action->trigger();
        ADD_FAILURE() << "no item " << text.toStdString();
    }

    test::AppRig app;
    kit::test::KitRig kit;
    std::unique_ptr<BrowserView> browser;
};

TEST(CrateWidget, SourcesSearchAndSortKeys)
{
    CrateRig rig;
    AppModel& model = rig.model();
    EXPECT_EQ(rig.table().records().size(), 24u); // takes list under their own source
    EXPECT_TRUE(rig.find("browser.source.collection")->lit());

    QSignalSpy sourceSpy(&model, &AppModel::browserSourceChanged);
    rig.click("browser.source.collection"); // the lit key changes nothing
    EXPECT_EQ(sourceSpy.count(), 0);
    rig.click("browser.source.outpaints");
    EXPECT_EQ(model.browserSource(), AppModel::BrowserSource::outpaints);
    EXPECT_TRUE(rig.find("browser.source.outpaints")->lit());
    EXPECT_FALSE(rig.find("browser.source.collection")->lit());
    EXPECT_EQ(rig.table().records().size(), 6u);
    rig.click("browser.source.collection");

    // The search writes the query on every edit; a Camelot code in either case,
    // with spaces, finds the key's tracks.
    auto* field = rig.find<kit::VFDField>("browser.search");
    ASSERT_NE(field->editor(), nullptr);
    for (const QString& query : {QStringLiteral(" 3b "), QStringLiteral("3B")}) {
        field->editor()->clear();
        QTest::keyClicks(field->editor(), query);
        EXPECT_EQ(model.browserQuery(), query);
        QApplication::processEvents();
        ASSERT_FALSE(rig.table().records().empty());
        for (const TrackRecord& r : rig.table().records())
            EXPECT_EQ(r.key->camelot(), "3B");
    }
    field->editor()->clear();
    QApplication::processEvents();

    // Sort keys persist their raw value; the lit one changes nothing.
    QSignalSpy sortSpy(&model, &AppModel::browserSortChanged);
    rig.click("browser.sort.ADDED");
    EXPECT_EQ(sortSpy.count(), 0);
    rig.click("browser.sort.BPM");
    EXPECT_EQ(model.browserSort(), AppModel::BrowserSort::bpm);
    EXPECT_EQ(rig.app.defaults->string("browser.sort"), QStringLiteral("BPM"));
    EXPECT_TRUE(rig.find("browser.sort.BPM")->lit());
    EXPECT_FALSE(rig.find("browser.sort.ADDED")->lit());
}

// What a sort bar's right end shows for each sort, checked against the bar:
// between the last key's gaps and the right margin, its dots painted there.
using ReadoutCheck = std::function<void(const SortBar::Readout&, const QString& full, const std::string& what)>;
void expectReadoutsInside(SortBar& bar, AppModel& model, const ReadoutCheck& check)
{
    const double width = bar.designSize().width();
    for (const crate::SortKey& k : crate::sortKeys(AppModel::BrowserSort::added)) {
        model.setBrowserSort(k.sort);
        QApplication::processEvents();
        const SortBar::Readout r = bar.readout();
        const std::optional<TrackRecord> reference = model.referenceTrack();
        const QString full =
            crate::sortReadout(k.sort, reference ? std::optional<QString>(reference->title) : std::nullopt).text;
        const std::string what =
            (k.label + QStringLiteral(" at %1: ").arg(width) + r.text).toStdString();
        EXPECT_NE(r.text, QString(QChar(0x2026))) << what;
        EXPECT_GE(r.at.left(), bar.keysEnd() + 2 * bar.fit().spacing - 1e-6) << what;
        EXPECT_LE(r.at.right(), width - 8 + 1e-6) << what;
        check(r, full, what);
        kit::RecordingCanvas canvas;
        bar.paintFace(canvas);
        QPointF offset;
        for (const kit::RecordingCanvas::Op& op : canvas.ops()) {
            using K = kit::RecordingCanvas::Kind;
            if (op.kind == K::translate)
                offset += op.offset;
            else if (op.kind == K::restore)
                offset = QPointF();
            else if (op.kind == K::rects) {
                for (const QRectF& dot : op.rects) {
                    EXPECT_LE(dot.right() + offset.x(), width - 8 + 0.5) << what;
                }
            }
        }
    }
}

TEST(CrateWidget, TheSortBarSaysWhatItSortsByAndItsKeysStayLegible)
{
    // The faceplate's 600-point browser leaves the bar a 476-point glass.
    CrateRig rig;
    auto* bar = rig.browser->findChild<SortBar*>(QStringLiteral("browser.sortBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->designSize().width(), 476);

    // Every read-out whole: a caption, "NOTHING PLAYING" dimmed, a title's first 16 cells.
    const auto whole = [](const SortBar::Readout& r, const QString& full, const std::string& what) {
        EXPECT_EQ(r.cells, r.title ? 16 : 0) << what;
        EXPECT_EQ(r.text, r.title ? kit::DotMatrix::normalize(full).left(16) : full) << what;
    };
    expectReadoutsInside(*bar, rig.model(), whole);
    rig.model().setBrowserSort(AppModel::BrowserSort::tempo);
    EXPECT_EQ(bar->readout().text, QStringLiteral("NOTHING PLAYING"));
    EXPECT_TRUE(bar->readout().dim);
    TrackRecord reference = rig.model().library().tracks().front();
    reference.title = QStringLiteral("Midnight Transmission (Extended Mix)");
    rig.model().deck(0).install(reference, TrackBufferRef(4800, 48000.0), nullptr, false);
    QApplication::processEvents();
    EXPECT_EQ(bar->readout().text, QStringLiteral("MIDNIGHT TRANSMI"));
    EXPECT_FALSE(bar->readout().dim);
    expectReadoutsInside(*bar, rig.model(), whole);

    // The keys gave for it: in order, none over the next, every label at 0.8
    // of its size or more.
    const kit::KeyMetrics metrics = kit::keyMetrics(kit::KeyStyle::key);
    const QFont font = kit::condensedBoldFont(metrics.fontSize, metrics.tracking);
    double previous = 0;
    for (const crate::SortKey& k : crate::sortKeys(AppModel::BrowserSort::added)) {
        kit::HardKey* key = rig.find(QStringLiteral("browser.sort.") + k.label);
        const QRectF at(QPointF(key->pos()) / rig.kit.env().scale(), key->designSize());
        EXPECT_GE(at.left(), previous + bar->fit().spacing - 0.5) << k.label.toStdString();
        EXPECT_LT(key->designSize().width(), k.width) << k.label.toStdString();
        EXPECT_GE(key->designSize().width() - 6, 0.8 * kit::textWidth(font, k.label.toUpper()) - 1e-6)
            << k.label.toStdString();
        previous = at.right();
    }

    // Shorter than any window gives: the keys stop at their floors and the
    // title's cells give, cut as the display cuts; a caption keeps whole
    // words; never "…" alone.
    for (const double width : {400.0, 380.0}) {
        bar->setWidth(width);
        expectReadoutsInside(*bar, rig.model(), [](const SortBar::Readout& r, const QString& full,
                                                   const std::string& what) {
            const QString shown = r.title ? kit::DotMatrix::normalize(full) : full;
            if (r.title) {
                EXPECT_EQ(r.text, shown.left(r.cells)) << what;
            } else if (r.text != shown && !r.text.isEmpty()) {
                EXPECT_TRUE(r.text.endsWith(QChar(0x2026)) && shown.startsWith(r.text.chopped(1))) << what;
            }
        });
    }

    // The keys follow every width: their own widths once there is room, and
    // narrower again when the room goes.
    for (const double width : {900.0, 476.0, 900.0}) {
        bar->setWidth(width);
        for (const crate::SortKey& k : crate::sortKeys(AppModel::BrowserSort::added)) {
            const double shown = rig.find(QStringLiteral("browser.sort.") + k.label)->designSize().width();
            if (width > 800) {
                EXPECT_EQ(shown, k.width) << k.label.toStdString();
            } else {
                EXPECT_LT(shown, k.width) << k.label.toStdString();
            }
        }
        EXPECT_EQ(bar->fit().spacing, width > 800 ? 4 : 2);
    }
}

TEST(CrateWidget, TheTakeBadgeHasItsColourFringes)
{
    // Red a point left of the badge, cyan a point right of it, where a row
    // without a badge shows only its background.
    CrateRig rig;
    const double x = crate::columnSpans(rig.table().viewport()->width())[1].first;
    const double w = QFontMetricsF(kit::condensedBoldFont(8)).horizontalAdvance(QStringLiteral("ZELVO-0")) + 6;
    // The rows are drawn over the browser's glass: grab the whole module.
    const auto sample = [&rig](int px) {
        const QImage image = rig.browser->grab().toImage();
        const QPoint at = rig.table().viewport()->mapTo(rig.browser.get(), QPoint(px, rig.table().rowRect(1).center().y()));
        return image.pixelColor(at);
    };
    const int left = int(std::floor(x)) - 1, right = int(std::ceil(x + w));
    const QColor plainLeft = sample(left);
    rig.click("browser.source.outpaints");
    ASSERT_TRUE(rig.table().records()[1].outpaint.has_value());
    // Beside the fringes (before the badge, before the title) the glass shows.
    const QColor takeLeft = sample(left), takeRight = sample(right), glass = sample(right + 2);
    EXPECT_TRUE(kit::test::near(sample(left - 2), glass, 4)) << sample(left - 2).name().toStdString();
    EXPECT_FALSE(plainLeft.red() - glass.red() > 10) << plainLeft.name().toStdString();
    EXPECT_GT(takeLeft.red() - glass.red(), 40) << takeLeft.name().toStdString();
    EXPECT_GT(takeLeft.red() - takeLeft.blue(), 20) << takeLeft.name().toStdString();
    EXPECT_GT(takeRight.blue() - glass.blue(), 10) << takeRight.name().toStdString();
    EXPECT_GT(takeRight.blue() - takeRight.red(), 5) << takeRight.name().toStdString();
}

TEST(CrateWidget, RowsKeysMenuDragAndWaveformsByRecord)
{
    CrateRig rig;
    AppModel& model = rig.model();
    TrackTable& table = rig.table();
    const int reads = table.reads();
    table.viewport()->repaint();
    table.viewport()->repaint();
    EXPECT_EQ(table.reads(), reads); // paints never read the list

    const TrackRecord first = table.records().at(0);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rig.at(0));
    EXPECT_EQ(model.selectedTrack(), first.id);

    // The queue key flips, with its label, help and menu items.
    EXPECT_EQ(rig.menuTexts(0).mid(3, 1), QStringList({"Add to Queue"}));
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rig.at(0, 3));
    QApplication::processEvents();
    ASSERT_EQ(model.queue().size(), 1u);
    EXPECT_EQ(model.queue()[0], first.id);
    EXPECT_EQ(rig.app.defaults->stringList("set.queue"), QStringList{first.id.toString(QUuid::WithoutBraces).toUpper()});
    EXPECT_EQ(rig.menuTexts(0).mid(3, 3),
              QStringList({"Move Up in Queue", "Move Down in Queue", "Remove from Queue"}));
    rig.trigger(2, "Add to Queue");
    QApplication::processEvents();
    rig.trigger(2, "Move Up in Queue");
    QApplication::processEvents();
    ASSERT_EQ(model.queue().size(), 2u);
    EXPECT_EQ(model.queue()[0], table.records()[2].id);
    rig.trigger(2, "Move Down in Queue");
    QApplication::processEvents();
    EXPECT_EQ(model.queue()[1], table.records()[2].id);
    rig.trigger(2, "Remove from Queue");
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rig.at(0, 3));
    QApplication::processEvents();
    EXPECT_TRUE(model.queue().empty());

    // Takes get the placing item; the drag carries the file's URL.
    model.setBrowserSource(AppModel::BrowserSource::outpaints);
    QApplication::processEvents();
    EXPECT_TRUE(rig.menuTexts(0).contains("Put This Take on Deck 2"));
    rig.trigger(0, "Put This Take on Deck 2"); // no workflow linked: nothing happens
    model.setBrowserSource(AppModel::BrowserSource::collection);
    QApplication::processEvents();
    EXPECT_FALSE(rig.menuTexts(0).contains("Put This Take on Deck 2"));
    const std::unique_ptr<QMimeData> mime = table.mimeFor(1);
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(table.records()[1].path)});
    EXPECT_FALSE(table.mimeFor(-1));
    EXPECT_FALSE(table.menuFor(int(table.records().size())));

    // Show in Folder goes to the desktop services.
    rig.trigger(1, "Show in Folder");
    ASSERT_EQ(rig.kit.desktop.opened.size(), 1);
    EXPECT_EQ(rig.kit.desktop.opened[0], QUrl::fromLocalFile(QDir::homePath() + "/music"));

    // Waveforms are kept by record: a re-sort moves rows, not what they fetched.
    const QUuid withWave = table.records()[0].id;
    EXPECT_TRUE(table.hasWave(withWave));
    EXPECT_NE(table.waveOf(table.records()[0]), nullptr);
    model.setBrowserSort(AppModel::BrowserSort::bpm);
    QApplication::processEvents();
    EXPECT_NE(table.records()[0].id, withWave);
    EXPECT_TRUE(table.hasWave(withWave));

    // Removing from the collection keeps the audio file.
    const QString path = QDir::homePath() + "/keep.wav";
    test::writeTone(path, 1.0);
    ASSERT_TRUE(rig.browser->dropUrls({QUrl::fromLocalFile(path)}));
    QApplication::processEvents();
    int row = -1;
    for (std::size_t i = 0; i < table.records().size(); ++i)
        if (table.records()[i].path == path)
            row = int(i);
    ASSERT_GE(row, 0);
    rig.trigger(row, "Remove from Collection");
    QApplication::processEvents();
    EXPECT_TRUE(QFile::exists(path));
    for (const TrackRecord& r : table.records())
        EXPECT_NE(r.path, path);
}

TEST(CrateWidget, DropsImportAudioLoadKeysAndTheAnalysisLine)
{
    CrateRig rig(0);
    AppModel& model = rig.model();
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    EXPECT_TRUE(rig.table().records().empty());
    EXPECT_TRUE(rig.browser->analysisText().isEmpty());

    const QString text = QDir::homePath() + "/notes.txt";
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not audio");
    file.close();
    EXPECT_FALSE(rig.browser->dropUrls({QUrl::fromLocalFile(text)}));

    const QString one = QDir::homePath() + "/one.wav";
    const QString two = QDir::homePath() + "/two.wav";
    test::writeTone(one, 1.0);
    test::writeTone(two, 1.0);
    // Every line shown while one imported file is analysed counts it once.
    QStringList shown;
    QObject::connect(&model.library(), &LibraryStore::analyzingChanged, rig.browser.get(),
                     [&] { shown << rig.browser->analysisText(); });
    ASSERT_TRUE(rig.browser->dropUrls({QUrl::fromLocalFile(one)}));
    shown << rig.browser->analysisText();
    ASSERT_TRUE(test::spinUntil([&] { return model.library().analyzing().isEmpty(); }));
    shown.removeAll(QString());
    ASSERT_FALSE(shown.isEmpty());
    for (const QString& line : shown)
        EXPECT_EQ(line, "ANALYZE 1");
    ASSERT_TRUE(rig.browser->dropUrls({QUrl::fromLocalFile(two)}));
    ASSERT_TRUE(test::spinUntil([&] { return model.library().analyzing().isEmpty(); }));
    QApplication::processEvents();
    EXPECT_TRUE(rig.browser->analysisText().isEmpty());

    model.setBrowserSort(AppModel::BrowserSort::title);
    QApplication::processEvents();
    TrackTable& table = rig.table();
    ASSERT_EQ(table.records().size(), 2u);
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, rig.at(0));
    EXPECT_EQ(model.selectedTrack(), table.records()[0].id);
    ASSERT_TRUE(test::spinUntil([&] { return model.deck(0).track() && !model.deck(0).loading(); }));
    EXPECT_EQ(model.deck(0).track()->path, one);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, rig.at(1, 2));
    ASSERT_TRUE(test::spinUntil([&] { return model.deck(1).track() && !model.deck(1).loading(); }));
    EXPECT_EQ(model.deck(1).track()->path, two);
}

TEST(CrateWidget, KeyColoursAndEnergyBarsInPixels)
{
    CrateRig rig(4);
    TrackTable& table = rig.table();
    // Four device pixels a point on a clear image: marks keep their own colour.
    const double ratio = 4;
    QImage image(table.viewport()->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    table.viewport()->render(&image, QPoint(), QRegion(), QWidget::RenderFlags()); // no window background
    const double width = table.viewport()->width();
    const auto spans = crate::columnSpans(width);
    // The most opaque pixel of a cell is inside a glyph's stem.
    const auto solidest = [&](QRectF cell) {
        QColor best(0, 0, 0, 0);
        const QRect px = QRectF(cell.topLeft() * ratio, cell.size() * ratio).toAlignedRect();
        for (int y = px.top(); y <= px.bottom(); ++y)
            for (int x = px.left(); x <= px.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > best.alpha())
                    best = c;
            }
        return best;
    };
    for (int row = 0; row < 2; ++row) {
        const TrackRecord& record = table.records()[std::size_t(row)];
        ASSERT_TRUE(record.key);
        const double top = TrackTable::kHeader + row * TrackTable::kRow;
        const QColor mark = solidest(QRectF(spans[5].first, top, spans[5].second, TrackTable::kRow));
        const QColor want = crate::keyColour(*record.key);
        EXPECT_GE(mark.alpha(), 250) << row;
        EXPECT_TRUE(kit::test::near(mark, want)) << row << " minor " << record.key->minor << " "
                                                 << mark.name().toStdString() << " " << want.name().toStdString();
        // Energy 0.5 lights three bars: the first is ember at 0.85 over nothing.
        const QColor bar = kit::test::pixelAt(image, QPointF(spans[3].first + 1.5, top + TrackTable::kRow / 2));
        EXPECT_TRUE(kit::test::near(QColor(bar.red(), bar.green(), bar.blue()), kit::Palette::ember())) << row;
        EXPECT_NEAR(bar.alphaF(), 0.85, 0.01) << row;
        const QColor unlit = kit::test::pixelAt(image, QPointF(spans[3].first + 4 * 4.5 + 1.5, top + TrackTable::kRow / 2));
        EXPECT_NEAR(unlit.alphaF(), 0.18, 0.01) << row;
    }
}

TEST(CrateWidget, EmptyStatesAndTheSnapshotExcerpt)
{
    {
        CrateRig rig(20, true);
        TrackTable& table = rig.table();
        EXPECT_EQ(table.verticalScrollBar()->maximum(), 0); // nothing scrolls
        // The excerpt's rows fetched their waveforms before painting.
        for (int i = 0; i < TrackTable::kSnapshotRows; ++i)
            EXPECT_TRUE(table.hasWave(table.records()[std::size_t(i)].id)) << i;
        EXPECT_FALSE(table.hasWave(table.records()[TrackTable::kSnapshotRows].id));
        EXPECT_GE(table.rowAtPoint(table.rowRect(8).center()), 8);
        EXPECT_EQ(table.rowAtPoint(table.rowRect(9).center()), -1);
    }
    CrateRig rig(3);
    rig.model().setBrowserQuery(QStringLiteral("nothing matches this"));
    QApplication::processEvents();
    EXPECT_TRUE(rig.table().records().empty());
    EXPECT_EQ(rig.find<kit::DotMatrixText>("browser.count")->look().text, "0 TRACKS");
}

// --- The model module.

struct BrainRig {
    BrainRig()
    {
        app.make();
        outpaint = std::make_unique<OutpaintModel>(*app.defaults, app.scheduler);
        module = std::make_unique<BrainModule>(*app.app, kit.env(), QSizeF(BrainModule::kWidth, 300));
        module->show();
        QApplication::processEvents();
    }
    ~BrainRig() { module.reset(); }
    template <typename T = kit::HardKey>
    T* find(const QString& name) const
    {
        T* w = module->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void click(QWidget* w) const
    {
        QTest::mousePress(w, Qt::LeftButton, {}, w->rect().center());
        QTest::mouseRelease(w, Qt::LeftButton, {}, w->rect().center());
        QApplication::processEvents();
    }
    test::FakeWorld& world() { return app.world; }

    test::AppRig app;
    kit::test::KitRig kit;
    std::unique_ptr<OutpaintModel> outpaint;
    std::unique_ptr<BrainModule> module;
};

TEST(BrainWidget, ActionKeyCallsWhatEachStatusNames)
{
    BrainRig rig;
    using K = BrainStatus::Kind;
    struct Case {
        BrainStatus status;
        QString label;
        QString journal; // empty: nothing recorded by the fakes
    };
    const Case cases[] = {
        {BrainStatus::of(K::offline), "Wake", "brain.start(48)"},
        {BrainStatus::failed("gone"), "Wake", "brain.start(48)"},
        {BrainStatus::of(K::ready), "Fork", "workflow.fork(1)"},
        {BrainStatus::of(K::checking), "Fork", "workflow.fork(1)"},
        {BrainStatus::of(K::notInstalled), "Install", {}},
    };
    kit::HardKey* action = rig.find("brain.action");
    for (const Case& c : cases) {
        rig.world().brainStatus = c.status;
        rig.world().journal.clear();
        rig.module->refresh();
        EXPECT_EQ(action->look().label, c.label) << c.status.label().toStdString();
        rig.click(action);
        if (!c.journal.isEmpty()) {
            EXPECT_TRUE(rig.world().journal.contains(c.journal)) << rig.world().journal.join(", ").toStdString();
        }
    }
    // The Drop key shows the refusal in lower case, unlit, and drops on a press.
    rig.world().dropStatus = DropStatus::refused("DECK 1 EMPTY");
    rig.module->refresh();
    kit::HardKey* drop = rig.find("brain.drop");
    EXPECT_EQ(drop->look().sublabel, QStringLiteral("deck 1 empty"));
    EXPECT_FALSE(drop->lit());
    rig.click(drop);
    EXPECT_TRUE(rig.world().journal.contains("workflow.drop"));
}

TEST(BrainWidget, PresetsSteppersGuideSeedAndModelWriteSettings)
{
    BrainRig rig;
    // A fresh prompt is the trained one: only the first preset is lit.
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(rig.find("brain.preset." + BrainModule::presets()[i].label)->lit(), i == 0) << i;
    EXPECT_EQ(rig.module->findChild<kit::HardKey*>("brain.preset.LO-FI"), nullptr);
    rig.click(rig.find("brain.preset.HOUSE"));
    EXPECT_EQ(rig.world().settings.prompt, BrainModule::presets()[2].prompt);
    EXPECT_TRUE(rig.find("brain.preset.HOUSE")->lit());
    EXPECT_FALSE(rig.find("brain.preset.ZELVO-0")->lit());
    // One more character unlights every preset.
    ForkSettings edited = rig.world().settings;
    edited.prompt += " ";
    rig.app.app->outpaint().setSettings(edited);
    rig.module->refresh();
    EXPECT_FALSE(rig.find("brain.preset.HOUSE")->lit());

    auto* ahead = rig.find<StepperKnob>("brain.ahead");
    EXPECT_EQ(ahead->knobValue(), 1); // 8 of 4, 8, 16, 32
    ahead->turnTo(2.6);
    EXPECT_EQ(rig.world().settings.aheadBars, 32);
    EXPECT_EQ(ahead->readout(), "32BAR");
    ahead->turnTo(std::nan(""));
    EXPECT_EQ(rig.world().settings.aheadBars, 32);
    auto* steps = rig.find<StepperKnob>("brain.steps");
    ForkSettings odd = rig.world().settings;
    odd.steps = 10;
    rig.app.app->outpaint().setSettings(odd);
    EXPECT_EQ(steps->knobValue(), 0);
    EXPECT_EQ(steps->readout(), "10");
    steps->turnTo(1.5);
    EXPECT_EQ(rig.world().settings.steps, 8);

    kit::HardKey* seed = rig.find("brain.seed");
    EXPECT_FALSE(seed->lit());
    rig.click(seed);
    EXPECT_TRUE(rig.world().settings.lockSeed);
    EXPECT_TRUE(seed->lit());
    EXPECT_EQ(seed->look().label, QString::fromUtf8("Seed \u25A0"));

    // The model key shows with more than one listed model and cycles them.
    kit::HardKey* modelKey = rig.find("brain.model");
    EXPECT_TRUE(modelKey->isHidden());
    BrainHealth health;
    health.models = {{"zelvo-0", "base"}, {"A", "lora"}, {"B", "lora"}};
    rig.world().health = health;
    ForkSettings stock = rig.world().settings;
    stock.model.reset();
    rig.app.app->outpaint().setSettings(stock);
    rig.module->refresh();
    EXPECT_FALSE(modelKey->isHidden());
    EXPECT_EQ(modelKey->look().sublabel, QStringLiteral("stock"));
    rig.click(modelKey);
    EXPECT_EQ(rig.world().settings.model, QStringLiteral("A"));
    rig.click(modelKey);
    rig.click(modelKey);
    EXPECT_EQ(rig.world().settings.model, std::nullopt);
}

TEST(BrainWidget, StatusTakesAndChainWithTheWorkflow)
{
    BrainRig rig;
    rig.module->setOutpaint(rig.outpaint.get());
    EXPECT_EQ(rig.module->takesText(), "--/--");
    EXPECT_EQ(rig.module->seedText(), "NO TAKE ON DECK 2");
    EXPECT_EQ(rig.module->progressLit(), 0);
    rig.world().brainStatus = BrainStatus::of(BrainStatus::Kind::offline);
    EXPECT_EQ(rig.module->headlineText(), "OFFLINE");

    // A notice shows until its expiry on the manual clock.
    const QDateTime now = rig.kit.scheduler.now();
    rig.outpaint->setNotice(QStringLiteral("SAVED"));
    rig.outpaint->setNoticeUntil(now.addSecs(2));
    EXPECT_EQ(rig.module->headlineText(), "SAVED");
    rig.outpaint->setNoticeUntil(now);
    EXPECT_EQ(rig.module->headlineText(), "OFFLINE");

    // A tap on the chain panel resumes the chain from any hold.
    rig.outpaint->setChainHoldUntil(now.addSecs(3600));
    rig.click(rig.find<kit::FaceWidget>("brain.chain"));
    EXPECT_EQ(rig.outpaint->chainHoldUntil(), OutpaintModel::distantPast());
    EXPECT_FALSE(rig.outpaint->chainSnooze());
}

} // namespace
} // namespace zelvo
