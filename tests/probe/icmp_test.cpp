#include "icmp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QStringList>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "fake_echo_platform.h"
#include "support/isolated_network.h"

namespace nodrel {
namespace {

using testing::FakeEchoPlatform;
using Failure = FakeEchoPlatform::Failure;

struct ConstructionCase {
    Failure failure;
    const char* message;
    std::vector<std::string> log;
};

TEST(TICMPConstruction, EachFailureHasItsMessageAndReleasesWhatWasAcquired) {
    const ConstructionCase cases[] = {
        {Failure::SocketLayer, "Error initialising Winsock", {"start"}},
        {Failure::Library, "Unable to register icmp.dll", {"start", "stop"}},
        {Failure::Entry, "Error loading dll functions", {"start", "load", "free", "stop"}},
        {Failure::Handle, "Unable to get ping handle", {"start", "load", "free", "stop"}},
    };
    for (const auto& c : cases) {
        FakeEchoPlatform platform(c.failure);
        try {
            TICMP icmp(platform);
            ADD_FAILURE() << "constructed despite " << c.message;
        } catch (const TICMPException& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_EQ(platform.log, c.log) << c.message;
    }
}

TEST(TICMPConstruction, DestructionReleasesEverythingInReverseOrder) {
    FakeEchoPlatform platform;
    {
        TICMP icmp(platform);
        EXPECT_EQ(icmp.Size(), 56);
        EXPECT_EQ(icmp.Timeout(), 4000);
        EXPECT_EQ(icmp.TTL(), 64);
        EXPECT_EQ(icmp.Flags(), 0);
        EXPECT_EQ(icmp.LastErrorCode(), 0u);
        EXPECT_TRUE(icmp.Address().isEmpty());
        EXPECT_FALSE(icmp.AddressResolved());
        const platform::ICMP_ECHO_REPLY zero{};
        const platform::ICMP_ECHO_REPLY reply = icmp.LastReply();
        EXPECT_EQ(std::memcmp(&reply, &zero, sizeof reply), 0);
    }
    const std::vector<std::string> expected{"start", "load", "create", "close", "free", "stop"};
    EXPECT_EQ(platform.log, expected);
}

TEST(TICMPRequest, DataIsThePayloadTextCutOrPaddedWithSpaces) {
    const std::string text = "KAVREN Nodrel ICMP request.  kavren.example  ";
    ASSERT_EQ(text.size(), 45u);
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.1");
    const auto sent = [&](int32_t size) {
        icmp.SetSize(size);
        icmp.Ping();
        return platform.lastSend.data;
    };
    EXPECT_EQ(sent(56), text + std::string(11, ' '));
    EXPECT_EQ(sent(10), text.substr(0, 10));
    EXPECT_EQ(sent(0), std::string());
}

TEST(TICMPRequest, SendsTheLowBitsOfSizeTtlAndFlags) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.1");
    icmp.SetTTL(300);
    icmp.SetFlags(258);
    icmp.SetSize(70000);  // 70000 mod 65536
    icmp.SetTimeout(1234);
    EXPECT_EQ(icmp.Ping(), 1);
    EXPECT_EQ(platform.lastSend.destination, "192.0.2.1");
    EXPECT_EQ(platform.lastSend.options.Ttl, 44);
    EXPECT_EQ(platform.lastSend.options.Flags, 2);
    EXPECT_EQ(platform.lastSend.options.Tos, 0);
    EXPECT_EQ(platform.lastSend.options.OptionsSize, 0);
    EXPECT_EQ(platform.lastSend.requestSize, 4464);
    EXPECT_EQ(platform.lastSend.data.size(), 4464u);
    EXPECT_EQ(platform.lastSend.replySize, 4464 + sizeof(platform::ICMP_ECHO_REPLY));
    EXPECT_EQ(platform.lastSend.timeout, 1234u);
    EXPECT_TRUE(icmp.AddressResolved());

    icmp.SetSize(-1);  // the request never outgrows what the service is told
    icmp.SetTimeout(-5);
    icmp.Ping();
    EXPECT_EQ(platform.lastSend.requestSize, 65535);
    EXPECT_EQ(platform.lastSend.data.size(), 65535u);
    EXPECT_EQ(platform.lastSend.timeout, 0u);
}

TEST(TICMPRequest, OptionsComeFromValuesAnEchoRequestHandlerSets) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.1");
    icmp.SetOnEchoRequest([](TICMP* sender) { sender->SetTTL(5); });
    icmp.Ping();
    EXPECT_EQ(platform.lastSend.options.Ttl, 5);
}

TEST(TICMPEvents, AnsweredProbeFiresRequestThenReplyWithTheHeaderStored) {
    FakeEchoPlatform platform;
    platform.status = 11010;
    platform.replies = 0;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.7");
    QStringList events;
    icmp.SetOnEchoRequest([&](TICMP* sender) {
        EXPECT_EQ(sender, &icmp);
        events << "request";
    });
    icmp.SetOnEchoReply([&](TICMP* sender, int32_t status) {
        EXPECT_EQ(sender->LastReply().Status, 11010u);
        events << QString("reply %1").arg(status);
    });
    icmp.SetOnDisplay([&](TICMP*, const QString& msg) { events << msg; });
    EXPECT_EQ(icmp.Ping(), 0);
    EXPECT_EQ(events, QStringList({"request", "reply 0"}));
    EXPECT_EQ(icmp.LastErrorCode(), 11010u);  // from the platform the requester was given
}

TEST(TICMPEvents, AllOnesAddressIsNeverSent) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.7");
    icmp.Ping();
    const platform::ICMP_ECHO_REPLY before = icmp.LastReply();
    icmp.SetAddress("255.255.255.255");
    QStringList notices;
    icmp.SetOnDisplay([&](TICMP*, const QString& msg) { notices << msg; });
    icmp.SetOnEchoReply([&](TICMP*, int32_t) { notices << "reply"; });
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.LastErrorCode(), platform::IP_BAD_DESTINATION);
    }
    EXPECT_EQ(notices, QStringList({"Invalid host address", "Invalid host address"}));
    EXPECT_EQ(platform.sends, 1);
    EXPECT_EQ(icmp.LastReply().Address, before.Address);
}

TEST(TICMPEvents, HandlerExceptionLeavesPing) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("192.0.2.7");
    icmp.SetOnEchoReply([](TICMP*, int32_t) { throw std::runtime_error("handler"); });
    EXPECT_THROW(icmp.Ping(), std::runtime_error);
    icmp.SetOnEchoReply(nullptr);
    EXPECT_EQ(icmp.Ping(), 1);
}

TEST(TICMPResolution, SameTextKeepsTheCacheAndACaseChangeDropsIt) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("localhost");
    icmp.Ping();
    EXPECT_TRUE(icmp.AddressResolved());
    EXPECT_EQ(platform::AddressText(icmp.ResolvedAddress()), "127.0.0.1");
    icmp.SetAddress("localhost");
    EXPECT_TRUE(icmp.AddressResolved());
    icmp.SetAddress("LOCALHOST");
    EXPECT_FALSE(icmp.AddressResolved());
}

TEST(TICMPResolution, AddressWrittenDuringALookupIsLookedUpAfresh) {
    FakeEchoPlatform platform;
    std::vector<std::string> lookups;
    std::promise<void> lookupHeld;
    std::promise<void> lookupReleased;
    platform.resolver = [&](const char* name, platform::IpAddress& address) -> uint16_t {
        lookups.emplace_back(name);
        if (lookups.size() == 1) {
            lookupHeld.set_value();
            lookupReleased.get_future().wait();
        }
        address = platform::IpAddress::FromIpv4(
            inet_addr(lookups.back() == "old.test" ? "192.0.2.1" : "192.0.2.2"));
        return 0;
    };
    TICMP icmp(platform);
    icmp.SetAddress("old.test");
    std::thread prober([&] { icmp.Ping(); });
    lookupHeld.get_future().wait();
    icmp.SetAddress("new.test");
    lookupReleased.set_value();
    prober.join();
    EXPECT_EQ(platform.lastSend.destination, "192.0.2.1");  // the probe under way
    EXPECT_FALSE(icmp.AddressResolved());

    icmp.Ping();
    EXPECT_EQ(lookups, (std::vector<std::string>{"old.test", "new.test"}));
    EXPECT_EQ(platform.lastSend.destination, "192.0.2.2");
}

platform::IpAddress Ipv4(const char* dotted) {
    return platform::IpAddress::FromIpv4(inet_addr(dotted));
}

// A name whose address moves while the monitor runs: probes to the old address fail.
TEST(TICMPResolution, NameThatMovesIsLookedUpAgainAfterTheSecondFailure) {
    FakeEchoPlatform platform;
    int lookups = 0;
    platform::IpAddress current = Ipv4("192.0.2.7");
    uint16_t lookupError = 0;
    platform.resolver = [&](const char*, platform::IpAddress& address) -> uint16_t {
        ++lookups;
        address = current;
        return lookupError;
    };
    TICMP icmp(platform);
    icmp.SetAddress("mover.test");
    const auto probe = [&](uint32_t status) {
        platform.status = status;
        icmp.Ping();
        return platform.lastSend.destination;
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(probe(0), "192.0.2.7");
        platform.now += 60'000;
    }
    EXPECT_EQ(lookups, 1) << "no lookup while the host answers, however long";

    current = Ipv4("192.0.2.8");
    EXPECT_EQ(probe(11010), "192.0.2.7");
    EXPECT_EQ(probe(11010), "192.0.2.7");
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(probe(11010), "192.0.2.8");
    EXPECT_EQ(lookups, 2);
    EXPECT_TRUE(icmp.AddressChanged());
    EXPECT_EQ(platform::AddressText(icmp.ResolvedAddress()), "192.0.2.8");

    // Failures go on: one lookup a minute, and a failed one keeps the address known.
    lookupError = 11002;
    EXPECT_EQ(probe(11010), "192.0.2.8");
    EXPECT_FALSE(icmp.AddressChanged());
    platform.now += 59'999;
    probe(11010);
    EXPECT_EQ(lookups, 2);
    platform.now += 1;
    EXPECT_EQ(probe(11010), "192.0.2.8");
    EXPECT_EQ(lookups, 3);
    EXPECT_EQ(icmp.LookupAgainError(), 11002);
    // The name service failing too asks it no more often: a probe a second, a lookup a minute.
    for (int second = 1; second < 60; ++second) {
        platform.now += 1000;
        EXPECT_EQ(probe(11010), "192.0.2.8");
    }
    EXPECT_EQ(lookups, 3);
    platform.now += 1000;
    probe(11010);
    EXPECT_EQ(lookups, 4);
    lookupError = 0;
    current = Ipv4("192.0.2.9");
    platform.now += 60'000;
    EXPECT_EQ(probe(0), "192.0.2.9");
    EXPECT_EQ(lookups, 5);

    // A typed address is never looked up.
    icmp.SetAddress("192.0.2.10");
    for (int i = 0; i < 5; ++i) {
        platform.now += 60'000;
        EXPECT_EQ(probe(11010), "192.0.2.10");
    }
    EXPECT_EQ(lookups, 5);
}

// A resolver that hangs holds no probe up for long: the probe goes to the address known, and
// the answer, once it comes, is taken by a later probe.
TEST(TICMPResolution, HangingRepeatedLookupHoldsTheProbeUpBriefly) {
    FakeEchoPlatform platform;
    std::atomic<int> lookups = 0;
    std::promise<void> released;
    std::shared_future<void> release = released.get_future().share();
    platform.resolver = [&](const char*, platform::IpAddress& address) -> uint16_t {
        if (++lookups == 1) {
            address = Ipv4("192.0.2.7");
            return 0;
        }
        release.wait();
        address = Ipv4("192.0.2.8");
        return 0;
    };
    TICMP icmp(platform);
    icmp.SetAddress("mover.test");
    platform.status = 11010;
    icmp.Ping();
    icmp.Ping();
    std::future<std::string> probing = std::async(std::launch::async, [&] {
        icmp.Ping();
        return platform.lastSend.destination;
    });
    const bool returned = probing.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    released.set_value();
    ASSERT_TRUE(returned) << "the probe waited for the hanging resolver";
    EXPECT_EQ(probing.get(), "192.0.2.7");
    EXPECT_EQ(lookups, 2);

    std::string destination;
    for (int i = 0; i < 500 && destination != "192.0.2.8"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        icmp.Ping();
        destination = platform.lastSend.destination;
    }
    EXPECT_EQ(destination, "192.0.2.8");
    EXPECT_TRUE(icmp.AddressChanged());
    EXPECT_EQ(lookups, 2);
}

// Looks `address` up in an isolated namespace, where no name server can be reached.
class TICMPUnresolvable : public ::testing::Test {
protected:
    void SetUp() override { NODREL_REQUIRE_ISOLATED_NETWORK(); }

    QStringList PingAndCollect(const QString& address) {
        icmp.SetAddress(address);
        QStringList notices;
        icmp.SetOnDisplay([&](TICMP*, const QString& msg) { notices << msg; });
        icmp.SetOnEchoRequest([&](TICMP*) { notices << "request"; });
        EXPECT_EQ(icmp.Ping(), 0);
        EXPECT_EQ(icmp.LastErrorCode(), platform::IP_BAD_DESTINATION);
        EXPECT_FALSE(icmp.AddressResolved());
        return notices;
    }

    FakeEchoPlatform platform;
    TICMP icmp{platform};
};

TEST_F(TICMPUnresolvable, NameGivesTwoNoticesAndIsTriedAgain) {
    const QStringList expected{"Unable to resolve nodrel-test.invalid", "Invalid host address"};
    EXPECT_EQ(PingAndCollect("nodrel-test.invalid"), expected);
    EXPECT_EQ(PingAndCollect("nodrel-test.invalid"), expected);
    EXPECT_EQ(platform.sends, 0);
}

TEST_F(TICMPUnresolvable, HostileTextsEndInTheSameTwoNotices) {
    const QString hostile[] = {QString(10000, 'a'), QString("bad\nname\t\x01"),
                               QString::fromUtf8("h\xC3\xB6st-\xE6\x97\xA5\xE6\x9C\xAC.invalid"),
                               QString(), QString("   ")};
    for (const QString& address : hostile) {
        const QStringList notices = PingAndCollect(address);
        ASSERT_EQ(notices.size(), 2);
        EXPECT_EQ(notices[0], "Unable to resolve " + address);
        EXPECT_EQ(notices[1], "Invalid host address");
    }
}

// Address and Timeout are written by one thread while another pings.
TEST(TICMPConcurrency, WritesDuringPingsNeverTearTheAddress) {
    FakeEchoPlatform platform;
    TICMP icmp(platform);
    icmp.SetAddress("127.0.0.1");
    std::atomic<bool> done = false;
    std::thread prober([&] {
        while (!done) icmp.Ping();
    });
    for (int i = 0; i < 2000; ++i) {
        icmp.SetAddress(i % 2 ? "127.0.0.1" : "127.0.0.2");
        icmp.SetTimeout(i);
        EXPECT_TRUE(icmp.Address().startsWith("127.0.0."));
    }
    done = true;
    prober.join();
    EXPECT_EQ(icmp.Address(), "127.0.0.1");
}

}  // namespace
}  // namespace nodrel
