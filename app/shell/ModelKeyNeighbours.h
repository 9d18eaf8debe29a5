#pragma once
// The model key's link over the program's own supervisor, account, download
// and workflow, as the standard neighbours made them.
//
// Main thread only.
#include "state/ModelKeyLink.h"

#include <memory>

namespace zelvo {

class StandardNeighbours;

// `neighbours` must outlive the link; a neighbour not made yet reads as absent.
std::unique_ptr<ModelKeyLink> makeModelKeyLink(StandardNeighbours& neighbours);

} // namespace zelvo
