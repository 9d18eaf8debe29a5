#include "state/KeyboardMap.h"

#include "state/AppModel.h"
#include "audio/DeckCommand.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>
#include <optional>

namespace zelvo {
namespace {

int codeOf(int key)
{
    switch (key) {
    case Qt::Key_Return: return KeyStroke::kReturn;
    case Qt::Key_Space: return KeyStroke::kSpace;
    case Qt::Key_Enter: return KeyStroke::kEnter;
    case Qt::Key_Escape: return KeyStroke::kEscape;
    case Qt::Key_Left: return KeyStroke::kLeft;
    case Qt::Key_Right: return KeyStroke::kRight;
    default: return KeyStroke::kOther;
    }
}

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_unknown:
    case 0:
        return true;
    default:
        return false;
    }
}

// Editing text: the focus is a writable line, text, spin or editable combo box.
bool editingText()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return false;
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        return !line->isReadOnly();
    if (auto* text = qobject_cast<QTextEdit*>(focus))
        return !text->isReadOnly();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        return !plain->isReadOnly();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus))
        return !spin->isReadOnly();
    if (auto* combo = qobject_cast<QComboBox*>(focus))
        return combo->isEditable();
    return false;
}

// A popup has the keyboard: an open menu (menu bar, context menu), a combo
// box's list or another popup window, or a widget that grabbed the keyboard.
// Qt hands such a popup the keys that reach the window below it; the popup
// tracks them itself, as a modal dialog does.
bool popupHasKeys()
{
    return QApplication::activePopupWidget() || QWidget::keyboardGrabber();
}

// The deck and hot-cue slot of a hot-cue key.
struct HotCueKey {
    int deck;
    int slot;
};

std::optional<HotCueKey> hotCueKey(QChar c)
{
    static const QString deck1 = QStringLiteral("1234qwer");
    static const QString deck2 = QStringLiteral("7890uiop");
    if (const qsizetype i = deck1.indexOf(c); i >= 0)
        return HotCueKey{0, int(i)};
    if (const qsizetype i = deck2.indexOf(c); i >= 0)
        return HotCueKey{1, int(i)};
    return std::nullopt;
}

void sendTo(DeckModel& deck, const DeckCommand& command)
{
    if (const std::shared_ptr<DeckVoice> voice = deck.voice())
        voice->send(command);
}

} // namespace

KeyStroke KeyStroke::from(const QKeyEvent& event)
{
    KeyStroke key;
    key.down = event.type() == QEvent::KeyPress;
    key.repeat = event.isAutoRepeat();
    key.code = codeOf(event.key());
    key.shift = event.modifiers().testFlag(Qt::ShiftModifier);
    key.command = event.modifiers().testFlag(Qt::ControlModifier);
    if (event.key() == Qt::Key_Backtab)
        key.characters = QString(QChar(0x19)); // its own back-tab character, never Tab
    else if (!event.text().isEmpty())
        key.characters = event.text();
    else if (!isModifierKey(event.key()))
        key.characters = QString(QChar(0xF700 + (event.key() & 0xFF))); // private use: a key that types nothing
    return key;
}

KeyboardFilter::KeyboardFilter(AppModel& app, QObject* parent) : QObject(parent), app_(&app) {}

bool KeyboardFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    // Qt hands one key event to the window and then up the widget chain; act
    // once, on the window's delivery.
    if (!watched->isWindowType())
        return false;
    AppModel* app = app_.data();
    if (!app)
        return false;
    if (QApplication::activeModalWidget() || popupHasKeys() || editingText())
        return false;
    const KeyStroke key = KeyStroke::from(*static_cast<QKeyEvent*>(event));
    return app->tour().showing() ? app->tourKey(key) : app->handleKey(key);
}

void AppModel::installKeyboard()
{
    // Keys come only to a widget application.
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (keyMonitor_ || !application)
        return;
    auto* filter = new KeyboardFilter(*this, application);
    application->installEventFilter(filter);
    keyMonitor_ = filter;
}

bool AppModel::tourKey(const KeyStroke& key)
{
    if (key.command)
        return false;
    if (!key.down || key.repeat)
        return true;
    switch (key.code) {
    case KeyStroke::kReturn:
    case KeyStroke::kSpace:
    case KeyStroke::kEnter:
    case KeyStroke::kRight:
        tour_->next();
        break;
    case KeyStroke::kEscape:
        tour_->finish();
        break;
    case KeyStroke::kLeft:
        tour_->back();
        break;
    default:
        break;
    }
    return true;
}

bool AppModel::handleKey(const KeyStroke& key)
{
    if (key.command)
        return false;
    // Holding a key acts once; X11's repeated releases go with the repeats.
    if (key.repeat)
        return true;
    const QString character = key.character();
    if (character.isEmpty())
        return false;
    const QChar c = character.front();
    const bool down = key.down;
    DeckModel& deck1 = deck(0);
    DeckModel& deck2 = deck(1);

    if (const std::optional<HotCueKey> hot = hotCueKey(c)) {
        sendTo(deck(hot->deck), DeckCommand::hotCue(hot->slot, down));
        return true;
    }
    // Keys acting on both edges.
    switch (c.unicode()) {
    case 'z':
        deck1.cue(down);
        return true;
    case 'n':
        deck2.cue(down);
        return true;
    default:
        break;
    }
    static const QString downKeys = QStringLiteral("xasdfcmjkl;bvghty[],./=+\t");
    if (!downKeys.contains(c)) {
        if (!down)
            return false;
        switch (key.code) {
        case KeyStroke::kReturn:
            if (selectedTrack_)
                performance_->load(*selectedTrack_, key.shift ? 1 : 0);
            return true;
        case KeyStroke::kRight:
            mixer_->setCrossfader(std::min(mixer_->crossfader() + 0.1, 1.0));
            return true;
        case KeyStroke::kLeft:
            mixer_->setCrossfader(std::max(mixer_->crossfader() - 0.1, -1.0));
            return true;
        default:
            return false;
        }
    }
    if (!down)
        return true;
    switch (c.unicode()) {
    case 'x': deck1.playPause(); break;
    case 'a': deck1.beatJump(-1.0); break;
    case 's': deck1.beatJump(1.0); break;
    case 'd': deck1.autoLoop(); break;
    case 'f': sendTo(deck1, DeckCommand::reloopExit()); break;
    case 'c': mixer_->channel(0).setSync(!mixer_->channel(0).sync()); break;
    case 'm': deck2.playPause(); break;
    case 'j': deck2.beatJump(-1.0); break;
    case 'k': deck2.beatJump(1.0); break;
    case 'l': deck2.autoLoop(); break;
    case ';': sendTo(deck2, DeckCommand::reloopExit()); break;
    case 'b': mixer_->channel(1).setSync(!mixer_->channel(1).sync()); break;
    case 'v': performance_->keySync(key.shift ? 0 : 1); break;
    case 'g': outpaint_->fork(true); break;
    case 'h': outpaint_->drop(); break;
    case 't': outpaint_->extend(false); break;
    case 'y': performance_->reroll(); break;
    case '[': performance_->stepTake(-1); break;
    case ']': performance_->stepTake(1); break;
    case ',': transition_->mix(0); break;
    case '.': transition_->mix(1); break;
    case '/': performance_->loadNext(); break;
    case '=':
    case '+':
        if (selectedTrack_)
            performance_->enqueue(*selectedTrack_);
        break;
    case '\t': setBrowseOpen(!browseOpen_); break;
    default: break;
    }
    return true;
}

void AppModel::setPerformanceLink(std::unique_ptr<PerformanceLink> link)
{
    performance_ = link ? std::move(link) : std::make_unique<ShellPerformance>();
}

PerformanceLink& AppModel::performance() const
{
    return *performance_;
}

} // namespace zelvo
