#include "history_text.h"

#include <gtest/gtest.h>

#include <ctime>

namespace nodrel {
namespace {

// Friday 11 December 2026, 12:00:00 UTC.
constexpr int64_t kNoon = 1'796'990'400'000;

class HistoryTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("TZ", "UTC");
        tzset();
    }
};

// A spreadsheet reads one outage per line: a comma or a quote in a field does not split it, and
// an outage that lasts has no end yet.
TEST_F(HistoryTextTest, OutagesCsvLines) {
    const std::vector<TJournalOutage> outages{
        {kNoon - 6 * 3600'000, kNoon - 6 * 3600'000 + 45'500, 9, "Request timed out", "example.org",
         "192.0.2.7"},
        {kNoon - 60'000, std::nullopt, 61, "Failed, \"odd\"", "h", "::1"},
    };
    EXPECT_EQ(OutagesCsv(outages).toStdString(),
              "started,ended,duration_s,failures,reason,host,address\n"
              "2026-12-11 06:00:00,2026-12-11 06:00:45,45.500,9,Request timed out,example.org,"
              "192.0.2.7\n"
              "2026-12-11 11:59:00,,,61,\"Failed, \"\"odd\"\"\",h,::1\n");
}

TEST_F(HistoryTextTest, MinutesCsvLeavesAMissingRoundTripEmpty) {
    const std::vector<TJournalMinute> minutes{
        {kNoon, "127.0.0.1", 60, 58, 0.25, 12.5, 80.0},
        {kNoon + 60'000, "127.0.0.1", 60, 0, std::nullopt, std::nullopt, std::nullopt},
    };
    EXPECT_EQ(MinutesCsv(minutes).toStdString(),
              "minute,host,probes,answered,rtt_min_ms,rtt_median_ms,rtt_max_ms\n"
              "2026-12-11 12:00:00,127.0.0.1,60,58,0.25,12.5,80\n"
              "2026-12-11 12:01:00,127.0.0.1,60,0,,,\n");
}

TEST_F(HistoryTextTest, DurationsAndClipboardLines) {
    EXPECT_EQ(DurationText(999), QStringLiteral("0 s"));
    EXPECT_EQ(DurationText(45'000), QStringLiteral("45 s"));
    EXPECT_EQ(DurationText(185'000), QStringLiteral("3 min 5 s"));
    EXPECT_EQ(DurationText(7'380'000), QStringLiteral("2 h 3 min"));
    EXPECT_EQ(DurationText((4 * 24 + 2) * 3600'000LL), QStringLiteral("4 d 2 h"));
    const std::vector<TJournalOutage> outages{
        {kNoon - 60'000, std::nullopt, 61, "Request\ttimed out", "h", "::1"},
    };
    EXPECT_EQ(OutagesClipboardText(outages, kNoon + 5'000).toStdString(),
              "Start\tDuration\tFailed probes\tReason\tHost\n"
              "2026-12-11 11:59:00\tongoing, 1 min 5 s\t61\tRequest timed out\th\n");
}

}  // namespace
}  // namespace nodrel
