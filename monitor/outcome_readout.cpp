#include "outcome_readout.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "echo_service.h"
#include "icmp_packet.h"
#include "name_service.h"
#include "round_trip_text.h"

namespace nodrel {

namespace {

// At most one decimal, none when it is zero: "12.5", "5".
QString Decimal(double value) {
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0"))) text.chop(2);
    return text;
}

QString ShownAddress(const platform::IpAddress& address) {
    return QString::fromStdString(platform::AddressText(address));
}

// The host as typed, without the blanks around it that the probe ignores.
QString ShownHost(const QString& host) {
    const QString trimmed = host.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("no host given") : trimmed;
}

// The host and, when it is a name, the address probed: "mover.test (192.0.2.11)". An unknown host
// is told by its address alone.
QString HostAndAddress(const QString* host, const std::optional<platform::IpAddress>& address) {
    if (host == nullptr) return address ? ShownAddress(*address) : QStringLiteral("unknown");
    platform::IpAddress literal;
    if (!address || platform::ParseAddressLiteral(host->trimmed().toStdString(), literal)) {
        return ShownHost(*host);
    }
    return QStringLiteral("%1 (%2)").arg(ShownHost(*host), ShownAddress(*address));
}

QString LookupErrorText(uint32_t error) {
    const char* message = platform::LookupErrorMessage(static_cast<uint16_t>(error));
    return message != nullptr ? QString::fromLocal8Bit(message)
                              : QStringLiteral("error %1").arg(error);
}

int DrawnColumns(const TRenderSettings& settings) {
    return settings.modenum == 2 ? kSmallGridColumns : kGridColumns;
}

// Whether `record`'s probe was for the current host: the same text, blanks aside.
bool OfCurrentHost(const TOutcomeRecord& record, const TProbedHosts& hosts) {
    const QString* host = hosts.Text(record.Host);
    return host != nullptr && host->trimmed() == hosts.Current().trimmed();
}

// The outcomes `first` to `last` (1 = the newest) that `counted` takes, answered or not, with
// their round trips.
struct TOutcomeSpan {
    int Outcomes = 0;
    int Answered = 0;
    std::vector<double> RoundTrips;          // milliseconds, sorted
    const TOutcomeRecord* Newest = nullptr;  // of those taken

    template <typename Counted>
    TOutcomeSpan(const TResultHistory& history, int first, int last, Counted counted) {
        int outcome = 0;
        for (int k = 1; k <= TResultHistory::kStoredColumns; ++k) {
            for (const char mark : history.HistoryColumns(k).Text()) {
                if (++outcome > last) break;
                const TOutcomeRecord& record = *history.Record(outcome);
                if (outcome < first || !counted(record)) continue;
                if (++Outcomes == 1) Newest = &record;
                if (mark != TResultHistory::kSuccess) continue;
                ++Answered;
                RoundTrips.push_back(RoundTripMs(record));
            }
        }
        std::sort(RoundTrips.begin(), RoundTrips.end());
    }

    double MedianRoundTrip() const {
        const size_t middle = RoundTrips.size() / 2;
        return RoundTrips.size() % 2 != 0 ? RoundTrips[middle]
                                          : (RoundTrips[middle - 1] + RoundTrips[middle]) / 2;
    }
};

constexpr auto kEveryOutcome = [](const TOutcomeRecord&) { return true; };

// The outcomes the current view shows, newest first: one per drawn cell in the History view,
// the drawn columns in the Graph view.
int ShownOutcomes(const TResultHistory& history, const TRenderSettings& settings) {
    const int columns = DrawnColumns(settings);
    if (settings.viewmode != 1) return std::min(history.StoredOutcomes(), columns * kGridRows);
    int shown = 0;
    for (int k = 1; k <= columns; ++k) shown += history.HistoryColumns(k).Length;
    return shown;
}

QStringList ColumnLines(const TResultHistory& history, int column, const TProbedHosts& hosts) {
    int first = 1;
    for (int k = 1; k < column; ++k) first += history.HistoryColumns(k).Length;
    const int length = history.HistoryColumns(column).Length;
    if (length == 0) return {QStringLiteral("not probed yet")};
    const int last = first + length - 1;
    const TOutcomeSpan span(history, first, last, kEveryOutcome);
    QStringList lines{QStringLiteral("%1 of %2 answered").arg(span.Answered).arg(length)};
    if (!span.RoundTrips.empty()) {
        lines << QStringLiteral("round trip min %1, median %2, max %3")
                     .arg(RoundTripText(span.RoundTrips.front()),
                          RoundTripText(span.MedianRoundTrip()),
                          RoundTripText(span.RoundTrips.back()));
    }
    const TOutcomeSpan earlier(history, first, last, [&](const TOutcomeRecord& record) {
        return !OfCurrentHost(record, hosts);
    });
    if (earlier.Outcomes > 0) {
        lines << QStringLiteral("%1 of them for earlier host %2")
                     .arg(earlier.Outcomes)
                     .arg(
                         HostAndAddress(hosts.Text(earlier.Newest->Host), earlier.Newest->Address));
    }
    return lines;
}

QStringList CellLines(const TResultHistory& history, int cell, const TProbedHosts& hosts) {
    const TOutcomeRecord* record = history.Record(cell);
    if (record == nullptr) return {QStringLiteral("not probed yet")};
    const QString started = QDateTime::fromMSecsSinceEpoch(record->StartTime)
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QStringList lines{started};
    if (!OfCurrentHost(*record, hosts)) {
        lines << QStringLiteral("earlier host ") +
                     HostAndAddress(hosts.Text(record->Host), record->Address);
    }
    if (record->AddressChanged && record->Address) {
        lines << QStringLiteral("now ") + ShownAddress(*record->Address);
    }
    if (TOutcomeSpan(history, cell, cell, kEveryOutcome).Answered == 0) {
        lines << FailureText(*record);
        const QString* host = hosts.Text(record->Host);
        const QString where = WhereText(*record, host != nullptr ? *host : QString());
        return where.isEmpty() ? lines : lines << where;
    }
    return lines << QStringLiteral("reply in ") + RoundTripText(RoundTripMs(*record));
}

// The words for an IP status; empty for one the echo service never records.
QString StatusText(const TOutcomeRecord& record) {
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
        case platform::IP_DEST_ADMIN_PROHIBITED:
            return QStringLiteral("administratively prohibited: a filter on the way refused it");
        case platform::IP_PACKET_TOO_BIG:
            return QStringLiteral("packet too big");
        case platform::IP_TTL_EXPIRED_TRANSIT:
            return QStringLiteral("TTL expired in transit");
        case platform::IP_TTL_EXPIRED_REASSEM:
            return QStringLiteral("fragments not reassembled in time");
        case platform::IP_PARAM_PROBLEM:
            return QStringLiteral("parameter problem: a router refused the packet's header");
        case platform::IP_BAD_ROUTE:
            return QStringLiteral("source route failed");
        case platform::IP_BAD_OPTION:
            return QStringLiteral("IP options refused");
        case platform::IP_NO_RESOURCES:
            return QStringLiteral("not sent: the system is short of resources");
        case platform::IP_BUF_TOO_SMALL:
            return QStringLiteral("not sent: no room for the reply");
        case platform::IP_BAD_DESTINATION:
            return QStringLiteral("not an address that can be probed");
        case platform::IP_DEST_SCOPE_MISMATCH:
            return QStringLiteral("zone needed: add the interface, as in fe80::1%eth0");
        case platform::IP_GENERAL_FAILURE:
            return QStringLiteral("not sent: the system refused the probe");
        default:
            return {};
    }
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
    if (record.NameNotFound)
        return QStringLiteral("name lookup failed: ") + LookupErrorText(record.Status);
    QString text = StatusText(record);
    if (text.isEmpty()) text = QStringLiteral("failed with status %1").arg(record.Status);
    if (record.LookupAgainError != 0) text += QStringLiteral(" (the name no longer resolves)");
    return text;
}

QString WhereText(const TOutcomeRecord& record, const QString& host) {
    return PlaceSentence(record.Place,
                         record.Address ? ShownAddress(*record.Address) : ShownHost(host));
}

QString ReadoutSummary(const TResultHistory& history, const TRenderSettings& settings,
                       const TProbedHosts& hosts) {
    const auto ofCurrentHost = [&](const TOutcomeRecord& record) {
        return OfCurrentHost(record, hosts);
    };
    const QString current = hosts.Current();
    const TOutcomeSpan shown(history, 1, ShownOutcomes(history, settings), ofCurrentHost);
    if (shown.Outcomes == 0) return ShownHost(current) + QStringLiteral(": not probed yet");
    const TOutcomeRecord& newest = *shown.Newest;
    QString text = HostAndAddress(&current, newest.Address);
    text += shown.Outcomes == 1 ? QStringLiteral(", last probe")
                                : QStringLiteral(", last %1 probes").arg(shown.Outcomes);
    const int lost = shown.Outcomes - shown.Answered;
    text += QStringLiteral(": %1% lost").arg(Decimal(100.0 * lost / shown.Outcomes));
    if (!shown.RoundTrips.empty()) {
        text += QStringLiteral(", median round trip ") + RoundTripText(shown.MedianRoundTrip());
    }
    if (newest.LookupAgainError != 0) {
        text += QStringLiteral("\n%1 no longer resolves (%2): its last address is probed")
                    .arg(ShownHost(current), LookupErrorText(newest.LookupAgainError));
    }
    return text;
}

QString OutcomeReadout(const TResultHistory& history, const TRenderSettings& settings, int cell,
                       const TProbedHosts& hosts) {
    if (cell < 1 || cell > DrawnColumns(settings) * kGridRows) return {};
    QStringList lines = settings.viewmode == 1
                            ? ColumnLines(history, (cell - 1) / kGridRows + 1, hosts)
                            : CellLines(history, cell, hosts);
    lines << ReadoutSummary(history, settings, hosts);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace nodrel
