#pragma once
// Feeds what the stage reads of the controller (StageSides) from the
// controller model's change signals: four decks under the FLX10 layout, the
// decks under either half, digging, touch stamps and the echo card.
//
// Main thread only.

namespace zelvo {

class ControllerModel;

namespace stage {

class StageSides;

// Copies the controller's state now and follows its changes for as long as
// both live (the connections go with either object).
void followController(StageSides& sides, ControllerModel& controller);

} // namespace stage
} // namespace zelvo
