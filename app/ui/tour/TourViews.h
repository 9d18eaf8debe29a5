#pragma once
// What the tour shows over the stage: the step card (kicker and counter,
// title, body, the controls to try, progress dots and the buttons) and the
// welcome hero with its animated fork picture.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/tour/TourCopy.h"
#include "state/TourModel.h"

#include <QWidget>
#include <cstdint>

namespace zelvo::tour {

// The card's fixed width and its content inset, in points.
inline constexpr int kCardWidth = 430;
inline constexpr int kCardInset = 22;

// Eight capsules, one per card; the current one wide, those up to it bright.
class TourDots final : public QWidget {
    Q_OBJECT
public:
    TourDots(int current, QWidget* parent = nullptr);
    int current() const { return current_; }
    QSize sizeHint() const override;
    // The capsules' rectangles, left to right.
    std::vector<QRectF> dots() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int current_;
};

class TourCard final : public QWidget {
    Q_OBJECT
public:
    // `live` (may be null): the step's live widget, shown under the body.
    TourCard(TourModel& tour, TourModel::Step step, const TourCopy& copy, const kit::UiEnv& env,
             QWidget* live = nullptr, QWidget* parent = nullptr);
    TourModel::Step step() const { return step_; }
    // The height the card needs at its fixed width.
    int measuredHeight() const;

signals:
    // The card took a new height (its live widget changed face).
    void measured();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    TourModel::Step step_;
};

// The hero's picture: a record scrolling in from the left and a ghosted take
// growing out of it along a dashed fork line; 30 frames a second while shown.
class ForkPicture final : public QWidget {
    Q_OBJECT
public:
    ForkPicture(const kit::UiEnv& env, QWidget* parent = nullptr);
    ~ForkPicture() override;
    QSize sizeHint() const override { return {760, 150}; }
    // Draws the picture at time `t` (seconds since 2001) into `size`.
    static void draw(QPainter& painter, QSizeF size, double t);
    double frameTime() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    kit::UiEnv env_;
    std::uint64_t tick_ = 0;
};

// The hero's "linked" lamp: a 7-point signal circle with a 4-point glow of
// its colour around it (the widget is the circle plus the glow's reach).
class TourLamp final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSize = 7;
    static constexpr int kGlow = 4;
    // How far past the circle the widget reaches: the glow's visible tail.
    static constexpr int kReach = 6;
    explicit TourLamp(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TourHero final : public QWidget {
    Q_OBJECT
public:
    // `controller`: the attached DDJ, none when none is.
    TourHero(TourModel& tour, std::optional<ControllerKind> controller, const kit::UiEnv& env,
             QWidget* parent = nullptr);
};

} // namespace zelvo::tour
