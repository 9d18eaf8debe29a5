#pragma once
// A labelled panel holding a faceplate module's place until the module is
// built: the module's name and one line of detail on a plain panel of the
// module's size. Main thread only.
#include "ui/kit/FaceWidget.h"

namespace zelvo {

class ModulePlaceholder : public kit::FaceWidget {
    Q_OBJECT
public:
    ModulePlaceholder(const kit::UiEnv& env, const QString& name, QSizeF designSize, QWidget* parent = nullptr);

    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    QString name() const { return name_; }
    QString detail() const { return detail_; }
    void setDetail(const QString& detail);
    void paintFace(kit::Canvas& canvas) override;

private:
    QString name_;
    QString detail_;
    QSizeF size_;
};

} // namespace zelvo
