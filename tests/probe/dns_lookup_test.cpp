#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fake_echo_platform.h"
#include "ping.h"
#include "support/isolated_network.h"

namespace nodrel {
namespace {

struct Completion {
    uint16_t error;
    QString result;
    QThread* thread;
};

class TPingLookup : public ::testing::Test {
protected:
    TPingLookup() {
        ping->SetOnDnsLookupDone([this, component = ping.get()](TPing* sender, uint16_t error) {
            EXPECT_EQ(sender, component);
            completions.push_back({error, sender->LookupResult(), QThread::currentThread()});
        });
    }

    // Runs the event loop until `count` completions have arrived (or a generous bound passes).
    void WaitForCompletions(size_t count) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (completions.size() >= count) loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // Lets queued completions that should not come have their chance to arrive.
    static void DrainEvents() {
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }

    int argc = 1;
    char name[8] = "lookup";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
    testing::FakeEchoPlatform platform;
    std::unique_ptr<TPing> ping = std::make_unique<TPing>(nullptr, platform);
    std::vector<Completion> completions;
};

TEST_F(TPingLookup, AddressCompletesBeforeStartReturns) {
    ping->StartDnsLookup("192.0.2.44");
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error, 0);
    EXPECT_EQ(completions[0].result, "192.0.2.44");
    ping->StartDnsLookup("[2001:DB8::44]");
    ASSERT_EQ(completions.size(), 2u);
    EXPECT_EQ(completions[1].result, "2001:db8::44");
    ping->AbortDnsLookup();  // nothing pending: no event
    EXPECT_EQ(completions.size(), 2u);
}

// The name service asked is the one the probes ask, IPv6 answers included.
TEST_F(TPingLookup, NameCompletesOnTheOwningThreadWhoeverStartsIt) {
    platform.resolver = [](const char* host, platform::IpAddress& address) -> uint16_t {
        EXPECT_STREQ(host, "v6.test");
        return platform::ParseAddressLiteral("2001:db8::7", address) ? 0 : 11003;
    };
    std::thread starter([&] { ping->StartDnsLookup("v6.test"); });
    starter.join();
    WaitForCompletions(1);
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error, 0);
    EXPECT_EQ(completions[0].result, "2001:db8::7");
    EXPECT_EQ(completions[0].thread, QThread::currentThread());
}

TEST_F(TPingLookup, SecondStartReplacesThePendingLookup) {
    std::promise<void> released;
    std::shared_future<void> release = released.get_future().share();
    platform.resolver = [&](const char* host, platform::IpAddress& address) -> uint16_t {
        const bool first = std::string(host) == "first.test";
        if (first) release.wait();  // answers only after the second has
        platform::ParseAddressLiteral(first ? "192.0.2.1" : "192.0.2.2", address);
        return 0;
    };
    ping->StartDnsLookup("first.test");
    ping->StartDnsLookup("second.test");
    WaitForCompletions(1);
    released.set_value();
    DrainEvents();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error, 0);
    EXPECT_EQ(completions[0].result, "192.0.2.2");
    EXPECT_EQ(ping->LookupResult(), "192.0.2.2");
}

TEST_F(TPingLookup, AbortReportsInterruptionAndSilencesTheLateCompletion) {
    ping->StartDnsLookup("localhost");
    ping->AbortDnsLookup();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error, 10004);
    DrainEvents();
    EXPECT_EQ(completions.size(), 1u);
    EXPECT_TRUE(ping->LookupResult().isEmpty());
}

TEST_F(TPingLookup, DestroyingWithALookupPendingReportsItFirst) {
    ping->StartDnsLookup("localhost");
    ping.reset();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error, 10004);
    DrainEvents();  // the lookup thread finishes with nobody to tell
    EXPECT_EQ(completions.size(), 1u);
}

// These look names up that no file knows: only inside a namespace without a name server.
class TPingLookupIsolated : public TPingLookup {
protected:
    void SetUp() override { NODREL_REQUIRE_ISOLATED_NETWORK(); }
};

TEST_F(TPingLookupIsolated, UnknownNameReportsHostNotFoundAndNoResult) {
    ping->StartDnsLookup("192.0.2.1");
    ping->StartDnsLookup("");  // no name at all: not found without asking any server
    EXPECT_TRUE(ping->LookupResult().isEmpty());
    WaitForCompletions(2);
    ASSERT_EQ(completions.size(), 2u);
    EXPECT_EQ(completions[1].error, 11001);
    EXPECT_TRUE(completions[1].result.isEmpty());
}

// Where this user may start no further thread, the lookup cannot start; the message keeps the
// target exactly as given. Runs in a child process, which gives up root for the limit to bind.
TEST(TPingLookupStart, FailureMessageNamesTheTargetAsGiven) {
    const auto startWithoutThreads = [] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const rlimit noProcesses{0, 0};
        if (setrlimit(RLIMIT_NPROC, &noProcesses) != 0) _exit(3);
        testing::FakeEchoPlatform platform;
        TPing ping(nullptr, platform);
        try {
            ping.StartDnsLookup("a%1b");
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "%s\n", error.what());
            _exit(0);
        }
        _exit(1);
    };
    EXPECT_EXIT(startWithoutThreads(), ::testing::ExitedWithCode(0),
                "a%1b: can't start DNS lookup, error #11");
}

}  // namespace
}  // namespace nodrel
