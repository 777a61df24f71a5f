#include "report_period.h"

#include <gtest/gtest.h>

#include <QDateTime>

namespace nodrel {
namespace {

constexpr int64_t kDayMs = 86'400'000;

// A user asking for the report "to" a day gets that day whole; "from" a day, from its start up
// to now; neither, the last 7 days as the Journal window's week cuts them.
TEST(ReportPeriodTest, ADayGivenAloneReachesItsEndAndTheDefaultIsTheWeekShown) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString today = now.date().toString(QStringLiteral("yyyy-MM-dd"));
    const int64_t midnight = QDateTime(now.date(), QTime(0, 0)).toMSecsSinceEpoch();
    const int64_t tomorrow = QDateTime(now.date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();

    const std::optional<TReportPeriod> to = CommandLinePeriod({}, today, 0, nullptr);
    ASSERT_TRUE(to);
    EXPECT_EQ(to->endMs, tomorrow);
    EXPECT_EQ(to->beginMs, tomorrow - 7 * kDayMs);

    const std::optional<TReportPeriod> from =
        CommandLinePeriod(today, {}, now.toMSecsSinceEpoch(), nullptr);
    ASSERT_TRUE(from);
    EXPECT_EQ(from->beginMs, midnight);
    EXPECT_EQ(from->endMs, now.toMSecsSinceEpoch());
    EXPECT_EQ(from->layout.beginMs, midnight);
    EXPECT_GE(from->layout.EndMs(), from->endMs);

    const std::optional<TReportPeriod> week =
        CommandLinePeriod({}, {}, now.toMSecsSinceEpoch(), nullptr);
    ASSERT_TRUE(week);
    EXPECT_EQ(week->layout.count, 336);
    EXPECT_EQ(week->endMs - week->beginMs, 7 * kDayMs);
    EXPECT_EQ(ParseLocalTime(today + QStringLiteral(" 25:00"), false), std::nullopt);
}

}  // namespace
}  // namespace nodrel
