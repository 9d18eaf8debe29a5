#pragma once
// The tour's one button: primary (paper fill, ink text) or secondary (raised
// ink fill, bone text, a line border), 32 points high, 16 points either side
// of its label. The style can change while it shows.
//
// Main thread only.
#include <QAbstractButton>

namespace zelvo::tour {

class TourButton final : public QAbstractButton {
    Q_OBJECT
public:
    TourButton(const QString& title, bool primary, QWidget* parent = nullptr);
    bool primary() const { return primary_; }
    void setPrimary(bool primary);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool primary_;
};

} // namespace zelvo::tour
