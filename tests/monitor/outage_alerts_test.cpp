#include "outage_alerts.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QDateTime>
#include <string>

#include "outage_notice.h"

namespace nodrel {
namespace {

TFailurePlace Beyond() {
    TFailurePlace place;
    place.Cause = TFailureCause::Beyond;
    place.Gateway = platform::IpAddress::FromIpv4(htonl(0xC0A80101));  // 192.168.1.1
    return place;
}

// What the alerts told for a run of outcomes ('S' answered, 'F' failed, 'P' failed past the
// router, one a second from 0 s): "R<failures>" raised, "M<failures>" relocated, "C<failures>"
// cleared, "A<failures>" abandoned, "W<failures>" withdrawn; "z" sleeps, "w" wakes, "h" changes
// the host.
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
    QObject::connect(&alerts, &TOutageAlerts::Relocated, note('M'));
    QObject::connect(&alerts, &TOutageAlerts::Cleared, note('C'));
    QObject::connect(&alerts, &TOutageAlerts::Abandoned, note('A'));
    QObject::connect(&alerts, &TOutageAlerts::Withdrawn, note('W'));
    int64_t second = 0;
    QString host = QStringLiteral("127.0.0.1");
    for (const char outcome : outcomes) {
        if (outcome == 'z') {
            watch.Interrupt(second * 1000);
        } else if (outcome == 'w') {
            alerts.Woke(second * 1000);
        } else if (outcome == 'h') {
            host = QStringLiteral("127.0.0.2");
        } else {
            TOutcomeRecord record;
            record.StartTime = second++ * 1000;
            if (outcome == 'P') record.Place = Beyond();
            watch.Add(outcome == 'S', record, host);
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
    // The next host's first outcome ends the outage unanswered, and starts its own streak.
    EXPECT_EQ(Told("FFhSFFS"), "R2 A2 R2 C2 ");
    EXPECT_EQ(Told("FhFFFS"), "R2 C3 ");
    // Where the fault lies moves during the outage: told again, once per move.
    EXPECT_EQ(Told("FFPPFS"), "R2 M3 M5 C5 ");
}

// The texts of the notifications, as they read.
TEST(OutageNotice, SaysSinceWhenAndWhyAndAfterHowLong) {
    TOutage outage;
    outage.Host = QStringLiteral("127.0.0.1");
    outage.StartedMs = QDateTime(QDate::currentDate(), QTime(14, 5, 10)).toMSecsSinceEpoch();
    outage.LatestFailure.Status = 11002;
    outage.EndedMs = outage.StartedMs + 192'400;
    EXPECT_EQ(OutageStartNotice(outage).body,
              "127.0.0.1 has not answered since 14:05:10: network unreachable");
    EXPECT_EQ(OutageEndNotice(outage).body, "127.0.0.1 answers again after 3 min 12 s");
    outage.LatestFailure.Place = Beyond();
    EXPECT_EQ(OutageStartNotice(outage).body,
              "127.0.0.1 has not answered since 14:05:10: your router 192.168.1.1 answers, the "
              "fault is past your network");
    outage.End = TOutageEnd::HostChanged;
    const platform::DesktopNotice stopped = OutageEndNotice(outage);
    EXPECT_EQ(stopped.summary, "Stopped watching 127.0.0.1");
    EXPECT_EQ(stopped.body,
              "stopped watching 127.0.0.1 after 3 min 12 s; it had not answered since 14:05:10");
    EXPECT_FALSE(stopped.urgent);

    // A long host fits the summary's line, cut; the body names it whole.
    outage.Host = QString(150, u'a') + QStringLiteral(".example");
    const platform::DesktopNotice start = OutageStartNotice(outage);
    EXPECT_EQ(start.summary, "No answer from " + QString(39, u'a') + u'\u2026');
    EXPECT_TRUE(start.body.startsWith(outage.Host + " has not answered"));
}

}  // namespace
}  // namespace nodrel
