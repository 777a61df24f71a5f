#pragma once

#include <QEvent>
#include <QObject>

namespace nodrel::testing {

// Counts the paint events of the widgets it is installed on as an event filter.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

}  // namespace nodrel::testing
