#pragma once
// Pure functions behind the stage's top bar, the controller badge, the model
// server's lamp and the settings popover: every text, colour and row they
// show follows from model values alone, so the widgets stay thin and the
// rules are tested without a window.
//
// Any thread (no state); the widgets call them on the main thread.
#include "state/StatusLink.h"
#include "audio/AudioDevice.h"
#include "controllers/ControllerKind.h"
#include "controllers/MIDIHub.h"
#include "generation/BrainStatus.h"
#include "generation/KavriAccount.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace zelvo::stage {

// --- Controller badge and model-server lamp.
struct BadgeFace {
    bool lit = false;
    QString text; // as given; the label shows it upper-cased
    QColor color;
    friend bool operator==(const BadgeFace&, const BadgeFace&) = default;
};
// Players first, then a connected controller, then the chosen layout.
BadgeFace badgeFace(const std::vector<MIDIHub::Player>& players, const std::optional<MIDIHub::Connection>& connected,
                    ControllerKind layout);
// Whether the lamp is lit at frame time `t` (seconds since 2001): steady when
// ready, blinking every third of a second while busy, else dark.
bool brainLampLit(BrainStatus::Kind status, double t);
// Whether the status is one the lamp blinks for.
bool brainLampBlinks(BrainStatus::Kind status);

// --- Status bar.
struct StatusItem {
    QString name; // "tempo", "device", "latency", "load"
    QString text;
    double size = 9;
    QColor color;
    friend bool operator==(const StatusItem&, const StatusItem&) = default;
};
// What the read-outs see of the running output; none without an engine.
struct OutputReading {
    double masterBpm = 0;
    QString deviceName;
    double latency = 0; // seconds
    double dspLoad = 0; // 0 … 1
};
std::vector<StatusItem> statusItems(const std::optional<OutputReading>& output);

struct UpdateNotice {
    QString label;
    QString help;
    friend bool operator==(const UpdateNotice&, const UpdateNotice&) = default;
};
// The vendor's web site the manual notice names.
QString vendorSite();
std::optional<UpdateNotice> updateNotice(const StatusLink::Update& update);

struct KeyFace {
    QString text;
    QColor color;
    friend bool operator==(const KeyFace&, const KeyFace&) = default;
};
KeyFace browseKeyFace(bool browseOpen);
KeyFace recordKeyFace(bool recording);

// --- Settings popover.
struct PickerRow {
    QString text;
    QString uid;       // output rows
    std::int64_t tag = 0; // buffer, pair and surface rows
    friend bool operator==(const PickerRow&, const PickerRow&) = default;
};
std::vector<PickerRow> outputRows(const std::vector<AudioDevice>& devices);
inline constexpr int kBufferSizes[] = {64, 128, 256, 512, 1024};
// `rate`: the running engine's sample rate, none without one (48,000 Hz).
std::vector<PickerRow> bufferRows(std::optional<double> rate);
QString pairText(int first);
std::vector<PickerRow> masterRows(const AudioDevice& device);
// "Off" (−1), then every pair but the master's.
std::vector<PickerRow> cueRows(const AudioDevice& device, std::int64_t masterPair);
// Whether the headphone-cue note shows for the running device.
bool cueNeedsNote(const AudioDevice& device);
QString cueNoteText();
std::vector<PickerRow> surfaceRows();
// The index of the row tagged `tag` (or with `uid`), −1 when none matches.
int rowIndex(const std::vector<PickerRow>& rows, std::int64_t tag);
int rowIndex(const std::vector<PickerRow>& rows, const QString& uid);
QString controllerLine(const std::optional<MIDIHub::Connection>& connected, bool anyPlayer);

// --- Key form.
struct KeyFormInputs {
    QString key;
    QString masked;
    KavriAccount::Check check;
    BrainStatus::Kind status = BrainStatus::Kind::checking;
    double fraction = 0;
    std::optional<QString> shortfall;
    QString downloadDetail;
    QString draft;
};
struct KeyFormFace {
    enum class Style { primary, secondary, busy, error };
    enum class Install { none, progress, key };
    QString placeholder;
    bool saveEnabled = false;
    bool forget = false;
    QString checkText;
    Style checkStyle = Style::secondary;
    Install install = Install::none;
    double fraction = 0;   // progress, 0 … 1
    QString progressText;  // progress
    QString shortfall;     // key: shown in red when not empty
};
KeyFormFace keyFormFace(const KeyFormInputs& in);
QString keyExplanation();

// --- Model server section.
inline constexpr int kLogLines = 60;
// The last 60 lines (all when fewer), joined with newlines.
QString logText(const QStringList& log);
QString runtimePath(const QString& home);

// --- Player list.
struct PlayerRow {
    QString player;
    QString deck;
    QString route; // empty: no route shown
    friend bool operator==(const PlayerRow&, const PlayerRow&) = default;
};
QString portText(std::int64_t port);
std::vector<PlayerRow> playerRows(const std::vector<MIDIHub::Player>& players,
                                  const std::map<std::int64_t, int>& playerDecks,
                                  const std::map<int, QString>& routes);
bool swapKeyShown(std::size_t players);
QString routingNote(bool directOuts);

} // namespace zelvo::stage
