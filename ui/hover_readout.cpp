#include "hover_readout.h"

#include <QHelpEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

#include "outcome_readout.h"

namespace nodrel {

THoverReadout::THoverReadout(QWidget* surface, const TResultHistory& history,
                             const TRenderSettings& settings, const TProbedHosts& hosts)
    : QObject(surface), surface_(surface), history_(history), settings_(settings), hosts_(hosts) {
    // The window floats beside the one the user works in: it is rarely the active one.
    surface_->window()->setAttribute(Qt::WA_AlwaysShowToolTips);
    surface_->installEventFilter(this);
}

void THoverReadout::Refresh() {
    if (!shownText_.isEmpty() && QToolTip::isVisible() && QToolTip::text() == shownText_) {
        Show(shownAt_, shownAtGlobal_);
    }
}

bool THoverReadout::eventFilter(QObject* watched, QEvent* event) {
    if (watched != surface_) return false;
    if (event->type() == QEvent::Leave) {
        // Qt lets the tooltip fade for a moment before it hides it: an outcome arriving
        // meanwhile must not show it again, where the pointer no longer is.
        shownText_.clear();
        return false;
    }
    if (event->type() != QEvent::ToolTip) return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    Show(help->pos(), help->globalPos());
    return true;
}

void THoverReadout::Show(QPoint at, QPoint atGlobal) {
    const TReadoutSpot spot = ReadoutSpotAt(at.x(), at.y(), settings_, surface_->height());
    const QString text = OutcomeReadout(history_, settings_, spot.Cell, hosts_);
    if (text.isEmpty()) {
        shownText_.clear();
        QToolTip::hideText();
        return;
    }
    // As rich text, escaped: the host and the lookup's message are not ours to trust.
    shownText_ = Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
    shownAt_ = at;
    shownAtGlobal_ = atGlobal;
    // Moving out of the area hides it; Qt then asks again for the spot the pointer reached.
    const QRect area(QPoint(spot.Area.Left, spot.Area.Top),
                     QPoint(spot.Area.Right - 1, spot.Area.Bottom - 1));
    QToolTip::showText(atGlobal, shownText_, surface_, area);
}

}  // namespace nodrel
