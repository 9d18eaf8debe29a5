#include "state/AppModel.h"
#include "state/KeyboardMap.h"
#include "shell/StandardNeighbours.h"
#include "shell/StatusNeighbours.h"
#include "controllers/ControllerModel.h"
#include "platform/VirtualMidiSystem.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/AudioIO.h"
#include "models/AudioSystem.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "models/MixerModel.h"
#include "models/DeckModel.h"
#include "models/TransitionModel.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/RootView.h"
#include "ui/stage/PlayerList.h"
#include "ui/stage/SettingsPopover.h"
#include "ui/stage/StageView.h"
#include "ui/stage/StatusBadges.h"
#include "ui/stage/StatusBar.h"
#include "ui/stage/TourSpots.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace zelvo {
namespace {

// The neighbours as plain values, with every call written to a journal.
class FakeStatus final : public StatusLink {
public:
    std::optional<MIDIHub::Connection> connected() const override { return connected_; }
    std::vector<MIDIHub::Player> players() const override { return players_; }
    ControllerKind layout() const override { return layout_; }
    SurfaceChoice surfaceChoice() const override { return surface_; }
    void setSurfaceChoice(SurfaceChoice choice) override
    {
        journal << QStringLiteral("surface(%1)").arg(int(choice));
        surface_ = choice;
        emit controllerChanged();
    }
    std::map<std::int64_t, int> playerDecks() const override { return decks_; }
    void swapPlayers() override
    {
        journal << QStringLiteral("swap");
        for (auto& [port, deck] : decks_)
            deck = deck == 0 ? 1 : deck == 1 ? 0 : deck;
        emit playersChanged();
    }
    QString accountKey() const override { return key_; }
    QString accountMasked() const override { return QStringLiteral("masked:") + key_; }
    KavriAccount::Check accountCheck() const override { return check_; }
    void saveKey(const QString& text) override { journal << QStringLiteral("save(%1)").arg(text); }
    void forgetKey() override
    {
        journal << QStringLiteral("forget");
        key_.clear();
        check_ = KavriAccount::Check::none();
        emit accountChanged();
    }
    QStringList brainLog() const override { return log_; }
    QString brainLogFile() const override { return QStringLiteral("/state/KavriZelvo/brain.log"); }
    Update update() const override { return update_; }
    QUrl updateDownload() const override { return QUrl(QStringLiteral("https://kavri.example/get/2.0")); }

    QStringList journal;
    std::optional<MIDIHub::Connection> connected_;
    std::vector<MIDIHub::Player> players_;
    ControllerKind layout_ = ControllerKind::flx4;
    SurfaceChoice surface_ = SurfaceChoice::automatic;
    std::map<std::int64_t, int> decks_;
    QString key_;
    KavriAccount::Check check_;
    QStringList log_;
    Update update_;
};

struct StatusRig {
    explicit StatusRig(bool show = true)
    {
        app.make();
        auto link = std::make_unique<FakeStatus>();
        status = link.get();
        model().setStatusLink(std::move(link));
        status->setQuit([this] { status->journal << QStringLiteral("quit"); });
        if (show) {
            window = std::make_unique<QWidget>();
            window->resize(780, 200);
            QPalette ink = window->palette();
            ink.setColor(QPalette::Window, kit::Stage::ink());
            window->setPalette(ink);
            window->setAutoFillBackground(true);
            bar = new StatusBar(model(), kit.env(), window.get());
            bar->resize(780, StatusBar::kHeight);
            window->show();
            QApplication::processEvents();
        }
    }
    ~StatusRig()
    {
        window.reset();
        QApplication::processEvents();
    }
    AppModel& model() const { return *app.app; }
    template <typename T>
    T* find(const QString& name) const
    {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (T* found = top->findChild<T*>(name); found && found->isVisible())
                return found;
        return nullptr;
    }
    // Adds an output device with `channels` channels; the first becomes the default.
    void addDevice(const std::string& uid, int channels, bool isDefault)
    {
        FakeAudioBackend::Device device;
        device.uid = uid;
        device.name = "Card " + uid;
        device.outputStreams = std::vector<int>{channels};
        const auto id = app.backend->addDevice(device);
        if (isDefault)
            app.backend->setDefaultOutput(id);
    }

    test::AppRig app;
    kit::test::KitRig kit;
    FakeStatus* status = nullptr;
    std::unique_ptr<QWidget> window;
    StatusBar* bar = nullptr;
};

QStringList rowsOf(const QComboBox* box)
{
    QStringList rows;
    for (int i = 0; i < box->count(); ++i)
        rows << box->itemText(i);
    return rows;
}

TEST(StatusWidget, BothKeysOpenThePopoverAndAClickOutsideClosesIt)
{
    StatusRig rig;
    AppModel& app = rig.model();
    stage::PlainKey* key = rig.bar->settingsKey();
    QTest::mouseClick(key, Qt::LeftButton);
    ASSERT_TRUE(app.showSettings());
    SettingsPopup* popup = rig.bar->settingsAnchor()->popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(popup->testAttribute(Qt::WA_NoMouseReplay));
    EXPECT_TRUE(popup->windowFlags().testFlag(Qt::Popup));
    // Its arrow points at the key's bottom edge.
    const QPoint tip = key->mapToGlobal(QPoint(key->width() / 2, key->height()));
    EXPECT_EQ(popup->geometry().top(), tip.y());
    EXPECT_EQ(popup->geometry().left() + popup->arrowX(), tip.x());
    EXPECT_EQ(popup->settings()->width(), AudioSettings::kWidth);
    // The bar and the open popover, kept for review.
    rig.window->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/status-bar.png"));
    popup->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/settings-popover.png"));

    // A click outside closes it and sets the field back; the press is not replayed.
    const bool browsing = app.browseOpen();
    QWidget* browse = rig.bar->browseKey();
    QTest::mouseClick(rig.window->windowHandle(), Qt::LeftButton, {},
                      browse->mapTo(rig.window.get(), browse->rect().center()));
    QApplication::processEvents();
    EXPECT_FALSE(app.showSettings());
    EXPECT_EQ(rig.bar->settingsAnchor()->popup(), nullptr);
    EXPECT_EQ(app.browseOpen(), browsing);

    // Another key (the faceplate's header) opens it under itself while the stage is hidden.
    rig.window->hide();
    QWidget header;
    auto* headerKey = new QPushButton(QStringLiteral("settings"), &header);
    auto* anchor = new SettingsAnchor(app, rig.kit.env(), headerKey);
    QObject::connect(headerKey, &QPushButton::clicked, [&app] { app.setShowSettings(!app.showSettings()); });
    header.show();
    QApplication::processEvents();
    QTest::mouseClick(headerKey, Qt::LeftButton);
    ASSERT_NE(anchor->popup(), nullptr);
    EXPECT_EQ(rig.bar->settingsAnchor()->popup(), nullptr);
    EXPECT_EQ(anchor->popup()->parentWidget(), &header);
    // Closing it from the model (Escape) hides it too.
    QTest::keyClick(anchor->popup(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(app.showSettings());
    EXPECT_EQ(anchor->popup(), nullptr);
}

TEST(StatusWidget, PickersShowTheModelAndWriteOnlyOnAUserChoice)
{
    StatusRig rig(false);
    rig.addDevice("one", 1, false);
    rig.addDevice("two", 2, false);
    rig.addDevice("four", 4, true);
    rig.addDevice("five", 5, false);
    AppModel& app = rig.model();
    ASSERT_TRUE(rig.app.bootWithOutput());
    AudioSystem& audio = app.audio();
    ASSERT_EQ(audio.io()->device().outputChannels, 4);
    AudioSettings settings(app, rig.kit.env());
    settings.show();
    QApplication::processEvents();
    auto* output = settings.findChild<QComboBox*>(QStringLiteral("settings.output"));
    auto* buffer = settings.findChild<QComboBox*>(QStringLiteral("settings.buffer"));
    auto* master = settings.findChild<QComboBox*>(QStringLiteral("settings.master"));
    auto* cue = settings.findChild<QComboBox*>(QStringLiteral("settings.cue"));
    auto* note = settings.findChild<QLabel*>(QStringLiteral("settings.cueNote"));
    auto* surface = settings.findChild<QComboBox*>(QStringLiteral("settings.surface"));
    ASSERT_TRUE(output && buffer && master && cue && note && surface);

    QStringList listed = rowsOf(output);
    EXPECT_TRUE(listed.contains(QStringLiteral("Card four · 4 ch · 48000 Hz"))) << listed.join(", ").toStdString();
    EXPECT_TRUE(listed.contains(QStringLiteral("Card five · 5 ch · 48000 Hz")));
    // Following the system's default output, no row is the stored choice.
    EXPECT_EQ(output->currentIndex(), stage::rowIndex(stage::outputRows(audio.devices()), audio.deviceUID()));
    EXPECT_EQ(rowsOf(master), (QStringList{"Ch 1/2", "Ch 3/4"}));
    EXPECT_EQ(rowsOf(cue), (QStringList{"Off", "Ch 3/4"}));
    EXPECT_TRUE(master->isVisible());
    EXPECT_FALSE(note->isVisible());
    EXPECT_EQ(buffer->currentIndex(), stage::rowIndex(stage::bufferRows(std::nullopt), audio.bufferFrames()));

    // Moving the selection from code writes nothing; the user's choice does.
    const QString uid = audio.deviceUID();
    const std::int64_t cuePair = audio.cuePair();
    cue->setCurrentIndex(1);
    EXPECT_EQ(audio.cuePair(), cuePair);
    cue->setCurrentIndex(0);
    QTest::keyClick(cue, Qt::Key_Down);
    EXPECT_EQ(audio.cuePair(), 2);
    QTest::keyClick(surface, Qt::Key_Down);
    EXPECT_EQ(rig.status->journal, QStringList{"surface(1)"});

    // A cue pair on the master's pair has no row: no selection, nothing written.
    QTest::keyClick(master, Qt::Key_Down);
    EXPECT_EQ(audio.masterPair(), 2);
    ASSERT_TRUE(test::spinUntil([&] { return audio.io() && audio.io()->masterPair() == 2; }));
    settings.refresh();
    EXPECT_EQ(rowsOf(cue), (QStringList{"Off", "Ch 1/2"}));
    EXPECT_EQ(cue->currentIndex(), audio.cuePair() == 2 ? -1 : 0);
    QTest::keyClick(master, Qt::Key_Up);
    EXPECT_EQ(audio.masterPair(), 0);

    // A stored device no listed device matches: no row selected, nothing written.
    EXPECT_EQ(audio.deviceUID(), uid);
    output->setCurrentIndex(2);
    EXPECT_EQ(audio.deviceUID(), uid);

    // The user picks the two-channel card: once it runs, one master pair,
    // only "Off" for the cue and the note.
    output->setCurrentIndex(stage::rowIndex(stage::outputRows(audio.devices()), QStringLiteral("four")));
    const int two = stage::rowIndex(stage::outputRows(audio.devices()), QStringLiteral("two"));
    while (output->currentIndex() != two)
        QTest::keyClick(output, output->currentIndex() < two ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(audio.deviceUID(), QStringLiteral("two"));
    ASSERT_TRUE(test::spinUntil([&] { return audio.io() && audio.io()->device().outputChannels == 2; }));
    settings.refresh();
    EXPECT_EQ(rowsOf(master), (QStringList{"Ch 1/2"}));
    EXPECT_EQ(rowsOf(cue), (QStringList{"Off"}));
    EXPECT_TRUE(note->isVisible());
}

TEST(StatusWidget, KeyFormSavesOnTheKeyAndReturnAndForgets)
{
    StatusRig rig(false);
    AppModel& app = rig.model();
    AudioSettings settings(app, rig.kit.env());
    settings.show();
    QApplication::processEvents();
    auto* field = settings.findChild<QLineEdit*>(QStringLiteral("keyForm.field"));
    auto* save = settings.findChild<QPushButton*>(QStringLiteral("keyForm.save"));
    auto* forget = settings.findChild<QPushButton*>(QStringLiteral("keyForm.forget"));
    auto* check = settings.findChild<QLabel*>(QStringLiteral("keyForm.check"));
    ASSERT_TRUE(field && save && forget && check);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_EQ(field->placeholderText(), QStringLiteral("sk_kavri_…"));
    EXPECT_FALSE(save->isEnabled());
    EXPECT_FALSE(forget->isVisible());
    EXPECT_EQ(check->text(), QStringLiteral("No key yet."));

    QTest::keyClicks(field, QStringLiteral("sk_kavri_123"));
    EXPECT_TRUE(save->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(field, QStringLiteral("  "));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(rig.status->journal, (QStringList{"save(sk_kavri_123)", "save(  )", "save()"}));
    EXPECT_TRUE(field->text().isEmpty());

    rig.status->key_ = QStringLiteral("k1");
    rig.status->check_ = KavriAccount::Check::bad(QStringLiteral("key refused"));
    emit rig.status->accountChanged();
    EXPECT_EQ(field->placeholderText(), QStringLiteral("masked:k1"));
    EXPECT_EQ(check->text(), QStringLiteral("key refused"));
    ASSERT_TRUE(forget->isVisible());
    QTest::mouseClick(forget, Qt::LeftButton);
    EXPECT_EQ(rig.status->journal.back(), QStringLiteral("forget"));
    EXPECT_FALSE(forget->isVisible());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("sk_kavri_…"));

    // "Get a free key" opens the sign-up page through the desktop services.
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("keyForm.signUp")), Qt::LeftButton);
    EXPECT_EQ(rig.kit.desktop.opened, QList<QUrl>{KavriAccount::signUp()});
}

TEST(StatusWidget, ModelServerSectionShowsTheLogAndRecordsItsKeys)
{
    StatusRig rig(false);
    AppModel& app = rig.model();
    for (int i = 1; i <= 400; ++i)
        rig.status->log_ << QStringLiteral("line %1 of the model server's log").arg(i);
    AudioSettings settings(app, rig.kit.env());
    settings.show();
    QApplication::processEvents();
    auto* log = settings.findChild<QPlainTextEdit*>(QStringLiteral("brain.log"));
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_EQ(log->height(), AudioSettings::kLogHeight);
    QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 60);
    EXPECT_EQ(lines.front(), QStringLiteral("line 341 of the model server's log"));
    EXPECT_EQ(log->verticalScrollBar()->value(), 0);
    // A new line extends the text at the bottom; the panel stays at the top.
    rig.status->log_ << QStringLiteral("line 401");
    emit rig.status->brainLogChanged();
    lines = log->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(lines.front(), QStringLiteral("line 342 of the model server's log"));
    EXPECT_EQ(lines.back(), QStringLiteral("line 401"));
    EXPECT_EQ(log->verticalScrollBar()->value(), 0);
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("brain.path"))->text(),
              stage::runtimePath(app.brainPaths().home));

    rig.app.world.journal.clear();
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("brain.restart")), Qt::LeftButton);
    EXPECT_EQ(rig.app.world.journal, (QStringList{"brain.stop", "brain.start(48)"}));
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("brain.openLog")), Qt::LeftButton);
    EXPECT_EQ(rig.kit.desktop.opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/state/KavriZelvo/brain.log"))});
    // Without an installer (none in this rig) the install key does nothing and is never disabled.
    auto* install = settings.findChild<QPushButton*>(QStringLiteral("brain.install"));
    EXPECT_TRUE(install->isEnabled());
    QTest::mouseClick(install, Qt::LeftButton);

    // The controller section: the status line and, with players, their list and swap key.
    auto* line = settings.findChild<QLabel*>(QStringLiteral("settings.controllerLine"));
    EXPECT_EQ(line->text(), QStringLiteral("No DDJ-FLX4, DDJ-FLX10 or CDJ-3000X on USB."));
    rig.status->players_ = {{PlayerModel::cdj3000x, "a", 0x11}, {PlayerModel::cdj3000, "b", 0x12}};
    rig.status->decks_ = {{0x11, 0}, {0x12, 1}};
    emit rig.status->playersChanged();
    QApplication::processEvents();
    EXPECT_EQ(line->text(),
              QStringLiteral("CDJs in software control — each plays its deck out of its own outputs into your DJM."));
    auto* deck0 = settings.findChild<QLabel*>(QStringLiteral("players.deck0"));
    ASSERT_NE(deck0, nullptr);
    EXPECT_EQ(deck0->text(), QStringLiteral("deck 1"));
    QTest::mouseClick(settings.findChild<QPushButton*>(QStringLiteral("players.swap")), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(rig.status->journal.back(), QStringLiteral("swap"));
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("players.deck0"))->text(), QStringLiteral("deck 2 · zelvo-0"));
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("players.deck1"))->text(), QStringLiteral("deck 1"));
}

TEST(StatusWidget, BarKeysBadgeAndUpdateNotices)
{
    StatusRig rig;
    AppModel& app = rig.model();
    StatusBar& bar = *rig.bar;
    EXPECT_EQ(bar.height(), StatusBar::kHeight);

    // Browse key: toggles the field and follows it, also when something else opens the browser.
    EXPECT_EQ(bar.browseKey()->label(), QStringLiteral("▴ browse").toUpper());
    QTest::mouseClick(bar.browseKey(), Qt::LeftButton);
    EXPECT_TRUE(app.browseOpen());
    EXPECT_EQ(bar.browseKey()->label(), QStringLiteral("▾ decks").toUpper());
    app.setBrowseOpen(false);
    EXPECT_EQ(bar.browseKey()->label(), QStringLiteral("▴ browse").toUpper());
    EXPECT_EQ(bar.recordKey()->label(), QStringLiteral("rec").toUpper());
    // Without an engine: no tempo, "no output", 0 ms, dsp 0%; no frames asked for.
    QStringList readouts;
    for (const stage::StatusItem& item : bar.readouts()->items())
        readouts << item.text;
    EXPECT_EQ(readouts, (QStringList{"no output", "0 ms", "dsp 0%"}));

    // The badge follows the controller link.
    EXPECT_EQ(bar.badge()->face().text, QStringLiteral("flx4 layout · no controller"));
    rig.status->connected_ = MIDIHub::Connection{ControllerKind::flx10, "DDJ-FLX10"};
    emit rig.status->controllerChanged();
    EXPECT_EQ(bar.badge()->face().text, QStringLiteral("ddj-flx10 linked"));
    EXPECT_TRUE(bar.badge()->face().lit);
    // The badge is the tour's "controller" spot.
    const auto spots = tourSpots(rig.window.get());
    ASSERT_TRUE(spots.count(TourSpot::controller));
    EXPECT_EQ(spots.at(TourSpot::controller),
              QRect(bar.badge()->mapTo(rig.window.get(), QPoint(0, 0)), bar.badge()->size()));
    // The lamp: ready is lit without frames.
    EXPECT_TRUE(bar.lamp()->lit());
    {
        // Lit, it stands on its own double image: one screened layer a point
        // wider on each side than the lamp it copies, no plain-coloured discs.
        using Kind = kit::RecordingCanvas::Kind;
        kit::RecordingCanvas canvas;
        bar.lamp()->paintFace(canvas);
        const auto images = canvas.of(Kind::image);
        ASSERT_EQ(images.size(), 2u);
        EXPECT_EQ(images[0].rect, images[1].rect.adjusted(-1, 0, 1, 0));
        ASSERT_EQ(canvas.of(Kind::blend).size(), 1u);
        EXPECT_EQ(canvas.of(Kind::blend)[0].flags, int(QPainter::CompositionMode_Screen));
        for (const auto& fill : canvas.of(Kind::fill))
            EXPECT_NE(fill.brush.color().rgb(), kit::Palette::red().rgb());
    }

    // Notices: none while idle; ready swaps and quits, unless the state moved on.
    EXPECT_FALSE(bar.notice()->isVisible());
    rig.status->update_ = {StatusLink::Update::Kind::ready, QStringLiteral("1.4.2")};
    emit rig.status->updateChanged();
    ASSERT_TRUE(bar.notice()->isVisible());
    EXPECT_EQ(bar.notice()->label(), QStringLiteral("1.4.2 ready · restart to update").toUpper());
    EXPECT_EQ(bar.notice()->toolTip(), stage::updateNotice(rig.status->update_)->help);
    rig.app.world.journal.clear();
    QTest::mouseClick(bar.notice(), Qt::LeftButton);
    EXPECT_EQ(rig.app.world.journal, QStringList{"update.swap(1)"});
    EXPECT_EQ(rig.status->journal, QStringList{"quit"});
    rig.status->update_ = {};
    QTest::mouseClick(bar.notice(), Qt::LeftButton);
    EXPECT_EQ(rig.app.world.journal, QStringList{"update.swap(1)"});
    EXPECT_EQ(rig.status->journal, QStringList{"quit"});

    rig.status->update_ = {StatusLink::Update::Kind::manual, QStringLiteral("2.0")};
    emit rig.status->updateChanged();
    EXPECT_EQ(bar.notice()->label(), QStringLiteral("update · 2.0 ready").toUpper());
    QTest::mouseClick(bar.notice(), Qt::LeftButton);
    EXPECT_EQ(rig.kit.desktop.opened, QList<QUrl>{QUrl(QStringLiteral("https://kavri.example/get/2.0"))});
}

TEST(StatusWidget, LitLampsDoubleImageKeepsTheLampsSizeAndCentreAtEveryPixelRatio)
{
    // The faceplate's smallest window gives 0.75, a high-density screen 2.
    StatusRig rig(false);
    // Where the layer's light sits and how much of it there is, in design
    // points: alpha-weighted, so the glow's blur (which keeps the total) and
    // pixel rounding move neither.
    struct Spot {
        QPointF centre;
        double mass = 0; // square points of full alpha
    };
    std::optional<Spot> sharp;
    for (double faceScale : {2.0, 1.0, 0.75}) {
        kit::test::KitRig kit(faceScale);
        BrainLamp lamp(rig.model(), kit.env());
        ASSERT_TRUE(lamp.lit());
        kit::RecordingCanvas canvas;
        lamp.paintFace(canvas);
        const auto images = canvas.of(kit::RecordingCanvas::Kind::image);
        ASSERT_EQ(images.size(), 2u);
        const QRectF frame = images[0].rect; // where the layer lands, in design points
        const QImage& layer = lamp.aberration().ghosts().layer();
        const double ratio = lamp.devicePixelRatioF() * faceScale;
        ASSERT_EQ(layer.width(), int(std::ceil(frame.width() * ratio))) << ratio;
        ASSERT_EQ(layer.height(), int(std::ceil(frame.height() * ratio))) << ratio;
        const double pw = frame.width() / layer.width(), ph = frame.height() / layer.height();
        double sum = 0, sx = 0, sy = 0;
        for (int y = 0; y < layer.height(); ++y)
            for (int x = 0; x < layer.width(); ++x) {
                const double a = qAlpha(layer.pixel(x, y)) / 255.0;
                sum += a, sx += a * (frame.left() + (x + 0.5) * pw), sy += a * (frame.top() + (y + 0.5) * ph);
            }
        ASSERT_GT(sum, 0) << ratio;
        const Spot spot{QPointF(sx / sum, sy / sum), sum * pw * ph};
        // The lamp: 7 points wide after the glow's lead, centred on the strip's middle.
        EXPECT_NEAR(spot.centre.x(), BrainLamp::kGlowLead + 3.5, 0.15) << ratio;
        EXPECT_NEAR(spot.centre.y(), lamp.designSize().height() / 2, 0.15) << ratio;
        if (!sharp)
            sharp = spot;
        // The blur's radius is whole device pixels: at 0.75 it is a third wider,
        // so a little more of its tail lies in the layer. A lamp drawn at the
        // wrong size would be off by its square.
        EXPECT_NEAR(spot.mass / sharp->mass, 1.0, 0.1) << ratio;
    }
}

TEST(StatusWidget, LitLampsGlowIsWholeAsDrawnAtEveryScaleAndPixelRatio)
{
    StatusRig rig;
    // The bar's spacing runs from the record key to the disc; the glow lies in it.
    EXPECT_EQ(rig.bar->lamp()->x() + BrainLamp::kGlowLead - rig.bar->recordKey()->geometry().right() - 1, 16);
    for (double faceScale : {0.75, 1.0}) {
        kit::test::KitRig kit(faceScale);
        BrainLamp lamp(rig.model(), kit.env());
        for (double ratio : {1.0, 2.0}) {
            // As on a screen or in the snapshot: clipped to the widget's rectangle.
            // The glow's layers follow the widget's own screen ratio (1 here), so
            // at 2 this checks the clip and the layout's rounding, not a sharper glow.
            QImage image((QSizeF(lamp.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(ratio);
            image.fill(Qt::transparent);
            lamp.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            const double k = faceScale * ratio;
            const QPoint centre(int((BrainLamp::kGlowLead + 3.5) * k), int(lamp.designSize().height() / 2 * k));
            // Pixels of visible light from the disc's centre one way; -1 when it runs into the edge.
            const auto reach = [&](QPoint step) {
                int n = 0;
                for (QPoint p = centre + step; image.rect().contains(p); p += step, ++n)
                    if (qAlpha(image.pixel(p)) < 12)
                        return n;
                return -1;
            };
            const int left = reach({-1, 0}), right = reach({1, 0}), up = reach({0, -1}), down = reach({0, 1});
            const std::string at = "scale " + std::to_string(faceScale) + " ratio " + std::to_string(ratio);
            EXPECT_TRUE(left > 0 && up > 0 && down > 0) << "cut at the edge: " << at;
            EXPECT_LE(std::abs(left - right), 2) << at;
            EXPECT_LE(std::abs(up - down), 2) << at;
            EXPECT_GT(right, 5 * k) << "past the disc and its shift: " << at;
        }
    }
}

TEST(StatusWidget, RecordKeyFollowsTheEngine)
{
    StatusRig rig;
    rig.app.addOutput();
    AppModel& app = rig.model();
    ASSERT_TRUE(rig.app.bootWithOutput());
    stage::PlainKey* key = rig.bar->recordKey();
    QTest::mouseClick(key, Qt::LeftButton);
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return app.engineLive().recording;
    }));
    EXPECT_EQ(key->label(), QStringLiteral("● recording").toUpper());
    QTest::mouseClick(key, Qt::LeftButton);
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return !app.engineLive().recording;
    }));
    EXPECT_EQ(key->label(), QStringLiteral("rec").toUpper());
    // With an engine the read-outs name the running device.
    EXPECT_EQ(rig.bar->readouts()->items().front().text, QStringLiteral("Fake Out"));
}

TEST(StatusWidget, PlayerListFollowsTheControllerModelsPlayersAndSwaps)
{
    StatusRig rig(false);
    AppModel& app = rig.model();
    ControllerModel::Setup setup;
    auto midi = std::make_shared<VirtualMidiSystem>();
    setup.midiSystem = [midi] { return std::static_pointer_cast<MidiSystem>(midi); };
    ControllerModel controller(*rig.app.defaults, rig.app.scheduler, {QStringLiteral("x")}, nullptr, setup);
    StandardNeighbours neighbours;
    neighbours.controller = &controller;
    app.setStatusLink(makeStatusLink(neighbours));

    AudioSettings settings(app, rig.kit.env());
    ControllerBadge badge(app, rig.kit.env());
    settings.show();
    QApplication::processEvents();
    auto* players = settings.findChild<PlayerList*>(QStringLiteral("players"));
    ASSERT_NE(players, nullptr);
    EXPECT_FALSE(players->isVisible());

    controller.updatePlayers({{PlayerModel::cdj3000x, "CDJ-3000X", 0x14200000}});
    QApplication::processEvents();
    EXPECT_TRUE(players->isVisible());
    EXPECT_EQ(badge.face().text, QStringLiteral("cdj-3000x linked"));
    EXPECT_EQ(settings.findChild<QLabel*>(QStringLiteral("players.player0"))->text(),
              QStringLiteral("CDJ-3000X · USB 14200000"));
    EXPECT_EQ(settings.findChild<QPushButton*>(QStringLiteral("players.swap")), nullptr);

    controller.updatePlayers({{PlayerModel::cdj3000x, "CDJ-3000X", 0x14200000},
                              {PlayerModel::cdj3000, "CDJ-3000", 0x14300000}});
    QApplication::processEvents();
    EXPECT_EQ(badge.face().text, QStringLiteral("2 × cdj-3000x linked"));
    const auto deckText = [&](int row) {
        return settings.findChild<QLabel*>(QStringLiteral("players.deck%1").arg(row))->text();
    };
    EXPECT_EQ(deckText(0), QStringLiteral("deck 1"));
    EXPECT_EQ(deckText(1), QStringLiteral("deck 2 · zelvo-0"));
    auto* swap = settings.findChild<QPushButton*>(QStringLiteral("players.swap"));
    ASSERT_NE(swap, nullptr);
    QTest::mouseClick(swap, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(deckText(0), QStringLiteral("deck 2 · zelvo-0"));
    EXPECT_EQ(deckText(1), QStringLiteral("deck 1"));
    // The link goes before the model it reads.
    app.setStatusLink(nullptr);
}

TEST(StatusWidget, SettingsKeyOpensThePopoverOverTheStageAndTheKeyboardMixesToDeckTwo)
{
    test::AppRig appRig;
    kit::test::KitRig kitRig;
    appRig.addOutput();
    AppModel& app = appRig.make();
    RootView root(app, kitRig.env());
    root.resize(1600, 1080);
    root.show();
    QApplication::processEvents();
    ASSERT_TRUE(appRig.bootWithOutput());

    auto* key = root.findChild<stage::PlainKey*>(QStringLiteral("statusBar.settingsKey"));
    ASSERT_NE(key, nullptr);
    QTest::mouseClick(key, Qt::LeftButton);
    auto* popup = root.findChild<SettingsPopup*>(QStringLiteral("settingsPopover"));
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(root.geometry().contains(root.mapFromGlobal(popup->geometry().topLeft())));
    popup->close();
    QApplication::processEvents();
    EXPECT_FALSE(app.showSettings());

    KeyboardFilter keys(app, nullptr);
    qApp->installEventFilter(&keys);
    for (int deck : {0, 1}) {
        const QString path = QDir::homePath() + QStringLiteral("/mix%1.wav").arg(deck);
        test::writeTone(path, 90.0);
        ASSERT_TRUE(root.stageView()->lane(deck)->dropUrls({QUrl::fromLocalFile(path)}));
        ASSERT_TRUE(test::spinUntil([&] { return app.deck(deck).track() && !app.deck(deck).loading(); })) << deck;
    }
    app.mixer().channel(0).setCrossfaderAssign(-1);
    app.mixer().channel(1).setCrossfaderAssign(1);
    app.mixer().setCrossfader(-1.0);
    const auto run = [&](const std::function<bool()>& done) {
        return test::spinUntil([&] {
            appRig.backend->pump(0.1);
            appRig.scheduler.advance(0.05);
            return done();
        }, 60);
    };
    QTest::keyClick(root.windowHandle(), Qt::Key_X);
    QTest::keyClick(root.windowHandle(), Qt::Key_M);
    ASSERT_TRUE(run([&] { return app.deck(0).live().playing && app.deck(1).live().playing; }));
    // '.' mixes over to deck 2: the crossfader travels there on its own.
    QTest::keyClick(root.windowHandle(), Qt::Key_Period);
    ASSERT_TRUE(run([&] { return app.mixer().crossfader() > -0.9; }));
    ASSERT_TRUE(run([&] { return app.mixer().crossfader() > 0.5; })) << app.mixer().crossfader();
    EXPECT_TRUE(app.isAudible(1));
    qApp->removeEventFilter(&keys);
}

} // namespace
} // namespace zelvo
