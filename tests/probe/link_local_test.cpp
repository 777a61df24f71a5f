#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdlib>
#include <string>

#include "ping.h"
#include "support/isolated_network.h"
#include "support/shell_command.h"

namespace nodrel {
namespace {

// A veth pair inside the test's own network namespace: v0 with fe80::1, v1 with fe80::2, and no
// other link-local address (the kernel makes none of its own).
class LinkLocal : public ::testing::Test {
protected:
    LinkLocal() {
        ping.SetOnEchoReply([this](TPing*, TICMP* icmp, int32_t) {
            probed = platform::AddressText(icmp->ResolvedAddress());
        });
    }

    void SetUp() override {
        NODREL_REQUIRE_ISOLATED_NETWORK();
        if (std::system("command -v ip > /dev/null") != 0) GTEST_SKIP() << "needs ip (iproute2)";
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
        ASSERT_TRUE(testing::WriteSysctl("net/ipv6/conf/default/addr_gen_mode", "1"));
        Run("ip link add v0 type veth peer name v1");
        Run("ip address add fe80::1/64 dev v0 nodad");
        Run("ip address add fe80::2/64 dev v1 nodad");
        Run("ip link set v0 up");
        Run("ip link set v1 up");
        WaitUntilLocal("fe80::1", "v0");
        WaitUntilLocal("fe80::2", "v1");
        ping.SetTimeout(2000);
    }

    static void Run(const std::string& command) {
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // The kernel takes a new address as its own (its local route) a moment after `ip` returns:
    // a probe before that leaves by the link and finds no one.
    static void WaitUntilLocal(const std::string& address, const std::string& device) {
        const std::string route = "ip -6 route show table local " + address + " dev " + device;
        ASSERT_TRUE(testing::PollUntil([&] { return !testing::Capture(route).empty(); })) << route;
    }

    // Probes `host`: the reply's status and the address probed, as the readout shows it.
    std::pair<uint32_t, std::string> Probe(const char* host) {
        ping.SetAddress(host);
        ping.Ping();
        return {ping.LastReply().Status, probed};
    }

    TPing ping;
    std::string probed;
};

TEST_F(LinkLocal, ZoneTypedByNameOrNumberReachesTheHostOnThatLink) {
    const std::string v0 = std::to_string(if_nametoindex("v0"));
    EXPECT_EQ(Probe("fe80::2%v0"), std::pair(0u, std::string("fe80::2%v0")));
    EXPECT_EQ(Probe(("[fe80::2%" + v0 + "]").c_str()), std::pair(0u, std::string("fe80::2%v0")));
}

TEST_F(LinkLocal, WithoutAZoneTheOnlyLinkIsTakenAndOfSeveralNoneIsGuessed) {
    // Two interfaces with link-local addresses: the probe fails, saying a zone is needed.
    EXPECT_EQ(Probe("fe80::2"), std::pair(11045u, std::string("fe80::2")));

    // Only v0 has link-local addresses now, fe80::2 among them.
    Run("ip address del fe80::2/64 dev v1");
    Run("ip address add fe80::2/64 dev v0 nodad");
    WaitUntilLocal("fe80::2", "v0");
    EXPECT_EQ(Probe(" fe80::2"), std::pair(0u, std::string("fe80::2%v0")));
}

}  // namespace
}  // namespace nodrel
