#pragma once
// Readable test failures for decoded controller and player events.
#include "controllers/CDJEvent.h"
#include "controllers/DDJEvent.h"

#include <ostream>
#include <string>

namespace zelvo {
std::string describe(const DDJEvent& event);
std::string describe(const CDJEvent& event);
namespace DDJ {
inline void PrintTo(const DDJEvent& event, std::ostream* os)
{
    *os << describe(event);
}
} // namespace DDJ
namespace CDJ {
inline void PrintTo(const CDJEvent& event, std::ostream* os)
{
    *os << describe(event);
}
} // namespace CDJ
} // namespace zelvo
