// Where a failure lies, as the monitor finds it in a network the test builds, broken one thing at a
// time, and as the user reads it: the newest cell's readout and the journal's row of the outage.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <cerrno>
#include <memory>

#include "journal.h"
#include "journal_reader.h"
#include "outcome_readout.h"
#include "ping_thread.h"
#include "support/isolated_network.h"

namespace nodrel {
namespace {

bool Shell(const std::string& commands) {
    return std::system(("sh -ec '" + commands + "' > /dev/null").c_str()) == 0;
}
bool OnRouter(const std::string& commands) {
    return Shell("ip netns exec router sh -ec \"" + commands + "\"");
}

// One end of a link, up: 192.168.1.x or 198.51.100.x (`ipv4`), 2001:db8:`net`::`host` and
// fe80::`host`.
std::string LinkEnd(const std::string& device, const std::string& ipv4, char net, char host) {
    const std::string dev = " dev " + device;
    return "ip address add " + ipv4 + "/24" + dev + "; ip address add 2001:db8:" + net +
           "::" + host + "/64" + dev + " nodad; ip address add fe80::" + host + "/64" + dev +
           " nodad; ip link set " + device + " up";
}

// This process becomes a computer linked to a router, linked to a provider that holds the host:
//   c0 192.168.1.2/24 2001:db8:1::2/64 fe80::2 -- r0 .1 ::1 fe80::1 (router, forwarding)
//   r1 198.51.100.1/24 2001:db8:2::1/64 fe80::1 -- p0 .2 ::2 fe80::2 (provider)
// The router's and the provider's namespaces are named in a folder of this process's own mounts,
// so they end with it. Every end has a link-local address: a router asks for the next hop of a
// packet it forwards from its own. Empty on success, else why it could not be built.
std::string BuildRoutedNetwork() {
    if (const std::string whyNot = testing::EnterIsolatedNetwork(); !whyNot.empty()) return whyNot;
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        (mkdir("/run/netns", 0755) != 0 && errno != EEXIST) ||
        mount("tmpfs", "/run/netns", "tmpfs", 0, nullptr) != 0) {
        return "needs private mounts (run as root)";
    }
    // No address of the kernel's own, and none waiting for duplicate detection.
    const std::string quiet =
        "sysctl -qw net.ipv6.conf.default.addr_gen_mode=1 net.ipv6.conf.all.accept_dad=0 "
        "net.ipv6.conf.default.accept_dad=0; ip link set lo up";
    const bool built =
        Shell("command -v ip && ip netns add router && ip netns add provider; " + quiet +
              "; sysctl -qw net.ipv4.ping_group_range=\"0 2147483647\"") &&
        OnRouter(quiet + "; sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1") &&
        Shell("ip netns exec provider sh -ec \"" + quiet + "\"") &&
        Shell("ip link add c0 type veth peer name r0 netns router; " +
              LinkEnd("c0", "192.168.1.2", '1', '2') +
              "; ip route add default via 192.168.1.1; "
              "ip -6 route add default via fe80::1 dev c0") &&
        OnRouter("ip link add r1 type veth peer name p0 netns provider; " +
                 LinkEnd("r0", "192.168.1.1", '1', '1') + "; " +
                 LinkEnd("r1", "198.51.100.1", '2', '1')) &&
        Shell("ip netns exec provider sh -ec \"" + LinkEnd("p0", "198.51.100.2", '2', '2') +
              "; ip route add default via 198.51.100.1; "
              "ip -6 route add default via 2001:db8:2::1\"");
    return built ? std::string() : "could not build the routed network (needs ip)";
}

struct Family {
    const char* name;
    const char* host;       // in the provider's network
    const char* neighbour;  // on the computer's own link
    const char* router;     // as the monitor names it
    const char* ip;         // the family's `ip` command
    const char* echoIgnored;
    const char* forwarding;
    const char* otherRouter;  // another address of the router: as `ip route` takes it, as named
    const char* otherRouterNamed;
};

void PrintTo(const Family& family, std::ostream* out) {
    *out << family.name;
}

constexpr Family kIpv4{"ipv4",
                       "198.51.100.2",
                       "192.168.1.1",
                       "192.168.1.1",
                       "ip -4",
                       "net.ipv4.icmp_echo_ignore_all",
                       "net.ipv4.ip_forward",
                       "192.168.1.254",
                       "192.168.1.254"};
constexpr Family kIpv6{"ipv6",
                       "2001:db8:2::2",
                       "2001:db8:1::1",
                       "fe80::1%c0",
                       "ip -6",
                       "net.ipv6.icmp.echo_ignore_all",
                       "net.ipv6.conf.all.forwarding",
                       "fe80::254 dev c0",
                       "fe80::254%c0"};

class FailureLocatorTest : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        if (const std::string whyNot = BuildRoutedNetwork(); !whyNot.empty())
            GTEST_SKIP() << whyNot;
        ASSERT_TRUE(folder.isValid());
    }

    void TearDown() override { worker.reset(); }

    // The monitor probing `host` as the window has it do: each outcome drawn, watched for outages
    // and journaled. Made only now: its sockets belong to the network they are made in.
    void Start(const std::string& host) {
        journal = std::make_unique<TJournal>(folder.filePath("Nodrel.sqlite"));
        QObject::connect(&watch, &TOutageWatch::Started, journal.get(), &TJournal::OutageStarted);
        journal->Start();
        hostText = QString::fromStdString(host);
        worker = std::make_unique<TPingThread>(&window, [this](bool ok, const TOutcomeRecord& r) {
            history.AddResult(ok, r);
            watch.Add(ok, r, hostText);
            journal->Add(ok, r, hostText);
            answers += ok ? 1 : 0;
        });
        worker->Ping().SetAddress(hostText);
        hosts.SetCurrent(uint32_t(worker->Ping().AddressGeneration()), hostText, history);
        worker->Ping().SetTimeout(1000);  // the shortest the program takes: load never exceeds it
        worker->SetInterval(100);
        worker->Resume();
    }

    bool RunUntil(const std::function<bool()>& done) {
        const QDeadlineTimer deadline(20000);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents({}, 50);
        return done();
    }

    // Waits for `more` answers; the router's echo is learned after the first.
    bool Answered(int more) {
        const int until = answers + more;
        return RunUntil([&] { return answers >= until; });
    }

    // Once the outage is journaled: its row's "cause|gateway", and the sentence in the readout of
    // the newest cell, between why it failed and the summary.
    void ExpectFailure(const std::string& cause, const std::string& sentence) {
        TJournalReader reader(journal->Path());
        std::string row;
        RunUntil([&] {
            const auto outages =
                reader.Read(TJournalSpan::Hour, QDateTime::currentMSecsSinceEpoch(), 0).outages;
            if (!outages.empty()) row = (outages[0].Cause + '|' + outages[0].Gateway).toStdString();
            return !outages.empty();
        });
        EXPECT_EQ(row, cause);
        const std::string readout = OutcomeReadout(history, settings, 1, hosts).toStdString();
        EXPECT_NE(readout.find('\n' + sentence + '\n'), std::string::npos) << readout;
    }

    const Family& family = GetParam();
    const std::string router = family.router;
    const std::string silenced = std::string("sysctl -qw ") + family.echoIgnored + "=1";
    const std::string unforwarded = std::string("sysctl -qw ") + family.forwarding + "=0";
    int argc = 1;
    char programName[8] = "locator";
    char* argv[1] = {programName};
    QCoreApplication application{argc, argv};
    QTemporaryDir folder;
    QObject window;
    QString hostText;
    TResultHistory history;
    TProbedHosts hosts;
    TRenderSettings settings;
    TOutageWatch watch;
    std::unique_ptr<TJournal> journal;
    int answers = 0;
    std::unique_ptr<TPingThread> worker;
};

TEST_P(FailureLocatorTest, ACableOutIsTheLink) {
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(OnRouter("ip link set r0 down"));
    ExpectFailure("link|", "no network connection: c0 has no link");
}

TEST_P(FailureLocatorTest, NoRouteIsTheRoute) {
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(Shell(std::string(family.ip) + " route del default"));
    ExpectFailure("route|", "no route to " + std::string(family.host) +
                                ": this computer is not connected to a network that reaches it");
}

TEST_P(FailureLocatorTest, ASilentRouterIsTheRouter) {
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(OnRouter(silenced + "; " + unforwarded));
    ExpectFailure("router|" + router, "your router " + router + " does not answer either");
}

TEST_P(FailureLocatorTest, TheProvidersSideCutIsBeyond) {
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(Shell("ip netns exec provider ip link set p0 down"));
    ExpectFailure("beyond|" + router,
                  "your router " + router + " answers: the fault is past your network");
}

TEST_P(FailureLocatorTest, ASilentHostOnTheLinkIsTheHost) {
    Start(family.neighbour);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(OnRouter(silenced));
    ExpectFailure("host|",
                  std::string(family.neighbour) + " is on your own network and does not answer");
}

TEST_P(FailureLocatorTest, ANameThatDoesNotResolveIsTheName) {
    for (const auto& [path, lines] : {std::pair("/etc/nsswitch.conf", "hosts: files\n"),
                                      std::pair("/etc/hosts", "127.0.0.1 localhost\n")}) {
        if (const std::string whyNot = testing::UsePrivateFile(path, lines); !whyNot.empty())
            GTEST_SKIP() << whyNot;
    }
    Start("gone.test");
    ExpectFailure("name|", "the name service does not answer");
}

TEST_P(FailureLocatorTest, ARouterThatNeverAnswersEchoIsNotBlamed) {
    ASSERT_TRUE(OnRouter(silenced));
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(OnRouter(unforwarded));
    ExpectFailure("unknown|" + router, "your router " + router +
                                           " does not answer echo requests, so the fault cannot "
                                           "be placed");
}

// The route moves to another router while all is well: that one's echo is learned anew.
TEST_P(FailureLocatorTest, ARouteThroughAnotherRouterIsLearnedWhileAllIsWell) {
    ASSERT_TRUE(OnRouter(silenced));
    Start(family.host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(OnRouter(std::string("sysctl -qw ") + family.echoIgnored +
                         "=0; ip address add 192.168.1.254/24 dev r0; "
                         "ip address add fe80::254/64 dev r0 nodad"));
    ASSERT_TRUE(Shell(std::string(family.ip) + " route replace default via " + family.otherRouter));
    ASSERT_TRUE(Answered(3));
    ASSERT_TRUE(OnRouter(silenced + "; " + unforwarded));
    const std::string other = family.otherRouterNamed;
    ExpectFailure("router|" + other, "your router " + other + " does not answer either");
}

INSTANTIATE_TEST_SUITE_P(Families, FailureLocatorTest, ::testing::Values(kIpv4, kIpv6),
                         [](const auto& each) { return each.param.name; });

}  // namespace
}  // namespace nodrel
