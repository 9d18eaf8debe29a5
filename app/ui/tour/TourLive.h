#pragma once
// What the tour's live widgets show, as pure functions of what they read: the
// key entry's face, the model download bar's face, the controller check's
// line and the closing checklist.
//
// QtCore only. Any thread (pure functions).
#include "controllers/ControllerKind.h"
#include "controllers/PlayerModel.h"
#include "generation/BrainStatus.h"
#include "generation/KavriAccount.h"

#include <QString>
#include <optional>
#include <vector>

namespace zelvo::tour {

// --- Key entry

struct KeyFace {
    bool confirmed = false;     // "your key works", the masked key and the download bar
    QString placeholder;        // the empty field's text
    enum class Status { prompt, checking, refused } status = Status::prompt;
    QString statusText;         // what the status row says (refusals as worded)
};
KeyFace keyFace(const KavriAccount::Check& check, const QString& storedKey, const QString& masked,
                const QString& host);

// --- Download bar

struct DownloadFace {
    enum class Kind { downloading, installed, failed, waiting } kind = Kind::waiting;
    QString percent;            // "42%" once bytes are on disk while downloading, else empty
    QString detail;             // the installation's progress line (downloading)
    QString message;            // in ghost red: the failure, or the free-space warning
    bool retry = false;         // "try again" is offered
};
// `shortfall`: the last space check's warning, none when there was room.
DownloadFace downloadFace(const BrainStatus& status, double fraction, bool started,
                          const std::optional<QString>& shortfall, const QString& detail);
// The filled part of a bar `available` points wide: never under 6 points.
double downloadFill(double available, double fraction);

// --- Controller check

struct ControllerLine {
    bool attached = false;      // the dot is lit
    bool echo = false;          // the echo card shows
    QString text;               // the line, or the echo's label when `echo`
    QString value;              // the echo's value
};
struct EchoReading {
    std::optional<int> deck;
    QString title;
    QString value;
    double stamp = 0;           // uptime seconds when the control moved
};
// An echo is live while younger than this.
inline constexpr double kEchoLife = 5.0;
ControllerLine controllerLine(std::optional<ControllerKind> connected, int players,
                              std::optional<PlayerModel> firstPlayer, const std::optional<EchoReading>& echo,
                              double uptime);

// --- Checklist

struct ChecklistRow {
    std::optional<bool> done;   // true: ticked; false: open; none: under way
    QString text;
};
std::vector<ChecklistRow> checklist(bool keyWorks, const BrainStatus& status, const QString& detail,
                                    std::optional<ControllerKind> connected);
// The three first moves, in order.
const std::vector<QString>& firstMoves();

} // namespace zelvo::tour
