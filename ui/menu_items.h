#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <functional>

namespace nodrel {

// A menu item named `name` for tests to find; `handler`, when there is one, runs on `context`'s
// thread for as long as `context` lives.
QAction* AddMenuItem(QMenu* menu, const char* name, const QString& caption, QObject* context,
                     std::function<void()> handler);
// A checkable item, one of `group`.
QAction* AddRadioItem(QMenu* menu, QActionGroup* group, const char* name, const QString& caption,
                      QObject* context, std::function<void()> handler);
// The default item, in bold: what a double-click does.
void SetDefaultItem(QMenu* menu, QAction* item);

}  // namespace nodrel
