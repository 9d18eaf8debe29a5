#pragma once
// The stage's editor for what the model writes next: a row of prompt preset
// chips, the prompt field and four steppers (what the model hears, writes,
// how far ahead and how many steps). Every edit replaces the generation
// settings through the workflow's setter, which stores them; a change made
// elsewhere shows at once.
//
// Main thread only.
#include "generation/ForkSettings.h"
#include "ui/kit/FaceWidget.h"
#include "ui/stage/MachinePresenters.h"

#include <QWidget>

#include <functional>
#include <vector>

class QScrollArea;

namespace zelvo {

class AppModel;
class OutpaintModel;

namespace stage {

class StageField;

class PromptStrip final : public QWidget {
    Q_OBJECT
public:
    // Steps one setting through a fixed list of values on each tap.
    class Stepper final : public kit::FaceWidget {
    public:
        Stepper(kit::UiEnv env, const QString& title, kit::Binding<int> value, std::vector<int> options,
                const QString& unit, QWidget* parent = nullptr);
        QSizeF designSize() const override;
        void paintFace(kit::Canvas& canvas) override;
        void refresh() override;
        // The value shown.
        int shown() const { return shown_; }

    protected:
        void mousePressEvent(QMouseEvent* event) override;
        void mouseReleaseEvent(QMouseEvent* event) override;

    private:
        QString title_;
        kit::Binding<int> value_;
        std::vector<int> options_;
        QString unit_;
        int shown_ = 0;
        bool down_ = false;
    };

    // `outpaint` may be null: the state root's workflow link is edited then.
    PromptStrip(AppModel& model, OutpaintModel* outpaint, kit::UiEnv env, bool compact, QWidget* parent = nullptr);
    // Re-reads the settings into the chips, the field and the steppers.
    void refresh();
    QScrollArea* presets() const { return presets_; }
    StageField* field() const { return field_; }

private:
    ForkSettings settings() const;
    void setSettings(const ForkSettings& settings);

    AppModel& model_;
    OutpaintModel* outpaint_;
    kit::UiEnv env_;
    QScrollArea* presets_ = nullptr;
    std::vector<kit::FaceWidget*> chips_;
    StageField* field_ = nullptr;
    std::vector<Stepper*> steppers_;
};

} // namespace stage
} // namespace zelvo
