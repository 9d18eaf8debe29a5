#pragma once
// The base of the faceplate's modules: a drawn widget of the module's design
// size with its name and one line of detail. Its own paint is a plain panel
// with the name and the detail, which each module paints over with its plate.
// Main thread only.
#include "ui/kit/FaceWidget.h"

namespace zelvo {

class FaceModule : public kit::FaceWidget {
    Q_OBJECT
public:
    FaceModule(const kit::UiEnv& env, const QString& name, QSizeF designSize, QWidget* parent = nullptr);

    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    QString name() const { return name_; }
    QString detail() const { return detail_; }
    void setDetail(const QString& detail);
    void paintFace(kit::Canvas& canvas) override;

protected:
    // Called by setDesignSize on a change, before the widget takes the new
    // size: a module that fits its parts to its size does it here.
    virtual void designSizeChanged() {}

private:
    QString name_;
    QString detail_;
    QSizeF size_;
};

} // namespace zelvo
