#include "generation/ForkPlan.h"

#include "generation/ForkPlanner.h"

#include <cmath>

namespace zelvo {

long long ForkPlan::contextLatents() const
{
    return std::llround(contextSeconds / ForkPlanner::latentSeconds);
}

} // namespace zelvo
