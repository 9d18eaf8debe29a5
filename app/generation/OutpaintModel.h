#pragma once
// The generation workflow: forks, extensions and drops of the model's takes on
// deck 2. This build renders nothing: the workflow stays idle, refuses every
// drop and its actions do nothing. Its settings are real: they are read from
// and written to the user defaults under "fork.settings".
//
// Main thread only.
#include "generation/ForkSettings.h"
#include "models/DropWorkflow.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace zelvo {

class UserDefaults;

class OutpaintModel final : public QObject, public DropWorkflow {
    Q_OBJECT
public:
    // Where a render stands.
    struct Phase {
        enum class Kind { rendering, failed, idle, capturing, composing };
        Kind kind = Kind::idle;
        QString text; // the stage for rendering, the message for failed
        std::int64_t step = 0;
        std::int64_t total = 0;
        friend bool operator==(const Phase&, const Phase&) = default;
    };

    // Reads the stored settings (the defaults when none decode). `defaults`
    // outlives the model. Main thread.
    explicit OutpaintModel(UserDefaults& defaults, QObject* parent = nullptr);

    const ForkSettings& settings() const { return settings_; }
    // Stores the settings under "fork.settings" on every assignment. Main thread.
    void setSettings(const ForkSettings& settings);

    const Phase& phase() const { return phase_; }
    const std::optional<QString>& notice() const { return notice_; }
    const QDateTime& noticeUntil() const { return noticeUntil_; }
    // Notify only on a change. Main thread.
    void setNotice(const std::optional<QString>& notice);
    void setNoticeUntil(const QDateTime& until);
    bool pendingIsExtension() const { return false; }
    std::int64_t stretchesWritten() const { return 0; }

    DropStatus dropStatus() const override { return DropStatus::refused({}); }
    void drop() override {}
    void dropMix() {}
    void fork(bool live) { (void)live; }
    void extend(bool automatic) { (void)automatic; }
    void reroll() {}
    void stepTake(int direction) { (void)direction; }
    void cancel() {}
    // The workflow's share of the application tick. Main thread.
    void tick() {}

signals:
    void settingsChanged();
    void phaseChanged();
    void noticeChanged();
    void noticeUntilChanged();

private:
    UserDefaults& defaults_;
    ForkSettings settings_;
    Phase phase_;
    std::optional<QString> notice_;
    QDateTime noticeUntil_;
};

} // namespace zelvo
