#include "ui/kit/RowPointer.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

namespace zelvo::kit {

void dragPressedRow(QWidget* source, std::optional<QPoint>& pressAt, const QMouseEvent& event,
                    const std::function<std::unique_ptr<QMimeData>()>& mime)
{
    if (!pressAt || !(event.buttons() & Qt::LeftButton))
        return;
    if ((event.position().toPoint() - *pressAt).manhattanLength() < QApplication::startDragDistance())
        return;
    pressAt.reset();
    std::unique_ptr<QMimeData> data = mime();
    if (!data)
        return;
    auto* drag = new QDrag(source);
    drag->setMimeData(data.release());
    drag->exec(Qt::CopyAction);
}

} // namespace zelvo::kit
