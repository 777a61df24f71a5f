#include "outcome_readout.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace nodrel {
namespace {

// 2023-11-14 22:13:20 UTC.
constexpr int64_t kStart = 1700000000000;

// A reply (status 0) or a failure, from 127.0.0.1 unless the name was not found.
TOutcomeRecord Probe(uint32_t status, uint32_t milliseconds = 0, bool nameNotFound = false,
                     uint32_t host = 1) {
    TOutcomeRecord record;
    record.Host = host;
    record.StartTime = kStart + (status != 0 ? 1000 : 0);
    record.Milliseconds = milliseconds;
    record.Status = status;
    record.NameNotFound = nameNotFound;
    if (!nameNotFound) record.Address = platform::IpAddress::FromIpv4(inet_addr("127.0.0.1"));
    return record;
}

class Readout : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        hosts.SetCurrent(1, "localhost", history);
    }

    void Add(const TOutcomeRecord& record) { history.AddResult(record.Status == 0, record); }

    // The readout at pixel (x, y) of the window's surface.
    QString At(int x, int y) const {
        const int32_t surfaceHeight = 10 * (settings.h + settings.hs) + 1;
        const TReadoutSpot spot = ReadoutSpotAt(x, y, settings, surfaceHeight);
        return OutcomeReadout(history, settings, spot.Cell, hosts);
    }

    QString Summary() const { return ReadoutSummary(history, settings, hosts); }

    TResultHistory history;
    TProbedHosts hosts;
    TRenderSettings settings;
};

TEST_F(Readout, PixelsMapToCellsNewestBottomLeftInBothSizesAndAnyGeometry) {
    const auto cell = [&](int x, int y) {
        return ReadoutSpotAt(x, y, settings, 10 * (settings.h + settings.hs) + 1).Cell;
    };
    // First-run geometry: cells of 5 x 3 with 1-pixel spaces on a surface 41 high.
    EXPECT_EQ(cell(1, 37), 1);  // the newest cell's top-left pixel
    EXPECT_EQ(cell(6, 40), 1);  // the spaces to its right and below it
    EXPECT_EQ(cell(1, 36), 2);
    EXPECT_EQ(cell(7, 37), 11);
    EXPECT_EQ(cell(0, 37), 0);  // left margin
    EXPECT_EQ(cell(1, 0), 0);   // top margin
    EXPECT_EQ(cell(1, 41), 0);  // below the surface
    EXPECT_EQ(cell(72, 37), 111);
    EXPECT_EQ(cell(73, 37), 0);  // the small size draws 12 columns
    settings.modenum = 1;
    EXPECT_EQ(cell(73, 37), 121);
    EXPECT_EQ(cell(359, 1), 600);

    settings.w = 3;
    settings.h = 2;
    settings.ws = 2;
    settings.hs = 0;  // surface 21 high, rows touching
    EXPECT_EQ(cell(11, 20), 21);
    EXPECT_EQ(cell(15, 18), 22);
    EXPECT_EQ(cell(14, 1), 30);
    const TReadoutSpot spot = ReadoutSpotAt(11, 20, settings, 21);
    EXPECT_EQ(spot.Area, (TCellRect{11, 19, 16, 21}));
    settings.viewmode = 1;  // the Graph view reads a whole column
    EXPECT_EQ(ReadoutSpotAt(11, 20, settings, 21).Area, (TCellRect{11, 1, 16, 21}));
}

TEST_F(Readout, EachCellTellsItsProbeAndEveryReadoutEndsWithTheSummary) {
    EXPECT_EQ(At(1, 37), "not probed yet\nlocalhost: not probed yet");
    Add(Probe(11001, 0, true));
    for (const uint32_t milliseconds : {3, 14, 0, 9, 12, 5}) Add(Probe(0, milliseconds));
    Add(Probe(11010, 5000));
    // Newest first: the time-out at the bottom, the replies above it, the lookup failure last.
    EXPECT_EQ(At(1, 37),
              "2023-11-14 22:13:21\nno reply within 5 s\n"
              "localhost (127.0.0.1), last 8 probes: 25% lost, median round trip 7 ms");
    EXPECT_EQ(At(1, 33).section('\n', 0, 1), "2023-11-14 22:13:20\nreply in 5 ms");
    EXPECT_EQ(At(1, 9).section('\n', 0, 1),
              "2023-11-14 22:13:21\nname lookup failed: Name or service not known");
    EXPECT_EQ(At(1, 5).section('\n', 0, 0), "not probed yet");

    settings.viewmode = 1;
    EXPECT_EQ(At(3, 1),
              "6 of 8 answered\nround trip min under 1 ms, median 7 ms, max 14 ms\n"
              "localhost (127.0.0.1), last 8 probes: 25% lost, median round trip 7 ms");
    EXPECT_EQ(At(7, 37),
              "not probed yet\nlocalhost (127.0.0.1), last 8 probes: 25% lost, "
              "median round trip 7 ms");

    // A lookup failing now leaves no address to show.
    Add(Probe(11001, 0, true));
    EXPECT_EQ(Summary(), "localhost, last 9 probes: 33.3% lost, median round trip 7 ms");

    // The name looked up again after failures now leads to an IPv6 address.
    TOutcomeRecord moved = Probe(0, 2);
    moved.Address = platform::IpAddress::FromIpv6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    moved.AddressChanged = true;
    Add(moved);
    settings.viewmode = 2;
    EXPECT_EQ(At(1, 37),
              "2023-11-14 22:13:20\nnow ::1\nreply in 2 ms\n"
              "localhost (::1), last 10 probes: 30% lost, median round trip 5 ms");
}

TEST_F(Readout, EveryStatusTheProbeRecordsHasWords) {
    TOutcomeRecord stale = Probe(11002);
    stale.LookupAgainError = 11001;
    const std::pair<TOutcomeRecord, QString> cases[] = {
        {Probe(11010, 2500), "no reply within 2.5 s"},
        {Probe(11001), "not sent: no room for the reply"},
        {Probe(11002), "network unreachable"},
        {Probe(11003), "host unreachable"},
        {Probe(11004), "protocol unreachable"},
        {Probe(11005), "port unreachable"},
        {Probe(11046), "administratively prohibited: a filter on the way refused it"},
        {Probe(11006), "not sent: the system is short of resources"},
        {Probe(11007), "IP options refused"},
        {Probe(11009), "packet too big"},
        {Probe(11012), "source route failed"},
        {Probe(11013), "TTL expired in transit"},
        {Probe(11014), "fragments not reassembled in time"},
        {Probe(11015), "parameter problem: a router refused the packet's header"},
        {Probe(11018), "not an address that can be probed"},
        {Probe(11045), "zone needed: add the interface, as in fe80::1%eth0"},
        {Probe(11050), "not sent: the system refused the probe"},
        {Probe(12345), "failed with status 12345"},
        {stale, "network unreachable (the name no longer resolves)"},
        // The lookup's error numbers overlap the statuses: only the kind tells them apart.
        {Probe(11001, 0, true), "name lookup failed: Name or service not known"},
        {Probe(11002, 0, true), "name lookup failed: Temporary failure in name resolution"},
        {Probe(11003, 0, true), "name lookup failed: Non-recoverable failure in name resolution"},
        {Probe(11004, 0, true), "name lookup failed: No address associated with hostname"},
        {Probe(10004, 0, true), "name lookup failed: error 10004"},
    };
    for (const auto& [record, text] : cases) EXPECT_EQ(FailureText(record), text);
}

// Options changed the host from a failing name to an address typed with blanks: each host has its
// figures, the earlier host's cells say whose they are, and its text goes with its last outcome.
TEST_F(Readout, TheSummaryCountsOnlyTheHostItNames) {
    hosts.SetCurrent(5, "mover.test", history);
    for (int n = 0; n < 13; ++n) Add(Probe(11003, 0, false, 5));
    hosts.SetCurrent(6, " 127.0.0.1  ", history);
    EXPECT_EQ(Summary(), "127.0.0.1: not probed yet");
    for (int n = 0; n < 5; ++n) Add(Probe(0, 2, false, 6));
    EXPECT_EQ(At(1, 17),  // the sixth newest cell
              "2023-11-14 22:13:21\nearlier host mover.test (127.0.0.1)\nhost unreachable\n"
              "127.0.0.1, last 5 probes: 0% lost, median round trip 2 ms");
    settings.viewmode = 1;
    EXPECT_EQ(At(1, 1).section('\n', 2),
              "3 of them for earlier host mover.test (127.0.0.1)\n"
              "127.0.0.1, last 5 probes: 0% lost, median round trip 2 ms");
    for (int n = 0; n < 612; ++n) Add(Probe(11001, 0, true, 7));
    hosts.SetCurrent(7, "   ", history);
    EXPECT_EQ(Summary(), "no host given, last 120 probes: 100% lost");
    EXPECT_EQ(hosts.Text(5), nullptr);
}

TEST_F(Readout, SummaryCountsOnlyTheOutcomesShown) {
    hosts = TProbedHosts();
    hosts.SetCurrent(1, "127.0.0.1", history);
    for (int n = 0; n < 10; ++n) Add(Probe(11003));
    for (int n = 0; n < 119; ++n) Add(Probe(0, 4));
    Add(Probe(0, 6));
    // The small size shows the newest 120; the ten failures lie beyond them.
    EXPECT_EQ(Summary(), "127.0.0.1, last 120 probes: 0% lost, median round trip 4 ms");
    settings.modenum = 1;
    EXPECT_EQ(Summary(), "127.0.0.1, last 130 probes: 7.7% lost, median round trip 4 ms");
    settings.modenum = 2;
    settings.viewmode = 1;  // the Graph view's 12 columns hold the same 120 here
    EXPECT_EQ(Summary(), "127.0.0.1, last 120 probes: 0% lost, median round trip 4 ms");
    Add(Probe(11003));  // a new column: 1 + 110 outcomes shown, one of them lost
    EXPECT_EQ(Summary(), "127.0.0.1, last 111 probes: 0.9% lost, median round trip 4 ms");
}

}  // namespace
}  // namespace nodrel
