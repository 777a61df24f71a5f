#include "outcome_readout.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "echo_service.h"
#include "name_service.h"

namespace nodrel {

namespace {

// At most one decimal, none when it is zero: "12.5", "5".
QString Decimal(double value) {
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0"))) text.chop(2);
    return text;
}

QString InMilliseconds(double milliseconds) {
    return Decimal(milliseconds) + QStringLiteral(" ms");
}

QString ShownAddress(const platform::IpAddress& address) {
    return QString::fromStdString(platform::AddressText(address));
}

int DrawnColumns(const TRenderSettings& settings) {
    return settings.modenum == 2 ? kSmallGridColumns : kGridColumns;
}

// The outcomes `first` to `last` (1 = the newest), answered or not, with their round trips.
struct TOutcomeSpan {
    int Outcomes = 0;
    int Answered = 0;
    std::vector<uint32_t> RoundTrips;  // sorted

    TOutcomeSpan(const TResultHistory& history, int first, int last) {
        int outcome = 0;
        for (int k = 1; k <= TResultHistory::kStoredColumns; ++k) {
            for (const char mark : history.HistoryColumns(k).Text()) {
                if (++outcome > last) break;
                if (outcome < first) continue;
                ++Outcomes;
                if (mark != TResultHistory::kSuccess) continue;
                ++Answered;
                RoundTrips.push_back(history.Record(outcome)->Milliseconds);
            }
        }
        std::sort(RoundTrips.begin(), RoundTrips.end());
    }

    double MedianRoundTrip() const {
        const size_t middle = RoundTrips.size() / 2;
        return RoundTrips.size() % 2 != 0
                   ? RoundTrips[middle]
                   : (double(RoundTrips[middle - 1]) + RoundTrips[middle]) / 2;
    }
};

// The outcomes the current view shows, newest first: one per drawn cell in the History view,
// the drawn columns in the Graph view.
int ShownOutcomes(const TResultHistory& history, const TRenderSettings& settings) {
    const int columns = DrawnColumns(settings);
    if (settings.viewmode != 1) return std::min(history.StoredOutcomes(), columns * kGridRows);
    int shown = 0;
    for (int k = 1; k <= columns; ++k) shown += history.HistoryColumns(k).Length;
    return shown;
}

QStringList ColumnLines(const TResultHistory& history, int column) {
    int first = 1;
    for (int k = 1; k < column; ++k) first += history.HistoryColumns(k).Length;
    const int length = history.HistoryColumns(column).Length;
    if (length == 0) return {QStringLiteral("not probed yet")};
    const TOutcomeSpan span(history, first, first + length - 1);
    QStringList lines{QStringLiteral("%1 of %2 answered").arg(span.Answered).arg(length)};
    if (!span.RoundTrips.empty()) {
        lines << QStringLiteral("round trip min %1, median %2, max %3")
                     .arg(InMilliseconds(span.RoundTrips.front()),
                          InMilliseconds(span.MedianRoundTrip()),
                          InMilliseconds(span.RoundTrips.back()));
    }
    return lines;
}

QStringList CellLines(const TResultHistory& history, int cell) {
    const TOutcomeRecord* record = history.Record(cell);
    if (record == nullptr) return {QStringLiteral("not probed yet")};
    const QString started = QDateTime::fromMSecsSinceEpoch(record->StartTime)
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QStringList lines{started};
    if (record->AddressChanged && record->Address) {
        lines << QStringLiteral("now ") + ShownAddress(*record->Address);
    }
    if (TOutcomeSpan(history, cell, cell).Answered == 0) return lines << FailureText(*record);
    return lines << QStringLiteral("reply in ") + InMilliseconds(record->Milliseconds);
}

}  // namespace

TReadoutSpot ReadoutSpotAt(int x, int y, const TRenderSettings& settings, int32_t surfaceHeight) {
    const int64_t columnPitch = settings.w + settings.ws;
    const int64_t rowPitch = settings.h + settings.hs;
    // Rows count upwards from the surface's bottom edge, as the renderer measures them.
    const int64_t fromBottom = int64_t{surfaceHeight} - y;
    if (columnPitch == 0 || rowPitch == 0 || x < 1 || fromBottom < 1) return {};
    const int64_t column = (x - 1) / columnPitch;
    const int64_t row = (fromBottom + rowPitch - 1) / rowPitch;
    if (column >= DrawnColumns(settings) || row > kGridRows) return {};

    TReadoutSpot spot;
    spot.Cell = static_cast<int>(column * kGridRows + row);
    const TCellRect cell = CellRect(spot.Cell, settings, surfaceHeight);
    spot.Area = {cell.Left, cell.Top, static_cast<int32_t>(cell.Left + columnPitch),
                 static_cast<int32_t>(cell.Top + rowPitch)};
    if (settings.viewmode == 1) {
        spot.Area.Top = static_cast<int32_t>(surfaceHeight - kGridRows * rowPitch);
        spot.Area.Bottom = surfaceHeight;
    }
    return spot;
}

QString FailureText(const TOutcomeRecord& record) {
    if (record.NameNotFound) {
        const char* message = platform::LookupErrorMessage(static_cast<uint16_t>(record.Status));
        return QStringLiteral("name not found: ") +
               (message != nullptr ? QString::fromLocal8Bit(message)
                                   : QStringLiteral("error %1").arg(record.Status));
    }
    switch (record.Status) {
        case platform::IP_REQ_TIMED_OUT:
            return QStringLiteral("no reply within %1 s")
                .arg(Decimal(record.Milliseconds / 1000.0));
        case platform::IP_DEST_NET_UNREACHABLE:
            return QStringLiteral("network unreachable");
        case platform::IP_DEST_HOST_UNREACHABLE:
            return QStringLiteral("host unreachable");
        case platform::IP_DEST_PROT_UNREACHABLE:
            return QStringLiteral("protocol unreachable");
        case platform::IP_DEST_PORT_UNREACHABLE:
            return QStringLiteral("port unreachable");
        case platform::IP_PACKET_TOO_BIG:
            return QStringLiteral("packet too big");
        case platform::IP_TTL_EXPIRED_TRANSIT:
            return QStringLiteral("TTL expired in transit");
        case platform::IP_DEST_SCOPE_MISMATCH:
            return QStringLiteral("zone needed: add the interface, as in fe80::1%eth0");
        default:
            return QStringLiteral("status %1").arg(record.Status);
    }
}

QString ReadoutSummary(const TResultHistory& history, const TRenderSettings& settings,
                       const QString& host) {
    QString text = host;
    const TOutcomeRecord* newest = history.Record(1);
    if (newest != nullptr && newest->Address) {
        const QString address = ShownAddress(*newest->Address);
        if (address != host) text += QStringLiteral(" (%1)").arg(address);
    }
    const TOutcomeSpan shown(history, 1, ShownOutcomes(history, settings));
    if (shown.Outcomes == 0) return text + QStringLiteral(": not probed yet");
    const int lost = shown.Outcomes - shown.Answered;
    text += QStringLiteral(": %1 % lost").arg(Decimal(100.0 * lost / shown.Outcomes));
    if (!shown.RoundTrips.empty()) {
        text += QStringLiteral(", median round trip ") + InMilliseconds(shown.MedianRoundTrip());
    }
    return text;
}

QString OutcomeReadout(const TResultHistory& history, const TRenderSettings& settings, int cell,
                       const QString& host) {
    if (cell < 1 || cell > DrawnColumns(settings) * kGridRows) return {};
    QStringList lines = settings.viewmode == 1 ? ColumnLines(history, (cell - 1) / kGridRows + 1)
                                               : CellLines(history, cell);
    lines << ReadoutSummary(history, settings, host);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace nodrel
