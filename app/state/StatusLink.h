#pragma once
// What the status bar, the faceplate's header and the settings popover read
// of the neighbours beyond the state root's own links: the controllers and
// players, the CDN account, the model download, the model server's log and
// the updater, with a change signal per group. The program builds it over the
// real classes (StatusNeighbours); tests hand in fakes. Without one the
// screens read no controller, no player, no key, no download, an empty log
// and no update.
//
// Main thread only.
#include "controllers/ControllerKind.h"
#include "controllers/ControllerModel.h"
#include "controllers/MIDIHub.h"
#include "generation/KavriAccount.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace zelvo {

class StatusLink : public QObject {
    Q_OBJECT
public:
    using SurfaceChoice = ControllerModel::SurfaceChoice;
    // What the updater offers: a checked update staged (ready), a newer
    // version to fetch by hand (manual), or nothing.
    struct Update {
        enum class Kind { ready, manual, idle };
        Kind kind = Kind::idle;
        QString version; // the version's description; empty when idle
        friend bool operator==(const Update&, const Update&) = default;
    };

    // --- The controllers and players.
    virtual std::optional<MIDIHub::Connection> connected() const { return std::nullopt; }
    virtual std::vector<MIDIHub::Player> players() const { return {}; }
    // The layout the screens draw (two decks for flx4, four for flx10).
    virtual ControllerKind layout() const { return ControllerKind::flx4; }
    virtual SurfaceChoice surfaceChoice() const { return SurfaceChoice::automatic; }
    virtual void setSurfaceChoice(SurfaceChoice choice) { (void)choice; }
    // The deck index (0-based) each player port plays; a port without a deck is absent.
    virtual std::map<std::int64_t, int> playerDecks() const { return {}; }
    virtual void swapPlayers() {}

    // --- The CDN account.
    virtual QString accountKey() const { return {}; }
    // The saved key for display (first 10 characters, "…", last 4 when long).
    virtual QString accountMasked() const { return {}; }
    virtual KavriAccount::Check accountCheck() const { return KavriAccount::Check::none(); }
    virtual void saveKey(const QString& text) { (void)text; }
    virtual void forgetKey() {}

    // --- The model download.
    virtual double downloadFraction() const { return 0.0; }
    virtual std::optional<QString> shortfall() const { return std::nullopt; }

    // --- The model server's supervisor, beyond `BrainLink`.
    // The last lines of its log, oldest first.
    virtual QStringList brainLog() const { return {}; }
    // The log file on disk.
    virtual QString brainLogFile() const { return {}; }

    // --- The updater.
    virtual Update update() const { return {}; }
    // Where the update image is fetched by hand.
    virtual QUrl updateDownload() const { return {}; }

    // --- The shell's quit path; the ready notice ends the program through it.
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }
    void quit() const
    {
        if (quit_)
            quit_();
    }

signals:
    void controllerChanged();
    void playersChanged();
    void accountChanged();
    void downloadChanged();
    void brainStatusChanged();
    void brainLogChanged();
    void updateChanged();

private:
    std::function<void()> quit_;
};

} // namespace zelvo
