#pragma once
// The stage's panels that later work fills in: each has its final constructor
// and, for now, draws a titled empty card of the stage look at the size the
// layout gives it.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

namespace zelvo {

class AppModel;
class DeckModel;

namespace stage {

// A titled card of the stage look.
class StageCard : public QWidget {
    Q_OBJECT
public:
    StageCard(const QString& title, const QString& name, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
};

} // namespace stage

class StatusBar final : public stage::StageCard {
    Q_OBJECT
public:
    StatusBar(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

class DeckPanel final : public stage::StageCard {
    Q_OBJECT
public:
    DeckPanel(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr);
    DeckModel& deck() const { return deck_; }

private:
    DeckModel& deck_;
};

class LiveMixer final : public stage::StageCard {
    Q_OBJECT
public:
    LiveMixer(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

class DJMCard final : public stage::StageCard {
    Q_OBJECT
public:
    DJMCard(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

class MachineStrip final : public stage::StageCard {
    Q_OBJECT
public:
    MachineStrip(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
};

class StageBrowser final : public stage::StageCard {
    Q_OBJECT
public:
    StageBrowser(AppModel& model, kit::UiEnv env, bool expanded, QWidget* parent = nullptr);
    bool expanded() const { return expanded_; }
    void setExpanded(bool expanded);

private:
    bool expanded_;
};

} // namespace zelvo
