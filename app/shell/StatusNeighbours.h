#pragma once
// The status link over the program's own controller model, account, model
// download, supervisor and updater, as the standard neighbours made them.
//
// Main thread only.
#include "state/StatusLink.h"

#include <memory>

namespace zelvo {

class StandardNeighbours;

// `neighbours` must outlive the link; a neighbour not made yet reads as absent.
std::unique_ptr<StatusLink> makeStatusLink(StandardNeighbours& neighbours);

} // namespace zelvo
