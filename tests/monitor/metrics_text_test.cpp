// What a Prometheus server reads of the figures when the wall clock is set back during an outage.

#include "metrics_text.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace nodrel {
namespace {

// A counter that falls reads as a restart of the program: rate() and increase() would then count
// its whole value again, and an alert on outage time would fire for nothing.
TEST(MetricsTextTest, OutageSecondsNeverFallWhenTheClockIsSetBack) {
    const QString host = QStringLiteral("192.0.2.1");
    TMetricsFigures figures(host);
    const int64_t start = QDateTime::currentMSecsSinceEpoch();
    TOutage outage;
    outage.Host = host;
    outage.StartedMs = start;
    outage.LatestFailure.StartTime = start + 3000;
    figures.OutageStarted(outage);
    const auto seconds = [&] {
        const QByteArray text = MetricsText(figures);
        const QByteArray sample = "nodrel_outage_seconds_total{host=\"192.0.2.1\"} ";
        const qsizetype at = text.indexOf(sample) + sample.size();
        return text.mid(at, text.indexOf('\n', at) - at);
    };
    EXPECT_EQ(seconds(), "3");
    outage.LatestFailure.StartTime = start + 1000;  // the clock went back two seconds
    figures.OutageExtended(outage);
    outage.EndedMs = start + 2500;
    figures.OutageEnded(outage);
    EXPECT_EQ(seconds(), "3");
    EXPECT_TRUE(MetricsText(figures).contains("nodrel_outage_active{host=\"192.0.2.1\"} 0\n"));
}

}  // namespace
}  // namespace nodrel
