#pragma once
// Values the faceplate's views read while they draw: whether they are drawn for
// the headless faceplate snapshot, and the faceplate's drawing scale. Only the
// faceplate snapshot changes them, for the time of one render.
//
// Main thread only.
namespace zelvo {

struct FaceEnvironment {
    bool snapshotMode = false;
    double faceScale = 1.0;
};

// True only while the headless faceplate snapshot renders. Main thread.
bool snapshotMode();
// The faceplate's drawing scale, 1.0 outside the snapshot. Main thread.
double faceScale();

// Puts `values` in force until destroyed, then restores the previous ones.
class ScopedFaceEnvironment {
public:
    explicit ScopedFaceEnvironment(FaceEnvironment values);
    ~ScopedFaceEnvironment();
    ScopedFaceEnvironment(const ScopedFaceEnvironment&) = delete;
    ScopedFaceEnvironment& operator=(const ScopedFaceEnvironment&) = delete;

private:
    FaceEnvironment previous_;
};

} // namespace zelvo
