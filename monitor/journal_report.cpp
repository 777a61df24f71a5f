#include "journal_report.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ip_address.h"
#include "journal_buckets.h"

namespace nodrel {

namespace {

using platform::Database;
using platform::Statement;

// How many hosts an error names at most.
constexpr int kHostsNamed = 8;

enum TMinuteSource : uint8_t { kNoProbes = 0, kRawOutcomes = 1, kMinuteRow = 2 };

// The host of the newest probe from `beginMs` up to `endMs`; empty when none is.
QString NewestHost(Database& db, int64_t beginMs, int64_t endMs) {
    QString host;
    int64_t newest = INT64_MIN;
    const char* const queries[] = {
        "SELECT time_ms, host FROM outcomes WHERE time_ms >= ?1 AND time_ms < ?2 "
        "ORDER BY time_ms DESC LIMIT 1",
        "SELECT minute_ms, host FROM minutes WHERE minute_ms >= ?1 AND minute_ms < ?2 "
        "ORDER BY minute_ms DESC LIMIT 1"};
    for (const char* query : queries) {
        Statement select = db.Prepare(query);
        select.Bind(1, beginMs).Bind(2, endMs);
        if (select.Step() && select.Integer(0) > newest) {
            newest = select.Integer(0);
            host = select.Text(1);
        }
        select.Step();
    }
    return host;
}

bool KnownHost(Database& db, const QString& host) {
    Statement known = db.Prepare(
        "SELECT EXISTS(SELECT 1 FROM minutes WHERE host = ?1) OR "
        "EXISTS(SELECT 1 FROM outcomes WHERE host = ?1) OR "
        "EXISTS(SELECT 1 FROM outages WHERE host = ?1)");
    known.Bind(1, host);
    const bool found = known.Step() && known.Integer(0) != 0;
    known.Step();
    return found;
}

QStringList KnownHosts(Database& db) {
    Statement select = db.Prepare(
        "SELECT host FROM minutes UNION SELECT host FROM outcomes UNION "
        "SELECT host FROM outages ORDER BY 1");
    QStringList hosts;
    while (select.Step()) hosts << select.Text(0);
    return hosts;
}

int64_t Overlap(int64_t begin, int64_t end, int64_t periodBegin, int64_t periodEnd) {
    return std::max<int64_t>(0, std::min(end, periodEnd) - std::max(begin, periodBegin));
}

// The round trips and which minutes had probes, from the raw outcomes where the journal keeps
// them and from the per-minute rows elsewhere.
void ReadRoundTrips(Database& db, TJournalReport& report, std::vector<uint8_t>& minutes) {
    const int64_t firstMinute = MinuteStart(report.beginMs);
    TRoundTripFigureSums sums;
    Statement outcomes = db.Prepare(
        "SELECT time_ms, answered, rtt_ms FROM outcomes "
        "WHERE time_ms >= ?1 AND time_ms < ?2 AND host = ?3 ORDER BY time_ms");
    outcomes.Bind(1, report.beginMs).Bind(2, report.endMs).Bind(3, report.host);
    while (outcomes.Step()) {
        const int64_t time = outcomes.Integer(0);
        if (!report.probeByProbeFromMs) report.probeByProbeFromMs = time;
        minutes[(time - firstMinute) / kMinuteMs] |= kRawOutcomes;
        if (outcomes.Integer(1) == 0) continue;
        if (const std::optional<double> rtt = outcomes.OptionalReal(2)) sums.AddProbe(*rtt);
    }
    Statement rows = db.Prepare(
        "SELECT minute_ms, probes, answered, rtt_median_ms, rtt_max_ms FROM minutes "
        "WHERE minute_ms >= ?1 AND minute_ms < ?2 AND host = ?3");
    rows.Bind(1, report.beginMs).Bind(2, report.endMs).Bind(3, report.host);
    while (rows.Step()) {
        uint8_t& minute = minutes[(rows.Integer(0) - firstMinute) / kMinuteMs];
        if (minute & kRawOutcomes) continue;
        const int64_t probes = rows.Integer(1);
        if (probes <= 0) continue;
        minute |= kMinuteRow;
        report.fromMinuteRows |= rows.Integer(2) > 0 && !rows.IsNull(3);
        sums.AddMinute(std::clamp<int64_t>(rows.Integer(2), 0, probes), rows.OptionalReal(3),
                       rows.OptionalReal(4));
    }
    report.roundTrips = sums.Figures();
}

// Reads everything but the host, which is known by now.
void ReadFigures(Database& db, const TReportPeriod& period, TJournalReport& report) {
    const TRowFilter filter{report.host, report.endMs};
    TJournalView& view = report.view;
    view.buckets.assign(view.layout.count, {});
    ReadBuckets(db, view, 0, filter);
    view.outages = ReadOutages(db, period.beginMs, filter);
    view.state = TJournalState::Readable;
    for (const TJournalBucket& bucket : view.buckets) {
        report.probes += bucket.probes;
        report.answered += bucket.answered;
    }

    const int64_t firstMinute = MinuteStart(report.beginMs);
    std::vector<uint8_t> minutes(
        std::max<int64_t>(0, (report.endMs - firstMinute + kMinuteMs - 1) / kMinuteMs), kNoProbes);
    ReadRoundTrips(db, report, minutes);
    // A minute without probes is a gap, unless the writer may not have written it yet.
    const int64_t written = report.madeMs - kJournalWriteLagMs;
    for (size_t i = 0; i < minutes.size(); ++i) {
        const int64_t start = firstMinute + int64_t(i) * kMinuteMs;
        const int64_t inPeriod = Overlap(start, start + kMinuteMs, report.beginMs, report.endMs);
        if (minutes[i] != kNoProbes) {
            report.monitoredMs += inPeriod;
        } else if (start + kMinuteMs <= written) {
            report.unmonitoredMs += inPeriod;
        }
    }

    for (auto outage = view.outages.rbegin(); outage != view.outages.rend(); ++outage) {
        const int64_t ended = outage->EndedMs.value_or(report.madeMs);
        report.outagesMs += ended - outage->StartedMs;
        report.longestOutageMs = std::max(report.longestOutageMs, ended - outage->StartedMs);
        report.downMs += Overlap(outage->StartedMs, ended, report.beginMs, report.endMs);
        if (!outage->Address.isEmpty() && !report.addresses.contains(outage->Address)) {
            report.addresses << outage->Address;
        }
    }
    platform::IpAddress literal;
    if (report.addresses.isEmpty() &&
        platform::ParseAddressLiteral(report.host.toStdString(), literal)) {
        report.addresses << QString::fromStdString(platform::AddressText(literal));
    }
}

}  // namespace

std::optional<int64_t> TJournalReport::AvailabilityHundredths() const {
    if (monitoredMs <= 0) return std::nullopt;
    const int64_t up = std::max<int64_t>(0, monitoredMs - downMs);
    return up * 10'000 / monitoredMs;
}

std::optional<TJournalReport> ReadJournalReport(TJournalReader& reader, const TReportPeriod& period,
                                                const QString& host, int64_t nowMs,
                                                QString* error) {
    TJournalReport report;
    QStringList hostsKnown;
    const auto read = [&](Database& db) {
        report = {};
        report.beginMs = period.beginMs;
        report.endMs = std::max(period.beginMs, std::min(period.endMs, nowMs));
        report.madeMs = nowMs;
        report.view.span = period.scale;
        report.view.layout = period.layout;
        report.view.nowMs = nowMs;
        hostsKnown.clear();
        report.host = host;
        if (host.isEmpty()) {
            report.host = NewestHost(db, report.beginMs, report.endMs);
            if (report.host.isEmpty()) report.host = NewestHost(db, INT64_MIN, INT64_MAX);
        } else if (!KnownHost(db, host)) {
            hostsKnown = KnownHosts(db);
            report.host.clear();
        }
        if (!report.host.isEmpty()) ReadFigures(db, period, report);
    };
    QString failure;
    uint64_t connection = 0;
    const TJournalState state = reader.ReadInOneTransaction(read, failure, connection);
    QString why;
    if (state == TJournalState::Missing) {
        why = QStringLiteral("no journal at %1: the monitor keeps one while it runs")
                  .arg(reader.Path());
    } else if (state == TJournalState::Unreadable) {
        why = QStringLiteral("the journal %1 cannot be read: %2").arg(reader.Path(), failure);
    } else if (report.host.isEmpty() && hostsKnown.isEmpty()) {
        why = QStringLiteral("the journal %1 holds no probes yet").arg(reader.Path());
    } else if (report.host.isEmpty()) {
        const bool more = hostsKnown.size() > kHostsNamed;
        why = QStringLiteral("the journal has no probes of the host \"%1\"; it has those of %2%3")
                  .arg(host, hostsKnown.mid(0, kHostsNamed).join(QStringLiteral(", ")),
                       more ? QStringLiteral(", ...") : QString());
    }
    if (why.isEmpty()) return report;
    if (error) *error = why;
    return std::nullopt;
}

}  // namespace nodrel
