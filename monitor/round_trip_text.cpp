#include "round_trip_text.h"

namespace nodrel {

QString RoundTripNumber(double milliseconds) {
    QString text = QString::number(milliseconds, 'f', 2);
    while (text.endsWith(u'0')) text.chop(1);
    if (text.endsWith(u'.')) text.chop(1);
    return text;
}

QString RoundTripText(double milliseconds) {
    if (milliseconds <= 0) return QStringLiteral("under 1 ms");
    return RoundTripNumber(milliseconds) + QStringLiteral(" ms");
}

}  // namespace nodrel
