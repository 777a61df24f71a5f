#include "metrics_text.h"

#include <charconv>

namespace nodrel {

namespace {

// The buckets' bounds as Go's shortest float format writes them, which is how smokeping_prober's
// `le` labels read: a query that names a bucket must find the same text here.
constexpr const char* kBucketBounds[kRoundTripBuckets] = {
    "5e-05",  "0.0001", "0.0002", "0.0004", "0.0008",  "0.0016", "0.0032",
    "0.0064", "0.0128", "0.0256", "0.0512", "0.1024",  "0.2048", "0.4096",
    "0.8192", "1.6384", "3.2768", "6.5536", "13.1072", "26.2144"};

void AppendFamily(QByteArray& text, const char* name, const char* type, const char* help) {
    text.append("# HELP ").append(name).append(' ').append(help).append('\n');
    text.append("# TYPE ").append(name).append(' ').append(type).append('\n');
}

// `name{host="...",ip="..."` without the closing brace, so that `le` can follow.
void AppendProbeSample(QByteArray& text, const char* name, const TProbeSeries& series) {
    text.append(name).append("{host=\"");
    AppendLabelValue(text, series.Host);
    text.append("\",ip=\"");
    AppendLabelValue(text, series.Address);
    text.append('"');
}

void AppendHostSample(QByteArray& text, const char* name, const TOutageSeries& series) {
    text.append(name).append("{host=\"");
    AppendLabelValue(text, series.Host);
    text.append("\"}");
}

void AppendValue(QByteArray& text, uint64_t value) {
    text.append(' ').append(QByteArray::number(qulonglong(value))).append('\n');
}

// The shortest text that reads back as `value`.
void AppendValue(QByteArray& text, double value) {
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    text.append(' ').append(digits, qsizetype(written.ptr - digits)).append('\n');
}

}  // namespace

void AppendLabelValue(QByteArray& text, const QString& value) {
    for (const char byte : value.toUtf8()) {
        switch (byte) {
            case '\\':
                text.append("\\\\");
                break;
            case '"':
                text.append("\\\"");
                break;
            case '\n':
                text.append("\\n");
                break;
            default:
                text.append(byte);
        }
    }
}

QByteArray MetricsText(const TMetricsFigures& figures) {
    QByteArray text;
    text.reserve(1024 + qsizetype(figures.Probes().size()) * 2560);
    if (!figures.Probes().empty()) {
        AppendFamily(text, "smokeping_requests_total", "counter",
                     "Echo requests sent, by host as typed and the address probed.");
        for (const TProbeSeries& series : figures.Probes()) {
            AppendProbeSample(text, "smokeping_requests_total", series);
            text.append('}');
            AppendValue(text, series.Requests);
        }
        AppendFamily(text, "smokeping_response_duration_seconds", "histogram",
                     "Round trips of the answered echo requests, in seconds.");
        for (const TProbeSeries& series : figures.Probes()) {
            uint64_t cumulative = 0;
            for (int bucket = 0; bucket < kRoundTripBuckets; ++bucket) {
                cumulative += series.Buckets[size_t(bucket)];
                AppendProbeSample(text, "smokeping_response_duration_seconds_bucket", series);
                text.append(",le=\"").append(kBucketBounds[bucket]).append("\"}");
                AppendValue(text, cumulative);
            }
            AppendProbeSample(text, "smokeping_response_duration_seconds_bucket", series);
            text.append(",le=\"+Inf\"}");
            AppendValue(text, series.Answers);
            AppendProbeSample(text, "smokeping_response_duration_seconds_sum", series);
            text.append('}');
            AppendValue(text, double(series.RoundTripMicroseconds) / 1e6);
            AppendProbeSample(text, "smokeping_response_duration_seconds_count", series);
            text.append('}');
            AppendValue(text, series.Answers);
        }
    }
    if (const TProbeSeries* latest = figures.Latest()) {
        AppendFamily(text, "nodrel_up", "gauge",
                     "1 when the latest probe was answered, else 0; only for the host and "
                     "address probed last.");
        AppendProbeSample(text, "nodrel_up", *latest);
        text.append('}');
        AppendValue(text, uint64_t{latest->LastAnswered ? 1u : 0u});
    }
    if (figures.Outages().empty()) return text;
    AppendFamily(text, "nodrel_outages_total", "counter",
                 "Outages: two or more failed probes in a row.");
    for (const TOutageSeries& series : figures.Outages()) {
        AppendHostSample(text, "nodrel_outages_total", series);
        AppendValue(text, series.Outages);
    }
    AppendFamily(text, "nodrel_outage_seconds_total", "counter",
                 "Seconds of outage, from the first failed probe to the first answered one; one "
                 "that lasts is counted up to its latest failed probe.");
    for (const TOutageSeries& series : figures.Outages()) {
        AppendHostSample(text, "nodrel_outage_seconds_total", series);
        AppendValue(text, double(series.Milliseconds) / 1000.0);
    }
    AppendFamily(text, "nodrel_outage_active", "gauge", "1 while an outage lasts, else 0.");
    for (const TOutageSeries& series : figures.Outages()) {
        AppendHostSample(text, "nodrel_outage_active", series);
        AppendValue(text, uint64_t{series.Active ? 1u : 0u});
    }
    return text;
}

}  // namespace nodrel
