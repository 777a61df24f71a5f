#include "outage_alerts.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <string>

#include "journal_text.h"
#include "outage_notice.h"

namespace nodrel {
namespace {

// What the alerts told for a run of outcomes ('S' answered, 'F' failed, one a second from 0 s):
// "R<failures>" raised, "C<failures>" cleared, "W<failures>" withdrawn; "z" sleeps, "w" wakes.
std::string Told(const std::string& outcomes) {
    TOutageWatch watch;
    TOutageAlerts alerts(watch);
    std::string told;
    const auto note = [&](char what) {
        return [&, what](const TOutage& outage) {
            told += what + std::to_string(outage.Failures) + " ";
        };
    };
    QObject::connect(&alerts, &TOutageAlerts::Raised, note('R'));
    QObject::connect(&alerts, &TOutageAlerts::Cleared, note('C'));
    QObject::connect(&alerts, &TOutageAlerts::Withdrawn, note('W'));
    int64_t second = 0;
    for (const char outcome : outcomes) {
        if (outcome == 'z') {
            alerts.Sleeping();
            watch.Interrupt(second * 1000);
        } else if (outcome == 'w') {
            alerts.Woke(second * 1000);
        } else {
            TOutcomeRecord record;
            record.StartTime = second++ * 1000;
            watch.Add(outcome == 'S', record);
        }
    }
    return told;
}

TEST(OutageAlerts, EachOutageIsToldAtItsSecondFailureExceptInTheGraceAfterWaking) {
    EXPECT_EQ(Told("SFFFSFS"), "R2 C3 ");
    EXPECT_EQ(Told("SFFzwS"), "R2 W2 ");
    // 30 failures after waking, at 0 to 29 s: held; the 31st, at 30 s, tells it.
    EXPECT_EQ(Told("w" + std::string(30, 'F') + "S"), "");
    EXPECT_EQ(Told("w" + std::string(31, 'F') + "S"), "R31 C31 ");
    // After the grace, as ever.
    EXPECT_EQ(Told("w" + std::string(30, 'S') + "FFS"), "R2 C2 ");
}

// The texts of the notifications, as they read.
TEST(OutageNotice, SaysSinceWhenAndWhyAndAfterHowLong) {
    TOutage outage;
    outage.StartedMs = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 10)).toMSecsSinceEpoch();
    outage.LatestFailure.Status = 11002;
    outage.EndedMs = outage.StartedMs + 192'400;
    EXPECT_EQ(OutageStartNotice("127.0.0.1", outage).body,
              "127.0.0.1 has not answered since 14:05:10: network unreachable");
    EXPECT_EQ(OutageEndNotice("127.0.0.1", outage).body,
              "127.0.0.1 answers again after 3 min 12 s");
    EXPECT_EQ(DurationText(7'500'000), "2 h 5 min");
}

}  // namespace
}  // namespace nodrel
