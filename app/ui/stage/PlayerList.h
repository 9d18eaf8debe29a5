#pragma once
// The CDJ players in software control, inside the settings' controller
// section: the deck each plays and where its audio goes, the key that swaps
// decks 1 and 2 between them, and how the sound is routed.
//
// Main thread only.
#include <QWidget>

class QVBoxLayout;

namespace zelvo {

class AppModel;

class PlayerList final : public QWidget {
    Q_OBJECT
public:
    explicit PlayerList(AppModel& app, QWidget* parent = nullptr);

private:
    // One rebuild per event-loop turn, never inside a key's own click.
    void scheduleRebuild();
    void rebuild();

    AppModel& app_;
    QVBoxLayout* column_;
    bool pending_ = false;
};

} // namespace zelvo
