#pragma once
// The stage's panels, each in its own file.
#include "ui/stage/DJMCard.h"
#include "ui/stage/DeckPanel.h"
#include "ui/stage/LiveMixer.h"
#include "ui/stage/MachineStrip.h"
#include "ui/stage/StageBrowser.h"
#include "ui/stage/StatusBar.h"
