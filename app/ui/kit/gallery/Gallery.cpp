#include "ui/kit/gallery/Gallery.h"

#include "platform/Scheduler.h"
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Chrome.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/Displays.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/VFDField.h"
#include "ui/kit/waves/FaceplateWaves.h"
#include "ui/kit/waves/WaveLane.h"

#include <QDir>
#include <QPainter>
#include <cmath>
#include <map>

namespace zelvo::kit {

namespace {

// Values the gallery's controls show and change.
struct Values {
    std::map<QString, double> numbers;
    Binding<double> bind(const QString& key, double initial)
    {
        numbers[key] = initial;
        return Binding<double>{[this, key] { return numbers[key]; }, [this, key](double v) { numbers[key] = v; }};
    }
};

// A sheet lays widgets out in rows, each under a caption.
class Sheet : public DesignBox {
public:
    Sheet(const UiEnv& env, QSizeF size, const QColor& background)
        : DesignBox(env, size), values_(std::make_shared<Values>())
    {
        setBackground([background](Canvas& c, QSizeF s) { c.fillRect(QRectF(QPointF(0, 0), s), background); });
    }
    Values& values() { return *values_; }
    void caption(const QString& text)
    {
        if (x_ > 16)
            newRow();
        auto* label = new StageLabel(env(), text, 8, Stage::ash());
        place(label, QRectF(QPointF(16, y_), label->designSize()));
        y_ += label->designSize().height() + 6;
    }
    void add(FaceWidget* w)
    {
        const QSizeF s = w->designSize();
        place(w, QRectF(QPointF(x_, y_), s));
        x_ += s.width() + 16;
        rowHeight_ = std::max(rowHeight_, s.height());
    }
    void newRow()
    {
        y_ += rowHeight_ + 14;
        x_ = 16;
        rowHeight_ = 0;
    }

private:
    std::shared_ptr<Values> values_;
    double x_ = 16;
    double y_ = 14;
    double rowHeight_ = 0;
};

FaceWidget* still(const UiEnv& env, QSizeF size, LiveCanvas::Renderer draw)
{
    return new LiveCanvas(env, size, 0, std::move(draw));
}

std::unique_ptr<QWidget> controls(const UiEnv& env)
{
    auto sheet = std::make_unique<Sheet>(env, QSizeF(760, 640), Palette::panel());
    auto& v = sheet->values();
    sheet->caption("knobs: lo, middle, hi, bipolar centre, bipolar left, bipolar right, labelled");
    const Range unit{0, 1};
    int n = 0;
    for (auto [value, bipolar] : {std::pair{0.0, false}, {0.5, false}, {1.0, false}, {0.5, true}, {0.2, true}, {1.0, true}})
        sheet->add(new Knob(env, v.bind(QString::number(n++), value), unit, bipolar, std::nullopt, 40, std::nullopt, 11));
    sheet->add(new Knob(env, v.bind("trim", 0.7), unit, false, QStringLiteral("trim"), 34, std::nullopt, 15));
    sheet->caption("faders: vertical, inverted, centre detent, horizontal");
    sheet->add(new Fader(env, v.bind("f1", 0.25), unit, true, 140, 9, false, false, std::nullopt, 28));
    sheet->add(new Fader(env, v.bind("f2", 0.25), unit, true, 140, 8, false, true, std::nullopt, 28));
    sheet->add(new Fader(env, v.bind("f3", 0.5), unit, true, 140, 11, true, false, std::nullopt, 24));
    sheet->add(new Fader(env, v.bind("f4", 0.8), unit, false, 200, 9, false, false, std::nullopt, 24));
    sheet->caption("keys: transport off, on, pressed; pad on; key on, off; wide danger; blinking");
    sheet->add(new HardKey(env, "play", std::nullopt, false, false, KeyStyle::transport, {}, {}, false, {}));
    sheet->add(new HardKey(env, "cue", std::nullopt, true, false, KeyStyle::transport, {}, {}, false, {}));
    sheet->add(still(env, QSizeF(64, 64), [](Canvas& c, QSizeF s, double) {
        drawHardKey(c, KeyLook{"play", std::nullopt, true, true, KeyStyle::transport, s, false, 0.965});
    }));
    sheet->add(new HardKey(env, "loop", QStringLiteral("4 beats"), true, false, KeyStyle::pad, {}, {}, false, {}));
    sheet->add(new HardKey(env, "sync", std::nullopt, true, false, KeyStyle::key, {}, {}, false, {}));
    sheet->add(new HardKey(env, "master", std::nullopt, false, false, KeyStyle::key, {}, {}, false, {}));
    sheet->add(new HardKey(env, "cancel", QStringLiteral("render"), true, false, KeyStyle::wide, {}, {}, true, {}));
    sheet->add(new HardKey(env, "rec", std::nullopt, true, true, KeyStyle::key, {}, {}, false, {}));
    sheet->caption("pads, legends");
    sheet->add(new Pad(env, "hot cue", QStringLiteral("a"), true, {}));
    sheet->add(new Pad(env, "roll", std::nullopt, false, {}));
    sheet->add(new Legend(env, "tempo", QStringLiteral("range"), 7.5));
    sheet->add(new Legend(env, "filter", std::nullopt, 9, Qt::AlignLeft));
    sheet->caption("LED ladders at silence, -30 dB, -6 dB, full; segment selector");
    for (double level : {0.0, 0.0316, 0.5, 1.0})
        sheet->add(new LEDLadder(env, [level] { return level; }, 16, 8, 100));
    static int selection = 1;
    sheet->add(new SegmentSelector(env, {"hot cue", "loop", "roll", "sampler"},
                                   Binding<int>{[] { return selection; }, [](int i) { selection = i; }}, 48));
    return sheet;
}

std::unique_ptr<QWidget> stage(const UiEnv& env)
{
    auto sheet = std::make_unique<Sheet>(env, QSizeF(640, 420), Stage::inkRaised());
    auto& v = sheet->values();
    const Range unit{0, 1};
    sheet->caption("live knobs: lo, 0.7, bipolar centre, bipolar right, labelled");
    sheet->add(new LiveKnob(env, v.bind("a", 0), unit, false, std::nullopt, 34, 0, Stage::rbBlue()));
    sheet->add(new LiveKnob(env, v.bind("b", 0.7), unit, false, std::nullopt, 34, 0, Stage::rbAmber()));
    sheet->add(new LiveKnob(env, v.bind("c", 0.5), unit, true, std::nullopt, 34, 0.5, Stage::signal()));
    sheet->add(new LiveKnob(env, v.bind("d", 0.8), unit, true, std::nullopt, 34, 0.5, Stage::rbGreen()));
    sheet->add(new LiveKnob(env, v.bind("e", 0.3), unit, false, QStringLiteral("high"), 40, 0, Stage::rbRed()));
    sheet->caption("live faders: vertical, inverted, horizontal; meters at silence, -12 dB, full");
    sheet->add(new LiveFader(env, v.bind("f", 0.75), unit, 120, true, false, 0));
    sheet->add(new LiveFader(env, v.bind("g", 0.75), unit, 120, true, true, 0));
    sheet->add(new LiveFader(env, v.bind("h", 0.3), unit, 160, false, false, 0.5));
    for (double level : {0.0, 0.25, 1.0})
        sheet->add(new SegmentMeter(env, [level] { return level; }, 14, 10));
    sheet->caption("live keys: off, lit; stage labels");
    sheet->add(new LiveKey(env, "SYNC", false, Stage::rbBlue(), 56, 22, {}));
    sheet->add(new LiveKey(env, "CUE", true, Stage::rbAmber(), 56, 22, {}));
    sheet->add(new LiveKey(env, "PLAY", true, Stage::rbGreen(), 56, 22, {}));
    sheet->add(new StageLabel(env, "deck 1 · master", 9, Stage::bone()));
    sheet->add(new StageLabel(env, "signal", 7, Stage::signal()));
    return sheet;
}

std::unique_ptr<QWidget> displays(const UiEnv& env)
{
    auto sheet = std::make_unique<Sheet>(env, QSizeF(790, 470), Palette::panel());
    sheet->caption("dot matrix: plain, dim, aberration, marquee, empty");
    sheet->add(new DotMatrixText(env, DotMatrix::Look{"Fork ♭ → 128.0", 2, std::nullopt, Palette::glow(), false, false, {}}));
    sheet->add(new DotMatrixText(env, DotMatrix::Look{"dim", 2, 5, Palette::glow(), true, false, {}}));
    sheet->add(new DotMatrixText(env, DotMatrix::Look{"ÉLAN ♯2", 3, std::nullopt, Palette::cyan(), false, true, {}}));
    sheet->add(new DotMatrixText(env, DotMatrix::Look{"MARQUEE TEXT", 2, 6, Palette::ember(), false, false, 3.0}));
    sheet->add(new DotMatrixText(env, DotMatrix::Look{"", 2, std::nullopt, Palette::glow(), false, false, {}}));
    sheet->caption("seven segment: time, tempo, letters, aberration");
    sheet->add(new SevenSegmentText(env, SevenSegment::Look{"12:34", 40, Palette::ember(), false}));
    sheet->add(new SevenSegmentText(env, SevenSegment::Look{"128.00", 30, Palette::glow(), false}));
    sheet->add(new SevenSegmentText(env, SevenSegment::Look{"bdront-", 24, Palette::cyan(), false}));
    sheet->add(new SevenSegmentText(env, SevenSegment::Look{"-3.5", 40, Palette::red(), true}));
    sheet->caption("VFD glass with a read-out; VFD field editable, still with text, still with placeholder");
    auto* glass = new VFDGlass(env, QSizeF(220, 50), 6);
    glass->placeContent(new DotMatrixText(env, DotMatrix::Look{"READY", 3, 8, Palette::glow(), false, true, {}}),
                        QRectF(14, 14, 141, 21));
    sheet->add(glass);
    static QString typed = QStringLiteral("deep house");
    auto* editable = new VFDGlass(env, QSizeF(160, 24), 4);
    editable->placeContent(new VFDField(env, "prompt", Binding<QString>{[] { return typed; }, [](QString t) { typed = t; }},
                                        QSizeF(148, 18)),
                           QRectF(6, 3, 148, 18));
    sheet->add(editable);
    UiEnv snap = env;
    snap.snapshotMode = true;
    auto* stillText = new VFDGlass(env, QSizeF(160, 24), 4);
    stillText->placeContent(new VFDField(snap, "prompt", Binding<QString>{[] { return typed; }, [](QString) {}},
                                         QSizeF(148, 18)),
                            QRectF(6, 3, 148, 18));
    sheet->add(stillText);
    auto* stillEmpty = new VFDGlass(env, QSizeF(160, 24), 4);
    stillEmpty->placeContent(new VFDField(snap, "prompt", Binding<QString>{[] { return QString(); }, [](QString) {}},
                                          QSizeF(148, 18)),
                             QRectF(6, 3, 148, 18));
    sheet->add(stillEmpty);
    return sheet;
}

std::unique_ptr<QWidget> chrome(const UiEnv& env)
{
    auto sheet = std::make_unique<Sheet>(env, QSizeF(720, 420), Palette::void_());
    sheet->caption("faceplate between walnut cheeks (seeds 11 and 23), wordmark at rest and zapping");
    auto* plate = new DesignBox(env, QSizeF(452, 200));
    plate->place(new WalnutCheek(env, QSizeF(26, 200), 11), QRectF(0, 0, 26, 200));
    plate->place(new Faceplate(env, QSizeF(400, 200)), QRectF(26, 0, 400, 200));
    plate->place(new WalnutCheek(env, QSizeF(26, 200), 23), QRectF(426, 0, 26, 200));
    auto* mark = new Wordmark(env, 26);
    plate->place(mark, QRectF(QPointF(226 - mark->designSize().width() / 2, 20), mark->designSize()));
    auto* zap = still(env, WordmarkLook::size(26), [](Canvas& c, QSizeF s, double) {
        c.drawImage(QRectF(QPointF(0, 0), s), WordmarkLook::render(26, true, 2));
    });
    plate->place(zap, QRectF(QPointF(226 - zap->designSize().width() / 2, 70), zap->designSize()));
    for (int i = 0; i < 4; ++i)
        plate->place(new Screw(env, 9, 30.0 * i), QRectF(40 + i * 110, 170, 9, 9));
    plate->place(new SilkLabel(env, "deck 1", 9, withAlpha(Palette::bone(), 0.7), 1.1), QRectF(50, 130, 60, 14));
    sheet->add(plate);
    sheet->caption("screws at 0, 45 and 90 degrees; silk lettering");
    for (double angle : {0.0, 45.0, 90.0})
        sheet->add(new Screw(env, 16, angle));
    sheet->add(new SilkLabel(env, "headphone mix", 8, Palette::bone(), 1.1));
    return sheet;
}

// Fixed decks for the waveform sheet: a synthetic 120-bpm track with a loop,
// cues, a pending fork on deck 1 and a generated take on deck 2.
struct WaveStill {
    std::array<WaveDeck, 4> decks;
    PendingFork fork;
    WaveTiles tiles;
    LaneState lane;

    WaveStill()
    {
        auto w = std::make_shared<WaveformData>();
        const int n = 150 * 240;
        for (int i = 0; i < n; ++i) {
            w->low.push_back(std::uint8_t(128 + 120 * std::sin(i * 0.05) * std::sin(i * 0.008)));
            w->mid.push_back(std::uint8_t(90 + 80 * std::sin(i * 0.19)));
            w->high.push_back(std::uint8_t(60 + 50 * std::sin(i * 0.7)));
        }
        for (int i = 0; i < 4; ++i) {
            WaveDeck& d = decks[std::size_t(i)];
            d.index = i;
            d.isAI = i == 1;
            if (i == 3)
                continue;
            d.track = QUuid::createUuid();
            d.grid = BeatGrid(120, 0.25, 4);
            d.waveform = w;
            WaveDeck::Cells c;
            c.loaded = true;
            c.playing = true;
            c.position = 40.0 + 30 * i;
            c.duration = 240;
            c.cuePoint = c.position - 3;
            c.hotCues = {c.position - 2, c.position + 2.5, -1, -1, -1, -1, -1, -1};
            if (i == 0) {
                c.loopStart = 41;
                c.loopEnd = 43;
                c.loopActive = true;
            }
            d.voice = c;
        }
        decks[1].seam = 71;
        fork.plan = ForkPlan{44, 36, 8, 20};
        fork.source = decks[0].track;
    }
};

class WaveStillScene final : public WaveScene {
public:
    explicit WaveStillScene(std::shared_ptr<WaveStill> still) : s_(std::move(still)) {}
    WaveDeck deck(int index) const override { return s_->decks[std::size_t(index)]; }
    bool fourDecks() const override { return true; }
    double waveformZoom() const override { return 1; }
    void setWaveformZoom(double) override {}
    bool anyDeckPlaying() const override { return false; }
    bool isAudible(int deck) const override { return deck == 0; }
    std::array<bool, 3> partsOff(int) const override { return {false, false, false}; }
    int masterDeck() const override { return 0; }
    std::optional<PendingFork> pending() const override { return s_->fork; }
    bool extensionWaiting() const override { return false; }
    bool seek(int, double) override { return false; }
    void observe(QObject*, std::function<void()>) override {}

private:
    std::shared_ptr<WaveStill> s_;
};

std::unique_ptr<QWidget> waves(const UiEnv& env)
{
    auto sheet = std::make_unique<Sheet>(env, QSizeF(1000, 560), Palette::void_());
    auto still_ = std::make_shared<WaveStill>();
    auto scene = std::make_shared<WaveStillScene>(still_);
    sheet->caption("stage lane: deck 1 playing, loop, cue, hot cues, pending fork");
    sheet->add(still(env, QSizeF(960, 120), [still_](Canvas& c, QSizeF s, double) {
        LaneFrame f;
        f.rect = QRectF(QPointF(0, 0), s);
        f.audible = true;
        f.scale = 2;
        f.fork = WaveLaneMath::forkOnLane(still_->fork, still_->decks[0], true);
        drawLane(c, still_->tiles, still_->lane, still_->decks[0], f);
        drawPlayhead(c, f.rect, false);
    }));
    sheet->caption("stacked lanes: four decks, a take's seam on deck 2, an empty deck 4");
    sheet->add(still(env, QSizeF(960, 156), [scene](Canvas& c, QSizeF s, double) {
        c.fillRect(QRectF(QPointF(0, 0), s), Palette::glass());
        FaceWaves::drawStacked(c, *scene, s, 0);
    }));
    sheet->caption("overview of deck 1; phase meter of four decks");
    sheet->add(still(env, QSizeF(400, 22), [scene](Canvas& c, QSizeF s, double) {
        c.fillRect(QRectF(QPointF(0, 0), s), Palette::glass());
        FaceWaves::drawOverview(c, scene->deck(0), s, 0);
    }));
    sheet->add(still(env, QSizeF(106, 60), [scene](Canvas& c, QSizeF s, double) {
        c.fillRect(QRectF(QPointF(0, 0), s), Palette::glass());
        FaceWaves::drawPhaseMeter(c, *scene, s);
    }));
    return sheet;
}

} // namespace

QStringList gallerySheets() { return {"controls", "stage", "displays", "chrome", "waves"}; }

std::unique_ptr<QWidget> buildGallerySheet(const QString& name, const UiEnv& env)
{
    if (name == "controls")
        return controls(env);
    if (name == "stage")
        return stage(env);
    if (name == "displays")
        return displays(env);
    if (name == "chrome")
        return chrome(env);
    if (name == "waves")
        return waves(env);
    return nullptr;
}

QStringList writeGallery(const QString& folder, double scale)
{
    ManualScheduler scheduler;
    SystemDesktopServices desktop;
    DisplayClock display;
    UiRuntime runtime(scheduler, desktop, false, scale, &display);
    QDir().mkpath(folder);
    QStringList written;
    for (const QString& name : gallerySheets()) {
        auto sheet = buildGallerySheet(name, runtime.env());
        sheet->ensurePolished();
        const QPixmap shot = sheet->grab();
        const QString file = QDir(folder).filePath(QString::asprintf("%s@%gx.png", qPrintable(name), scale));
        if (shot.save(file))
            written << file;
    }
    return written;
}

} // namespace zelvo::kit
