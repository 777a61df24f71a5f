#include "failure_locator.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>

#include "icmp.h"
#include "support/isolated_network.h"
#include "support/routed_network.h"
#include "support/shell_command.h"

namespace nodrel {
namespace {

using namespace std::chrono_literals;

struct Family {
    const char* name;
    const char* host;              // in the provider's network
    const char* neighbour;         // on the computer's own link
    const char* router;            // as the sentences name it
    const char* otherRouter;       // another address of the router, as `ip route` takes it
    const char* otherRouterShown;  // and as the sentences name it
    const char* ip;                // the family's `ip` command
    const char* echoIgnored;       // the sysctl that silences echo
    const char* forwarding;        // the sysctl that forwards
};

constexpr Family kIpv4{.name = "ipv4",
                       .host = "198.51.100.2",
                       .neighbour = "192.168.1.1",
                       .router = "192.168.1.1",
                       .otherRouter = "192.168.1.254",
                       .otherRouterShown = "192.168.1.254",
                       .ip = "ip -4",
                       .echoIgnored = "net.ipv4.icmp_echo_ignore_all",
                       .forwarding = "net.ipv4.ip_forward"};
constexpr Family kIpv6{.name = "ipv6",
                       .host = "2001:db8:2::2",
                       .neighbour = "2001:db8:1::1",
                       .router = "fe80::1%c0",
                       .otherRouter = "fe80::254 dev c0",
                       .otherRouterShown = "fe80::254%c0",
                       .ip = "ip -6",
                       .echoIgnored = "net.ipv6.icmp.echo_ignore_all",
                       .forwarding = "net.ipv6.conf.all.forwarding"};

void PrintTo(const Family& family, std::ostream* out) {
    *out << family.name;
}

constexpr uint32_t kTimeout = 300;

// The computer of a routed network, probing the provider's host as the monitor does, with the
// locator saying where each failure lies.
class FailureLocatorTest : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        if (const std::string whyNot = network.Build(); !whyNot.empty()) GTEST_SKIP() << whyNot;
        // Sockets belong to the network they are made in: both only now.
        locator = std::make_unique<TFailureLocator>();
        probe = std::make_unique<TICMP>();
        probe->SetTimeout(kTimeout);
        ASSERT_TRUE(testing::PollUntil([&] { return !FailedProbe(GetParam().host); }))
            << "the host never answered";
    }

    // Probes `host`; nothing when it answered, which the locator follows as the monitor would.
    std::optional<TFailedProbe> FailedProbe(const std::string& host) {
        probe->SetAddress(QString::fromStdString(host));
        if (probe->Ping() > 0) {
            const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
            if (locator->FollowDue(probe->ResolvedAddress(), now))
                locator->Follow(probe->ResolvedAddress(), now, kTimeout);
            return std::nullopt;
        }
        TFailedProbe failed;
        failed.NameFailed = !probe->AddressResolved();
        if (!failed.NameFailed) failed.Address = probe->ResolvedAddress();
        failed.Status = probe->LastReply().Status;
        failed.Reporter = ReporterOf(probe->LastReply());
        return failed;
    }

    // The cause word of the host's next failed probe, and its sentence.
    std::pair<std::string, std::string> PlaceOfNextFailure(const std::string& host) {
        std::optional<TFailedProbe> failed;
        EXPECT_TRUE(testing::PollUntil([&] { return (failed = FailedProbe(host)).has_value(); }))
            << "the probe kept being answered";
        if (!failed) return {};
        QCoreApplication::processEvents();
        const TFailurePlace place = locator->Locate(*failed, kTimeout);
        return {CauseWord(place.Cause).toStdString(),
                PlaceSentence(place, QString::fromStdString(host)).toStdString()};
    }

    std::string Router() const { return GetParam().router; }
    std::string Silenced() const {
        return std::string("sysctl -qw ") + GetParam().echoIgnored + "=1";
    }
    std::string Unforwarded() const {
        return std::string("sysctl -qw ") + GetParam().forwarding + "=0";
    }

    int argc = 1;
    char name[8] = "locator";
    char* argv[1] = {name};
    QCoreApplication application{argc, argv};
    testing::RoutedNetwork network;
    std::unique_ptr<TFailureLocator> locator;
    std::unique_ptr<TICMP> probe;
};

using Place = std::pair<std::string, std::string>;

TEST_P(FailureLocatorTest, ACableOutIsTheLink) {
    ASSERT_TRUE(network.OnRouter("ip link set r0 down"));
    EXPECT_EQ(PlaceOfNextFailure(GetParam().host),
              Place("link", "no network connection: c0 has no link"));
}

TEST_P(FailureLocatorTest, NoRouteIsTheRoute) {
    ASSERT_TRUE(network.OnComputer(std::string(GetParam().ip) + " route del default"));
    EXPECT_EQ(PlaceOfNextFailure(GetParam().host),
              Place("route", "no route to " + std::string(GetParam().host) +
                                 ": this computer is not connected to a network that reaches it"));
}

TEST_P(FailureLocatorTest, ASilentRouterIsTheRouter) {
    ASSERT_TRUE(network.OnRouter(Silenced() + "; " + Unforwarded()));
    EXPECT_EQ(PlaceOfNextFailure(GetParam().host),
              Place("router", "your router " + Router() + " does not answer either"));
}

TEST_P(FailureLocatorTest, TheProvidersSideCutIsBeyond) {
    ASSERT_TRUE(network.OnProvider("ip link set p0 down"));
    EXPECT_EQ(
        PlaceOfNextFailure(GetParam().host),
        Place("beyond", "your router " + Router() + " answers: the fault is past your network"));
}

TEST_P(FailureLocatorTest, ASilentHostOnTheLinkIsTheHost) {
    ASSERT_TRUE(network.OnRouter(Silenced()));
    EXPECT_EQ(PlaceOfNextFailure(GetParam().neighbour).first, "host");
}

TEST_P(FailureLocatorTest, ANameThatDoesNotResolveIsTheName) {
    for (const auto& [path, lines] : {std::pair("/etc/nsswitch.conf", "hosts: files\n"),
                                      std::pair("/etc/hosts", "127.0.0.1 localhost\n")}) {
        if (const std::string whyNot = testing::UsePrivateFile(path, lines); !whyNot.empty())
            GTEST_SKIP() << whyNot;
    }
    EXPECT_EQ(PlaceOfNextFailure("gone.test"), Place("name", "the name service does not answer"));
}

TEST_P(FailureLocatorTest, ARouterThatNeverAnswersEchoIsNotBlamed) {
    // A monitor started while the router ignores echo learns so: the host answers all the same.
    ASSERT_TRUE(network.OnRouter(Silenced()));
    locator = std::make_unique<TFailureLocator>();
    ASSERT_FALSE(FailedProbe(GetParam().host));
    ASSERT_TRUE(network.OnRouter(Unforwarded()));
    EXPECT_EQ(PlaceOfNextFailure(GetParam().host).first, "unknown");
}

TEST_P(FailureLocatorTest, ARouteThroughAnotherRouterIsLearnedWhileAllIsWell) {
    // Learned at the start: the router does not answer echo. Then the route moves to another
    // router, which does.
    ASSERT_TRUE(network.OnRouter(Silenced()));
    locator = std::make_unique<TFailureLocator>();
    ASSERT_FALSE(FailedProbe(GetParam().host));
    ASSERT_TRUE(network.OnRouter(std::string("sysctl -qw ") + GetParam().echoIgnored + "=0" +
                                 "; ip address add 192.168.1.254/24 dev r0" +
                                 "; ip address add fe80::254/64 dev r0 nodad"));
    ASSERT_TRUE(network.OnComputer(std::string(GetParam().ip) + " route replace default via " +
                                   GetParam().otherRouter));
    QCoreApplication::processEvents();
    ASSERT_FALSE(FailedProbe(GetParam().host));

    ASSERT_TRUE(network.OnRouter(Silenced() + "; " + Unforwarded()));
    EXPECT_EQ(
        PlaceOfNextFailure(GetParam().host).second,
        "your router " + std::string(GetParam().otherRouterShown) + " does not answer either");
}

INSTANTIATE_TEST_SUITE_P(Families, FailureLocatorTest, ::testing::Values(kIpv4, kIpv6),
                         [](const auto& family) { return family.param.name; });

}  // namespace
}  // namespace nodrel
