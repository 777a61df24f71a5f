// Where a failure lies, as the monitor finds it in a network of namespaces the test builds, and
// as the user reads it: the readout of the newest cell and the journal's row of the outage.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <memory>

#include "journal.h"
#include "journal_reader.h"
#include "outcome_readout.h"
#include "ping_thread.h"
#include "support/isolated_network.h"
#include "support/routed_network.h"

namespace nodrel {
namespace {

struct Family {
    const char* name;
    const char* host;         // in the provider's network
    const char* neighbour;    // on the computer's own link
    const char* router;       // as the monitor names it
    const char* otherRouter;  // another address of the router, as `ip route` takes it
    const char* otherRouterShown;
    const char* ip;           // the family's `ip` command
    const char* echoIgnored;  // the sysctl that silences echo
    const char* forwarding;   // the sysctl that forwards
};

void PrintTo(const Family& family, std::ostream* out) {
    *out << family.name;
}

constexpr Family kIpv4{"ipv4",
                       "198.51.100.2",
                       "192.168.1.1",
                       "192.168.1.1",
                       "192.168.1.254",
                       "192.168.1.254",
                       "ip -4",
                       "net.ipv4.icmp_echo_ignore_all",
                       "net.ipv4.ip_forward"};
constexpr Family kIpv6{"ipv6",
                       "2001:db8:2::2",
                       "2001:db8:1::1",
                       "fe80::1%c0",
                       "fe80::254 dev c0",
                       "fe80::254%c0",
                       "ip -6",
                       "net.ipv6.icmp.echo_ignore_all",
                       "net.ipv6.conf.all.forwarding"};

class FailureLocatorTest : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override {
        if (const std::string whyNot = network.Build(); !whyNot.empty()) GTEST_SKIP() << whyNot;
        ASSERT_TRUE(folder.isValid());
    }

    void TearDown() override { worker.reset(); }

    // The monitor, probing `host` as the window has it do: each outcome drawn, watched for
    // outages and journaled. Made only now: its sockets belong to the network they are made in.
    void Start(const std::string& host) {
        journal = std::make_unique<TJournal>(folder.filePath("Nodrel.sqlite"));
        QObject::connect(&watch, &TOutageWatch::Started, journal.get(), &TJournal::OutageStarted);
        QObject::connect(&watch, &TOutageWatch::Extended, journal.get(), &TJournal::OutageExtended);
        journal->Start();
        hostText = QString::fromStdString(host);
        worker = std::make_unique<TPingThread>(&window,
                                               [this](bool answered, const TOutcomeRecord& record) {
                                                   history.AddResult(answered, record);
                                                   watch.Add(answered, record, hostText);
                                                   journal->Add(answered, record, hostText);
                                                   answers += answered ? 1 : 0;
                                               });
        worker->Ping().SetAddress(hostText);
        hosts.SetCurrent(uint32_t(worker->Ping().AddressGeneration()), hostText, history);
        // The program's shortest: a loaded machine answers within it.
        worker->Ping().SetTimeout(1000);
        worker->SetInterval(100);
        worker->Resume();
    }

    bool RunUntil(const std::function<bool()>& done) {
        const QDeadlineTimer deadline(20000);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents({}, 50);
        return done();
    }

    // Waits for `more` answers: the router's echo is learned after the first.
    bool Answered(int more) {
        const int until = answers + more;
        return RunUntil([&] { return answers >= until; });
    }

    // The journaled outage's "cause|gateway", once there is one, and what the newest cell's
    // readout says then.
    std::pair<std::string, std::string> Failure() {
        TJournalReader reader(journal->Path());
        std::string row;
        RunUntil([&] {
            const TJournalView view =
                reader.Read(TJournalSpan::Hour, QDateTime::currentMSecsSinceEpoch(), 0);
            if (view.outages.empty()) return false;
            row = (view.outages[0].Cause + u'|' + view.outages[0].Gateway).toStdString();
            return true;
        });
        return {row, OutcomeReadout(history, settings, 1, hosts).toStdString()};
    }

    void ExpectFailure(const std::string& cause, const std::string& sentence) {
        const auto [row, readout] = Failure();
        EXPECT_EQ(row, cause);
        EXPECT_NE(readout.find('\n' + sentence + '\n'), std::string::npos) << readout;
    }

    std::string Router() const { return GetParam().router; }
    std::string Sysctl(const char* key, int value) const {
        return std::string("sysctl -qw ") + key + "=" + std::to_string(value);
    }
    std::string Silenced() const { return Sysctl(GetParam().echoIgnored, 1); }
    std::string Unforwarded() const { return Sysctl(GetParam().forwarding, 0); }

    int argc = 1;
    char name[8] = "locator";
    char* argv[1] = {name};
    QCoreApplication application{argc, argv};
    testing::RoutedNetwork network;
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
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnRouter("ip link set r0 down"));
    ExpectFailure("link|", "no network connection: c0 has no link");
}

TEST_P(FailureLocatorTest, NoRouteIsTheRoute) {
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnComputer(std::string(GetParam().ip) + " route del default"));
    ExpectFailure("route|", "no route to " + std::string(GetParam().host) +
                                ": this computer is not connected to a network that reaches it");
}

TEST_P(FailureLocatorTest, ASilentRouterIsTheRouter) {
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnRouter(Silenced() + "; " + Unforwarded()));
    ExpectFailure("router|" + Router(), "your router " + Router() + " does not answer either");
}

TEST_P(FailureLocatorTest, TheProvidersSideCutIsBeyond) {
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnProvider("ip link set p0 down"));
    ExpectFailure("beyond|" + Router(),
                  "your router " + Router() + " answers: the fault is past your network");
}

TEST_P(FailureLocatorTest, ASilentHostOnTheLinkIsTheHost) {
    Start(GetParam().neighbour);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnRouter(Silenced()));
    ExpectFailure(
        "host|", std::string(GetParam().neighbour) + " is on your own network and does not answer");
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
    ASSERT_TRUE(network.OnRouter(Silenced()));
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnRouter(Unforwarded()));
    ExpectFailure("unknown|" + Router(), "your router " + Router() +
                                             " does not answer echo requests, so the fault "
                                             "cannot be placed");
}

// The route moves to another router while all is well: that one's echo is learned anew.
TEST_P(FailureLocatorTest, ARouteThroughAnotherRouterIsLearnedWhileAllIsWell) {
    ASSERT_TRUE(network.OnRouter(Silenced()));
    Start(GetParam().host);
    ASSERT_TRUE(Answered(2));
    ASSERT_TRUE(network.OnRouter(Sysctl(GetParam().echoIgnored, 0) +
                                 "; ip address add 192.168.1.254/24 dev r0" +
                                 "; ip address add fe80::254/64 dev r0 nodad"));
    ASSERT_TRUE(network.OnComputer(std::string(GetParam().ip) + " route replace default via " +
                                   GetParam().otherRouter));
    ASSERT_TRUE(Answered(3));
    ASSERT_TRUE(network.OnRouter(Silenced() + "; " + Unforwarded()));
    const std::string other = GetParam().otherRouterShown;
    ExpectFailure("router|" + other, "your router " + other + " does not answer either");
}

INSTANTIATE_TEST_SUITE_P(Families, FailureLocatorTest, ::testing::Values(kIpv4, kIpv6),
                         [](const auto& family) { return family.param.name; });

}  // namespace
}  // namespace nodrel
