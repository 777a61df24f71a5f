#include "ping.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <string>

#include "fake_echo_platform.h"
#include "support/isolated_network.h"

namespace nodrel {
namespace {

using testing::FakeEchoPlatform;

TEST(TPingComponent, ForwardsTheRequesterDefaultsAndSettings) {
    FakeEchoPlatform platform;
    TPing ping(nullptr, platform);
    EXPECT_EQ(ping.Size(), 56);
    EXPECT_EQ(ping.Timeout(), 4000);
    EXPECT_EQ(ping.TTL(), 64);
    EXPECT_EQ(ping.Flags(), 0);
    EXPECT_EQ(ping.LastReply().Status, 0u);
    ping.SetTimeout(5000);
    ping.SetAddress("192.0.2.9");
    EXPECT_EQ(ping.Timeout(), 5000);
    EXPECT_EQ(ping.Address(), "192.0.2.9");
    EXPECT_EQ(ping.Ping(), 1);  // no handlers set: nothing fires
}

TEST(TPingComponent, RequesterFailureReachesTheCaller) {
    FakeEchoPlatform platform(FakeEchoPlatform::Failure::Handle);
    EXPECT_THROW(TPing(nullptr, platform), TICMPException);
}

TEST(TPingComponent, RelaysEventsWithItselfAsSender) {
    FakeEchoPlatform platform;
    platform.status = 11003;
    platform.replies = 0;
    TPing ping(nullptr, platform);
    ping.SetAddress("192.0.2.9");
    QStringList events;
    ping.SetOnEchoRequest([&](TPing* sender, TICMP* icmp) {
        EXPECT_EQ(sender, &ping);
        EXPECT_NE(icmp, nullptr);
        events << "request";
    });
    ping.SetOnEchoReply([&](TPing* sender, TICMP*, int32_t status) {
        events << QString("reply %1 status %2").arg(status).arg(sender->LastReply().Status);
    });
    ping.Ping();
    ping.SetAddress("255.255.255.255");
    ping.SetOnDisplay([&](TPing* sender, TICMP*, const QString& msg) {
        EXPECT_EQ(sender, &ping);
        events << msg;
    });
    ping.Ping();
    EXPECT_EQ(events, QStringList({"request", "reply 0 status 11003", "Invalid host address"}));
    EXPECT_EQ(ping.LastReply().Status, 11003u);  // kept from the last send
}

// Real echo exchanges with this machine, inside a namespace of the test's own.
class TPingLoopback : public ::testing::TestWithParam<std::pair<const char*, const char*>> {
protected:
    void SetUp() override {
        NODREL_REQUIRE_ISOLATED_NETWORK();
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    }
};

// Names resolve through a hosts file of the test's own: one with both families, one with IPv6
// only; the resolver orders what it finds by `gaiConf` (empty: the default of RFC 6724, which puts
// ::1 first).
std::string UsePrivateResolver(const std::string& gaiConf) {
    std::string whyNot = testing::UsePrivateHostsFile(
        "127.0.0.1 localhost both.nodrel.test\n::1 both.nodrel.test six.nodrel.test\n");
    if (whyNot.empty()) whyNot = testing::UsePrivateFile("/etc/gai.conf", gaiConf);
    return whyNot;
}

TEST_P(TPingLoopback, AnswersWithStatusZeroInsideTheReplyEvent) {
    const std::string whyNot = UsePrivateResolver("");
    if (!whyNot.empty()) GTEST_SKIP() << whyNot;
    const auto [typed, probed] = GetParam();
    TPing ping;
    ping.SetAddress(typed);
    ping.SetTimeout(2000);
    QStringList events;
    ping.SetOnEchoRequest([&](TPing*, TICMP*) { events << "request"; });
    std::string probedText;
    bool changed = true;
    ping.SetOnEchoReply([&](TPing* sender, TICMP* icmp, int32_t status) {
        EXPECT_EQ(sender->LastReply().Status, 0u);
        events << QString("reply %1").arg(status);
        probedText = platform::AddressText(icmp->ResolvedAddress());
        changed = icmp->AddressChanged();
    });
    EXPECT_EQ(ping.Ping(), 1);
    EXPECT_EQ(events, QStringList({"request", "reply 1"}));
    EXPECT_EQ(probedText, probed);
    EXPECT_FALSE(changed);
}

INSTANTIATE_TEST_SUITE_P(Hosts, TPingLoopback,
                         ::testing::Values(std::pair{"127.0.0.1", "127.0.0.1"},
                                           std::pair{"localhost", "127.0.0.1"},
                                           std::pair{"\t127.0.0.1 ", "127.0.0.1"},
                                           std::pair{" ::1", "::1"}, std::pair{"[::1]", "::1"},
                                           std::pair{"both.nodrel.test", "::1"},
                                           std::pair{"six.nodrel.test", "::1"}),
                         [](const auto& host) {
                             std::string name = std::to_string(host.index) + "_" + host.param.first;
                             std::ranges::replace_if(
                                 name, [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// The resolver's order is the system's: gai.conf may put IPv4 first as well.
TEST(TPingResolverOrder, GaiConfPreferringIpv4IsHonoured) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    const std::string whyNot = UsePrivateResolver("precedence ::ffff:0:0/96 100\n");
    if (!whyNot.empty()) GTEST_SKIP() << whyNot;
    TPing ping;
    ping.SetAddress("both.nodrel.test");
    ping.SetTimeout(2000);
    std::string probed;
    ping.SetOnEchoReply([&](TPing*, TICMP* icmp, int32_t) {
        probed = platform::AddressText(icmp->ResolvedAddress());
    });
    EXPECT_EQ(ping.Ping(), 1);
    EXPECT_EQ(probed, "127.0.0.1");
}

TEST(TPingSilentHost, TimesOutWithStatus11010) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    TPing ping;
    ping.SetAddress("127.0.0.1");
    ping.SetTimeout(200);
    int32_t reported = -1;
    ping.SetOnEchoReply([&](TPing*, TICMP*, int32_t status) { reported = status; });
    EXPECT_EQ(ping.Ping(), 0);
    EXPECT_EQ(reported, 0);
    EXPECT_EQ(ping.LastReply().Status, platform::IP_REQ_TIMED_OUT);
}

TEST(TPingBadSize, OversizedRequestIsAFailedProbeNotACrash) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    TPing ping;
    ping.SetAddress("127.0.0.1");
    ping.SetTimeout(500);
    ping.SetSize(-1);  // 65535 bytes: more than one IPv4 packet carries
    EXPECT_EQ(ping.Ping(), 0);
    EXPECT_NE(ping.LastReply().Status, 0u);
    ping.SetSize(0);
    EXPECT_EQ(ping.Ping(), 1);
}

}  // namespace
}  // namespace nodrel
