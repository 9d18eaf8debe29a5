#include "ui/kit/FaceEnvironment.h"

namespace zelvo {
namespace {

FaceEnvironment current;

} // namespace

bool snapshotMode()
{
    return current.snapshotMode;
}

double faceScale()
{
    return current.faceScale;
}

ScopedFaceEnvironment::ScopedFaceEnvironment(FaceEnvironment values) : previous_(current)
{
    current = values;
}

ScopedFaceEnvironment::~ScopedFaceEnvironment()
{
    current = previous_;
}

} // namespace zelvo
