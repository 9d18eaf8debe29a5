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

namespace zelvo::test {

inline FaceLayout::Rows laidOutRows(bool fourDecks)
{
    AppRig app;
    app.make();
    kit::test::KitRig kit(1.0);
    stage::StageSides sides;
    sides.setFourDecks(fourDecks);
    Instrument face(*app.app, kit.env(), nullptr, &sides);
    face.resize(1600, 1080);
    face.show();
    QApplication::processEvents();
    return face.rows();
}

} // namespace zelvo::test
