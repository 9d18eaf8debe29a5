#pragma once
// What a tour card says: its kicker, title, body and the controls to try. The
// words follow what is plugged in (a DDJ-FLX4, a DDJ-FLX10, CDJ players,
// nothing) and carry the size of the model download, so a card asks for a
// fresh copy each time it redraws.
//
// QtCore only. Any thread (a pure function of its inputs).
#include "controllers/ControllerKind.h"
#include "state/TourModel.h"

#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace zelvo {

struct TourCopy {
    // What the words depend on.
    struct Inputs {
        std::optional<ControllerKind> controller; // the attached DDJ, none when none is
        bool players = false;                     // at least one CDJ in software control
        QString brainSize;                        // the model download's size, as the key step says it
    };

    QString kicker;
    QString title;
    QString body;
    // Key cap, then what it does; in the order the card lists them.
    std::vector<std::pair<QString, QString>> hands;

    static TourCopy make(TourModel::Step step, const Inputs& in);
    // The counter and the dots count the nine steps from the first card: 1 of 8
    // on "key" to 8 of 8 on "go".
    static constexpr int kCards = 8;
};

} // namespace zelvo
