#pragma once
// The computer keyboard: one application-wide filter of key presses and
// releases that lets text editing, modal dialogs, open popups (menus, context
// menus, combo lists, popup windows) and menu shortcuts (Ctrl) have their keys,
// hands the rest to the guided tour while a tour step shows and
// otherwise to the key map of the state root (AppModel::handleKey).
//
// Main thread only.
#include <QObject>
#include <QPointer>
#include <QString>

class QKeyEvent;

namespace zelvo {

class AppModel;

// What the map reads of one key event.
struct KeyStroke {
    // Key codes the map names: Return, Space, keypad Enter, Escape, Left, Right.
    static constexpr int kReturn = 36;
    static constexpr int kSpace = 49;
    static constexpr int kEnter = 76;
    static constexpr int kEscape = 53;
    static constexpr int kLeft = 123;
    static constexpr int kRight = 124;
    static constexpr int kOther = -1;

    bool down = true;
    bool repeat = false;
    int code = kOther;
    bool shift = false;
    bool command = false;
    // The characters of the key with Shift applied and no other modifier; keys
    // that type nothing (arrows, function keys) get a private character of
    // their own, modifier keys alone none.
    QString characters;

    // The key character: the first character, lower-cased; empty without one.
    QString character() const { return characters.isEmpty() ? QString() : characters.left(1).toLower(); }

    static KeyStroke from(const QKeyEvent& event);
};

// The installed filter. Holds the state root weakly; once it is gone every
// event passes on.
class KeyboardFilter final : public QObject {
    Q_OBJECT
public:
    KeyboardFilter(AppModel& app, QObject* parent);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<AppModel> app_;
};

} // namespace zelvo
