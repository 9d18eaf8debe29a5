#pragma once
// The faceplate's chrome: the brushed plate, the walnut cheeks and the
// wordmark whose colour fringe zaps every few seconds while a window is seen.
// Main thread.
#include "ui/kit/FaceWidget.h"

#include <cstdint>

namespace zelvo::kit {

class Faceplate : public FaceWidget {
    Q_OBJECT
public:
    Faceplate(const UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    void paintFace(Canvas& canvas) override;

private:
    QSizeF size_;
};

class WalnutCheek : public FaceWidget {
    Q_OBJECT
public:
    WalnutCheek(const UiEnv& env, QSizeF designSize, std::uint64_t seed, QWidget* parent = nullptr);
    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    void paintFace(Canvas& canvas) override;

private:
    QSizeF size_;
    std::uint64_t seed_;
};

namespace WordmarkLook {
inline const char* text() { return "kavri zelvo"; }
// Fringe offset: 0.9 % of the font size at rest, 2.4 % during a zap.
inline double offset(double size, bool zapping) { return (zapping ? 0.024 : 0.009) * size; }
constexpr double zapEvery = 5.0;
constexpr double zapLength = 0.15;
QSizeF size(double fontSize);
// The three copies composed in their own transparent image (screen blending
// acts only among them), at `deviceScale` pixels per point.
QImage render(double fontSize, bool zapping, double deviceScale);
} // namespace WordmarkLook

class Wordmark : public FaceWidget {
    Q_OBJECT
public:
    Wordmark(const UiEnv& env, double size, QWidget* parent = nullptr);
    ~Wordmark() override;
    QSizeF designSize() const override { return WordmarkLook::size(size_); }
    void paintFace(Canvas& canvas) override;
    bool zapping() const { return zapping_; }
    // Zaps started so far (tests).
    int zaps() const { return zaps_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void wait();
    void stopTimer();
    double size_;
    bool zapping_ = false;
    int zaps_ = 0;
    std::uint64_t timer_ = 0;
};

} // namespace zelvo::kit
