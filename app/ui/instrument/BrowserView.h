#pragma once
// The crate browser of the faceplate's module row: source keys, the import key
// and the analysis line on the left; on the glass the search row with the
// track count, the sort bar and the track table. Files dropped on it are
// imported. It keeps no state of its own. Main thread only.
#include "ui/instrument/CratePresenters.h"
#include "ui/instrument/FaceModule.h"

#include <QList>
#include <QUrl>
#include <vector>

namespace zelvo {

class AppModel;
class OutpaintModel;
class TrackTable;

namespace kit {
class DotMatrixText;
class HardKey;
class SilkLabel;
class VFDField;
} // namespace kit

// The strip of sort keys with its read-out at the right end. Where the bar is
// too short for the keys' own widths the keys give first (`crate::fitSortBar`),
// laid out again whenever the bar's width changes.
class SortBar final : public kit::FaceWidget {
    Q_OBJECT
public:
    SortBar(AppModel& model, const kit::UiEnv& env, double width, QWidget* parent = nullptr);
    QSizeF designSize() const override { return QSizeF(width_, 22); }
    void setWidth(double width);
    void paintFace(kit::Canvas& canvas) override;
    void refresh() override;
    // The keys' widths and the spacing as laid out now.
    const crate::SortBarFit& fit() const { return fit_; }
    // What the right end shows: the silk caption, or the dot-matrix title in
    // `cells` cells, in `at` (bar points); an empty text shows nothing.
    struct Readout {
        QString text;
        bool title = false;
        bool dim = false;
        int cells = 0;
        QRectF at;
    };
    Readout readout() const;
    // Where the last key ends.
    double keysEnd() const { return keysEnd_; }

private:
    void fitKeys();

    AppModel& model_;
    double width_;
    std::vector<kit::HardKey*> keys_;
    std::vector<double> floors_;
    crate::SortBarFit fit_;
    double likeWidth_ = 0;
    double readoutWidth_ = 0; // the widest read-out: a full title or the longest caption
    double keysEnd_ = 0;
    double dividerX_ = 0;
};

class BrowserView final : public FaceModule {
    Q_OBJECT
public:
    BrowserView(AppModel& model, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);

    void setOutpaint(OutpaintModel* outpaint);
    TrackTable* table() const { return table_; }
    // Handles dropped locations as a drop on the module: taken when the
    // library returned a record for them.
    bool dropUrls(const QList<QUrl>& urls);
    // The analysis line's text; empty while hidden.
    QString analysisText() const;
    void paintFace(kit::Canvas& canvas) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scaleChanged() override;

private:
    void layoutParts();
    void refreshKeys();
    void refreshCounts();

    AppModel& model_;
    std::vector<std::pair<kit::HardKey*, int>> sourceKeys_;
    kit::HardKey* import_ = nullptr;
    kit::DotMatrixText* analysis_ = nullptr;
    kit::VFDField* search_ = nullptr;
    kit::DotMatrixText* count_ = nullptr;
    SortBar* sortBar_ = nullptr;
    TrackTable* table_ = nullptr;
    QRectF glass_;
};

} // namespace zelvo
