#pragma once
// Where the faceplate's rows stand, read from a faceplate laid out in this
// process at the 1600 × 1080 design size: the whole-program tests sample the
// program's stills there. Main thread; call after the program's run (the rig
// sets its own temporary home).
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/Instrument.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <memory>

namespace zelvo::test {

// A faceplate on the state root's stand-ins, shown at the design size and
// laid out by the event loop, as the program's live window is.
struct LaidOutFace {
    explicit LaidOutFace(bool fourDecks)
    {
        app.make();
        sides.setFourDecks(fourDecks);
        face = std::make_unique<Instrument>(*app.app, kit.env(), nullptr, &sides);
        face->resize(1600, 1080);
        face->show();
        QApplication::processEvents();
    }

    AppRig app;
    kit::test::KitRig kit{1.0};
    stage::StageSides sides;
    std::unique_ptr<Instrument> face;
};

inline FaceLayout::Rows laidOutRows(bool fourDecks)
{
    return LaidOutFace(fourDecks).face->rows();
}

} // namespace zelvo::test
