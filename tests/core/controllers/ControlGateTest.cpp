#include "controllers/ControlGate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zelvo {
namespace {

// A gate fed a timeline of (time, value, passes?) readings.
struct Reading {
    double at;
    double value;
    bool passes;
};

void play(const char* name, const std::vector<Reading>& timeline)
{
    ControlGate gate;
    for (std::size_t i = 0; i < timeline.size(); ++i) {
        const auto& r = timeline[i];
        EXPECT_EQ(gate.pass(r.value, r.at), r.passes) << name << ": reading " << i << " (" << r.value << " at "
                                                      << r.at << ")";
    }
}

TEST(ControlGate, Timelines)
{
    play("first reading mid-travel is held, at an end it passes",
         {{0.0, 0.5, false}, {0.1, 0.5, false}, {0.2, 0.51, false}});
    play("first reading at the top", {{0.0, 1.0, true}});
    play("first reading at the bottom", {{0.0, 0.0005, true}});
    play("grab, then the window",
         {{0.0, 0.5, false},
          {1.0, 0.51, false},   // jitter
          {1.1, 0.53, true},    // 0.03 from the anchor: grabbed
          {1.2, 0.531, true},   // moving: passes, anchor stays at 0.53
          {1.3, 0.54, true},    // 0.01 from the anchor: renews the window
          {1.64, 0.541, true},  // 0.34 s after the renewal: still moving
          {1.70, 0.535, false}, // 0.4 s after: at rest again, 0.005 away
          {2.0, 0.56, true}});  // 0.02 away: grabbed again
    play("the window is not renewed by small steps",
         {{0.0, 0.5, false}, {1.0, 0.6, true}, {1.2, 0.605, true}, {1.34, 0.601, true}, {1.36, 0.604, false}});
    play("a move onto an end always passes, once",
         {{0.0, 0.5, false}, {1.0, 0.99, true}, {1.5, 0.999, true}, {2.0, 0.999, false}, {3.0, 1.0, true},
          {4.0, 1.0, false}, {5.0, 0.0, true}, {6.0, 0.0, false}});
    play("at rest with the anchor at 0.99", {{0.0, 0.99, false}, {1.0, 0.999, true}, {1.35, 0.999, false}});
    play("anchor at an end, same reading", {{0.0, 1.0, true}, {1.0, 1.0, false}, {2.0, 0.995, false}});
    play("a non-finite reading never passes nor anchors",
         {{0.0, std::nan(""), false}, {0.1, 0.5, false}, {0.2, 0.53, true}, {0.3, INFINITY, false},
          {0.4, 0.531, true}});
}

} // namespace
} // namespace zelvo
