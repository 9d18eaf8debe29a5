#include "ui/stage/SettingsPopover.h"

#include "state/AppModel.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/KeyForm.h"
#include "ui/stage/PlayerList.h"
#include "ui/stage/SettingsStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace zelvo {

using stage::CaptionStyle;
using stage::PickerRow;

namespace {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, kit::Palette::edge());
    line->setPalette(palette);
    return line;
}

} // namespace

AudioSettings::AudioSettings(AppModel& app, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), app_(app), env_(env), unit_(std::make_unique<kit::FaceScaleSource>(1.0))
{
    setObjectName(QStringLiteral("settings"));
    setFixedWidth(kWidth);
    const kit::UiEnv unitEnv = env_.withScale(unit_.get());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    const auto title = [&](const QString& text) {
        column->addWidget(new kit::SilkLabel(unitEnv, text, 9, kit::Palette::bone(), 2, this));
    };

    title(QStringLiteral("core audio"));
    output_ = picker(QStringLiteral("Output"), QStringLiteral("settings.output"), this, column);
    buffer_ = picker(QStringLiteral("Buffer"), QStringLiteral("settings.buffer"), this, column);
    pairs_ = new QWidget(this);
    auto* pairColumn = new QVBoxLayout(pairs_);
    pairColumn->setContentsMargins(0, 0, 0, 0);
    pairColumn->setSpacing(12);
    master_ = picker(QStringLiteral("Master out"), QStringLiteral("settings.master"), pairs_, pairColumn);
    cue_ = picker(QStringLiteral("Headphone cue"), QStringLiteral("settings.cue"), pairs_, pairColumn);
    cueNote_ = stage::captionLabel(stage::cueNoteText(), CaptionStyle::secondary, QStringLiteral("settings.cueNote"),
                                   pairs_);
    pairColumn->addWidget(cueNote_);
    column->addWidget(pairs_);

    column->addWidget(divider(this));
    title(QStringLiteral("kavri account"));
    column->addWidget(new KavriKeyForm(app_, env_, this));

    column->addWidget(divider(this));
    title(QStringLiteral("screen"));
    classic_ = new QCheckBox(QStringLiteral("Classic faceplate (draws the controller instead of the stage)"), this);
    classic_->setObjectName(QStringLiteral("settings.classic"));
    column->addWidget(classic_);

    column->addWidget(divider(this));
    title(QStringLiteral("controller"));
    surface_ = picker(QStringLiteral("Faceplate"), QStringLiteral("settings.surface"), this, column);
    controllerLine_ =
        stage::captionLabel({}, CaptionStyle::secondary, QStringLiteral("settings.controllerLine"), this);
    column->addWidget(controllerLine_);
    players_ = new PlayerList(app_, this);
    column->addWidget(players_);

    column->addWidget(divider(this));
    title(QStringLiteral("zelvo-0"));
    QLabel* path = stage::monoLabel(stage::runtimePath(app_.brainPaths().home), 10, CaptionStyle::secondary,
                                    QStringLiteral("brain.path"), this);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setWordWrap(true);
    column->addWidget(path);
    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("brain.log"));
    log_->setReadOnly(true);
    log_->setFixedHeight(kLogHeight);
    log_->setFont(kit::monoFont(9.5));
    log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QPalette palette = log_->palette();
        palette.setColor(QPalette::Base, kit::Palette::glass());
        log_->setPalette(palette);
    }
    column->addWidget(log_);
    auto* keys = new QHBoxLayout;
    const auto key = [&](const QString& text, const QString& name, std::function<void()> act) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this, [act = std::move(act)] { act(); });
        keys->addWidget(button);
    };
    key(QStringLiteral("Restart zelvo-0"), QStringLiteral("brain.restart"), [this] {
        app_.brain().stop();
        app_.brain().start(AppModel::kWarmSeconds);
    });
    key(QStringLiteral("Install / repair"), QStringLiteral("brain.install"), [this] { app_.installBrain(); });
    key(QStringLiteral("Open log"), QStringLiteral("brain.openLog"), [this] {
        // The answer is ignored: a file that cannot be opened simply stays shut.
        if (env_.desktop)
            env_.desktop->openUrl(QUrl::fromLocalFile(app_.status().brainLogFile()));
    });
    keys->addStretch(1);
    column->addLayout(keys);

    // Only a user's choice writes the model; rebuilding the rows writes nothing.
    const auto write = [this](QComboBox* box, std::vector<PickerRow>* rows, auto apply) {
        connect(box, &QComboBox::activated, this, [rows, apply](int index) {
            if (index >= 0 && std::size_t(index) < rows->size())
                apply((*rows)[std::size_t(index)]);
        });
    };
    AudioSystem& audio = app_.audio();
    write(output_, &outputRows_, [&audio](const PickerRow& row) { audio.setDeviceUID(row.uid); });
    write(buffer_, &bufferRows_, [&audio](const PickerRow& row) { audio.setBufferFrames(row.tag); });
    write(master_, &masterRows_, [&audio](const PickerRow& row) { audio.setMasterPair(row.tag); });
    write(cue_, &cueRows_, [&audio](const PickerRow& row) { audio.setCuePair(row.tag); });
    write(surface_, &surfaceRows_, [this](const PickerRow& row) {
        app_.status().setSurfaceChoice(StatusLink::SurfaceChoice(row.tag));
    });
    connect(classic_, &QCheckBox::clicked, this, [this](bool on) { app_.setClassicFaceplate(on); });

    for (auto signal : {&AudioSystem::devicesChanged, &AudioSystem::ioChanged, &AudioSystem::deviceUIDChanged,
                        &AudioSystem::bufferFramesChanged, &AudioSystem::masterPairChanged,
                        &AudioSystem::cuePairChanged})
        connect(&audio, signal, this, &AudioSettings::scheduleRefresh);
    connect(&app_, &AppModel::classicFaceplateChanged, this, &AudioSettings::scheduleRefresh);
    connect(&app_.status(), &StatusLink::controllerChanged, this, &AudioSettings::scheduleRefresh);
    connect(&app_.status(), &StatusLink::playersChanged, this, &AudioSettings::scheduleRefresh);
    connect(&app_.status(), &StatusLink::brainLogChanged, this, &AudioSettings::refreshLog);
    refresh();
    refreshLog();
    // The log opens at the top of its lines.
    log_->verticalScrollBar()->setValue(0);
}

AudioSettings::~AudioSettings() = default;

QComboBox* AudioSettings::picker(const QString& label, const QString& name, QWidget* parent, QVBoxLayout* column)
{
    auto* row = new QHBoxLayout;
    auto* text = new QLabel(label, parent);
    text->setObjectName(name + QStringLiteral("Label"));
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    row->addWidget(text);
    row->addWidget(box, 1);
    column->addLayout(row);
    return box;
}

void AudioSettings::fill(QComboBox* box, std::vector<PickerRow>& shown, std::vector<PickerRow> rows, int index)
{
    const QSignalBlocker block(box);
    if (rows != shown) {
        box->clear();
        for (const PickerRow& row : rows)
            box->addItem(row.text, row.uid.isEmpty() ? QVariant::fromValue(qint64(row.tag)) : QVariant(row.uid));
        shown = std::move(rows);
    }
    box->setCurrentIndex(index);
}

void AudioSettings::scheduleRefresh()
{
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pending_ = false;
            refresh();
        },
        Qt::QueuedConnection);
}

void AudioSettings::refresh()
{
    const AudioSystem& audio = app_.audio();
    const std::shared_ptr<AudioIO>& io = audio.io();
    std::vector<PickerRow> rows = stage::outputRows(audio.devices());
    const int outputIndex = stage::rowIndex(rows, audio.deviceUID());
    fill(output_, outputRows_, std::move(rows), outputIndex);
    rows = stage::bufferRows(io ? std::optional<double>(io->engine().sampleRate()) : std::nullopt);
    const int bufferIndex = stage::rowIndex(rows, audio.bufferFrames());
    fill(buffer_, bufferRows_, std::move(rows), bufferIndex);
    pairs_->setVisible(io != nullptr);
    if (io) {
        rows = stage::masterRows(io->device());
        const int masterIndex = stage::rowIndex(rows, audio.masterPair());
        fill(master_, masterRows_, std::move(rows), masterIndex);
        rows = stage::cueRows(io->device(), audio.masterPair());
        const int cueIndex = stage::rowIndex(rows, audio.cuePair());
        fill(cue_, cueRows_, std::move(rows), cueIndex);
        cueNote_->setVisible(stage::cueNeedsNote(io->device()));
    }
    {
        const QSignalBlocker block(classic_);
        classic_->setChecked(app_.classicFaceplate());
    }
    const StatusLink& link = app_.status();
    rows = stage::surfaceRows();
    const int surfaceIndex = stage::rowIndex(rows, std::int64_t(link.surfaceChoice()));
    fill(surface_, surfaceRows_, std::move(rows), surfaceIndex);
    const bool anyPlayer = !link.players().empty();
    controllerLine_->setText(stage::controllerLine(link.connected(), anyPlayer));
    players_->setVisible(anyPlayer);
    if (QWidget* top = window(); top != this && top->isVisible())
        top->adjustSize();
}

void AudioSettings::refreshLog()
{
    // New lines extend the text at the bottom; the reader's place stays.
    QScrollBar* bar = log_->verticalScrollBar();
    const int at = bar->value();
    const QString text = stage::logText(app_.status().brainLog());
    if (text == log_->toPlainText())
        return;
    log_->setPlainText(text);
    bar->setValue(std::min(at, bar->maximum()));
}

SettingsPopup::SettingsPopup(AppModel& app, kit::UiEnv env, QWidget* window)
    : QWidget(window, Qt::Popup | Qt::FramelessWindowHint), app_(app)
{
    setObjectName(QStringLiteral("settingsPopover"));
    // Qt replays the press that closes a popup; on the settings key that would open it again.
    setAttribute(Qt::WA_NoMouseReplay);
    setAttribute(Qt::WA_TranslucentBackground);
    // The popover's own dark look, whatever the application's palette.
    QPalette look = palette();
    look.setColor(QPalette::Window, kit::Palette::panel());
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        look.setColor(role, kit::Palette::paper());
    look.setColor(QPalette::Base, kit::Palette::inkDeep());
    look.setColor(QPalette::Button, kit::Palette::raised());
    look.setColor(QPalette::PlaceholderText, kit::Palette::ash());
    look.setColor(QPalette::Highlight, kit::Palette::ember());
    setPalette(look);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, kArrow, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    settings_ = new AudioSettings(app_, env, this);
    layout->addWidget(settings_);
}

void SettingsPopup::placeUnder(const QWidget* key)
{
    adjustSize();
    const QPoint tip = key->mapToGlobal(QPoint(key->width() / 2, key->height()));
    int x = tip.x() - width() / 2;
    if (const QScreen* screen = key->screen()) {
        const QRect area = screen->availableGeometry();
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width()));
    }
    arrowX_ = std::clamp(tip.x() - x, 14, std::max(14, width() - 14));
    move(x, tip.y());
    update();
}

void SettingsPopup::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, kArrow + 0.5, width() - 1.0, height() - kArrow - 1.0);
    QPainterPath shape;
    shape.addRoundedRect(body, 8, 8);
    QPainterPath arrow;
    arrow.moveTo(arrowX_ - kArrow, kArrow + 1);
    arrow.lineTo(arrowX_, 0.5);
    arrow.lineTo(arrowX_ + kArrow, kArrow + 1);
    arrow.closeSubpath();
    shape = shape.united(arrow);
    painter.fillPath(shape, kit::Palette::panel());
    painter.strokePath(shape, QPen(kit::Palette::edge(), 1));
}

void SettingsPopup::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    app_.setShowSettings(false);
}

void SettingsPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

SettingsAnchor::SettingsAnchor(AppModel& app, kit::UiEnv env, QWidget* key)
    : QObject(key), app_(app), env_(env), key_(key)
{
    connect(&app_, &AppModel::showSettingsChanged, this, &SettingsAnchor::follow);
}

void SettingsAnchor::follow()
{
    if (app_.showSettings()) {
        // Only the key on screen opens it: the stage and the faceplate both carry one.
        if (popup_ || !key_->isVisible() || env_.snapshotMode)
            return;
        popup_ = new SettingsPopup(app_, env_, key_->window());
        popup_->placeUnder(key_);
        popup_->show();
        return;
    }
    if (SettingsPopup* popup = popup_) {
        popup_ = nullptr;
        popup->hide();
        popup->deleteLater();
    }
}

} // namespace zelvo
