#pragma once
// The live widgets inside the tour's cards: the key entry with the model
// download bar (key step), the controller check (controller step) and the
// checklist (go step). Each reads its sources through a function and redraws
// when told to, or on its own clock where it must.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/tour/TourLive.h"

#include <QPointer>
#include <QLineEdit>
#include <QWidget>
#include <cstdint>
#include <functional>

class QLabel;

namespace zelvo {
class KavriAccount;
}

namespace zelvo::tour {

class TourButton;

// `text` broken into at most `lines` lines of `width` in `font` (joined by
// line breaks), the last ending in "…" when cut.
QString elideLines(const QString& text, const QFont& font, double width, int lines);

struct DownloadInputs {
    BrainStatus status = BrainStatus::of(BrainStatus::Kind::checking);
    double fraction = 0;
    bool started = false;
    std::optional<QString> shortfall;
    QString detail;
};

class TourDownloadBar final : public QWidget {
    Q_OBJECT
public:
    TourDownloadBar(std::function<DownloadInputs()> read, std::function<void()> retry, kit::UiEnv env,
                    QWidget* parent = nullptr);
    ~TourDownloadBar() override;
    const DownloadFace& face() const { return face_; }
    // The filled share drawn now (it glides to the download's fraction).
    double shownFraction() const { return shown_; }
    void refresh();

private:
    void rebuild();
    std::function<DownloadInputs()> read_;
    std::function<void()> retry_;
    kit::UiEnv env_;
    DownloadFace face_;
    bool built_ = false;
    double shown_ = 0;
    double target_ = 0;
    double from_ = 0;
    double started_ = 0;
    std::uint64_t tick_ = 0;
    QWidget* body_ = nullptr;
};

// The key step's masked field, drawn by the tour rather than the style: a
// 36-point ink plate with 9-point rounded corners and a 1-point stroke inside
// its edge, in the line colour, or bone at 0.6 while the field has focus.
class TourKeyField final : public QLineEdit {
    Q_OBJECT
public:
    static constexpr int kHeight = 36;
    static constexpr double kRadius = 9;
    explicit TourKeyField(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TourKey final : public QWidget {
    Q_OBJECT
public:
    TourKey(KavriAccount& account, std::function<DownloadInputs()> download, std::function<void()> retry,
            kit::UiEnv env, QWidget* parent = nullptr);
    // Hands a typed key to the account, empties the field and lets go of focus.
    void save();
    void refresh();
    const KeyFace& face() const { return face_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    KavriAccount& account_;
    kit::UiEnv env_;
    KeyFace face_;
    QWidget* entry_ = nullptr;
    QLineEdit* field_ = nullptr;
    TourButton* saveButton_ = nullptr;
    QWidget* status_ = nullptr;
    QWidget* works_ = nullptr;
    std::function<DownloadInputs()> download_;
    std::function<void()> retry_;
};

class TourControllerLive final : public QWidget {
    Q_OBJECT
public:
    TourControllerLive(std::function<ControllerLine()> read, kit::UiEnv env, QWidget* parent = nullptr);
    ~TourControllerLive() override;
    const ControllerLine& line() const { return line_; }
    void refresh();
    QSize sizeHint() const override { return {386, 58}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::function<ControllerLine()> read_;
    kit::UiEnv env_;
    ControllerLine line_;
    std::uint64_t tick_ = 0;
};

class TourChecklist final : public QWidget {
    Q_OBJECT
public:
    TourChecklist(std::function<std::vector<ChecklistRow>()> read, QWidget* parent = nullptr);
    const std::vector<ChecklistRow>& rows() const { return rows_; }
    void refresh();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<std::vector<ChecklistRow>()> read_;
    std::vector<ChecklistRow> rows_;
};

} // namespace zelvo::tour
