#include "journal_text.h"

#include <gtest/gtest.h>

#include <ctime>

namespace nodrel {
namespace {

// Friday 11 December 2026, 12:00:00 UTC.
constexpr int64_t kNoon = 1'796'990'400'000;

class JournalTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("TZ", "UTC");
        tzset();
    }
};

// What the Journal window's export and copy (proved through the window) do not reach: a comma or
// a quote in a field splits no line, a minute without answers leaves its round trips empty, a tab
// in a reason splits no clipboard column, and long durations read in days and hours.
TEST_F(JournalTextTest, FieldsThatCouldSplitALineAndLongDurations) {
    const std::vector<TJournalOutage> outages{
        {kNoon - 60'000, std::nullopt, 61, "Failed, \"odd\"", "h", "::1", "router", "fe80::1%eth0"},
    };
    EXPECT_EQ(OutagesCsv(outages).toStdString(),
              "started,ended,duration_s,failures,reason,host,address,cause,gateway\n"
              "2026-12-11 11:59:00,,,61,\"Failed, \"\"odd\"\"\",h,::1,router,fe80::1%eth0\n");
    const std::vector<TJournalMinute> minutes{
        {kNoon, "127.0.0.1", 60, 0, std::nullopt, std::nullopt, std::nullopt},
    };
    EXPECT_EQ(MinutesCsv(minutes).toStdString(),
              "minute,host,probes,answered,rtt_min_ms,rtt_median_ms,rtt_max_ms\n"
              "2026-12-11 12:00:00,127.0.0.1,60,0,,,\n");
    const std::vector<TJournalOutage> tabbed{
        {kNoon - 60'000, std::nullopt, 61, "Request\ttimed out", "h", "::1", "beyond",
         "192.168.1.1"},
    };
    EXPECT_EQ(OutagesClipboardText(tabbed, kNoon + 5'000).toStdString(),
              "Start\tDuration\tFailed probes\tReason\tWhere\tHost\n"
              "2026-12-11 11:59:00\tongoing, 1 min 5 s\t61\tRequest timed out\tbeyond "
              "(192.168.1.1)\th\n");
    EXPECT_EQ(DurationText(999), QStringLiteral("0 s"));
    EXPECT_EQ(DurationText(7'380'000), QStringLiteral("2 h 3 min"));
    EXPECT_EQ(DurationText((4 * 24 + 2) * 3600'000LL), QStringLiteral("4 d 2 h"));
}

}  // namespace
}  // namespace nodrel
