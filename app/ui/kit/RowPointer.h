#pragma once
// What the painted lists of records share under the pointer: a held press on
// a row that turns into a drag of the row's file, and context menus built from
// a list of items without being shown (so tests run them directly).
//
// Main thread only.
#include <QAction>
#include <QMenu>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;
class QMouseEvent;
class QWidget;

namespace zelvo::kit {

// A move while a left press on a row is held (`pressAt` set): once the pointer
// is the system's drag distance away the press ends and, when `mime` gives the
// pressed record's data, a copy drag of it starts from `source`. A move with
// the left button up, or still within the distance, changes nothing.
void dragPressedRow(QWidget* source, std::optional<QPoint>& pressAt, const QMouseEvent& event,
                    const std::function<std::unique_ptr<QMimeData>()>& mime);

// A context menu of `items`, named `name`: a divider item (`Item::Kind::divider`)
// makes a separator, any other an action showing the item's text that calls
// `act(*owner, item)` when triggered while `owner` lives.
template <typename Item, typename Owner, typename Act>
std::unique_ptr<QMenu> itemMenu(Owner* owner, const QString& name, const std::vector<Item>& items, Act act)
{
    auto menu = std::make_unique<QMenu>(owner);
    menu->setObjectName(name);
    for (const Item& item : items) {
        if (item.kind == Item::Kind::divider) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.text);
        QPointer<Owner> self(owner);
        QObject::connect(action, &QAction::triggered, owner, [self, item, act] {
            if (self)
                act(*self, item);
        });
    }
    return menu;
}

} // namespace zelvo::kit
