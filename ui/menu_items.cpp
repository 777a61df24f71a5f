#include "menu_items.h"

namespace nodrel {

QAction* AddMenuItem(QMenu* menu, const char* name, const QString& caption, QObject* context,
                     std::function<void()> handler) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    if (handler) QObject::connect(item, &QAction::triggered, context, std::move(handler));
    return item;
}

QAction* AddRadioItem(QMenu* menu, QActionGroup* group, const char* name, const QString& caption,
                      QObject* context, std::function<void()> handler) {
    QAction* item = AddMenuItem(menu, name, caption, context, std::move(handler));
    item->setCheckable(true);
    group->addAction(item);
    return item;
}

void SetDefaultItem(QMenu* menu, QAction* item) {
    menu->setDefaultAction(item);
    QFont bold = item->font();
    bold.setBold(true);
    item->setFont(bold);
}

}  // namespace nodrel
