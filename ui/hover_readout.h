#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include "history_renderer.h"
#include "probed_hosts.h"
#include "result_history.h"

class QWidget;

namespace nodrel {

// The drawing surface's tooltip: what the outcome under the pointer was, or its column in the
// Graph view, and a summary of all shown. The text is made only when the tooltip is asked for,
// and made again when a new outcome arrives while it is shown.
class THoverReadout : public QObject {
public:
    // Reads `history`, `settings` and `hosts` afresh at every showing.
    THoverReadout(QWidget* surface, const TResultHistory& history, const TRenderSettings& settings,
                  const TProbedHosts& hosts);

    // After a new outcome: a readout still shown is made again for the same spot, while the
    // pointer has not left the surface since it was shown.
    void Refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // `at` in the surface's coordinates; `atGlobal` the pointer's place on the screen, as the
    // pointer event had it: some window managers leave Qt unsure where a frameless window is.
    void Show(QPoint at, QPoint atGlobal);

    QWidget* surface_;
    const TResultHistory& history_;
    const TRenderSettings& settings_;
    const TProbedHosts& hosts_;
    QPoint shownAt_;
    QPoint shownAtGlobal_;
    QString shownText_;  // empty while no readout of ours is shown, or once the pointer left
};

}  // namespace nodrel
