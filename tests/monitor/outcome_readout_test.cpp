#include "outcome_readout.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace nodrel {
namespace {

// 2023-11-14 22:13:20 UTC.
constexpr int64_t kStart = 1700000000000;

TOutcomeRecord Reply(uint32_t milliseconds) {
    TOutcomeRecord record;
    record.StartTime = kStart;
    record.Milliseconds = milliseconds;
    record.Address = inet_addr("127.0.0.1");
    return record;
}

TOutcomeRecord Failure(uint32_t status, bool nameNotFound = false, uint32_t milliseconds = 0) {
    TOutcomeRecord record;
    record.StartTime = kStart + 1000;
    record.Status = status;
    record.NameNotFound = nameNotFound;
    record.Milliseconds = milliseconds;
    if (!nameNotFound) record.Address = inet_addr("127.0.0.1");
    return record;
}

class Readout : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }

    void Add(const TOutcomeRecord& record) { history.AddResult(record.Status == 0, false, record); }

    // The readout at pixel (x, y) of the window's surface.
    QString At(int x, int y) const {
        const int32_t surfaceHeight = 10 * (settings.h + settings.hs) + 1;
        const TReadoutSpot spot = ReadoutSpotAt(x, y, settings, surfaceHeight);
        return OutcomeReadout(history, settings, spot.Cell, "localhost");
    }

    TResultHistory history;
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
    EXPECT_EQ(cell(1, 1), 10);
    EXPECT_EQ(cell(7, 37), 11);
    EXPECT_EQ(cell(0, 37), 0);  // left margin
    EXPECT_EQ(cell(1, 0), 0);   // top margin
    EXPECT_EQ(cell(1, 41), 0);  // below the surface
    EXPECT_EQ(cell(72, 37), 111);
    EXPECT_EQ(cell(73, 37), 0);  // the small size draws 12 columns
    settings.modenum = 1;
    EXPECT_EQ(cell(73, 37), 121);
    EXPECT_EQ(cell(359, 1), 600);
    EXPECT_EQ(cell(361, 1), 0);

    settings.w = 3;
    settings.h = 2;
    settings.ws = 2;
    settings.hs = 0;  // surface 21 high, rows touching
    EXPECT_EQ(cell(11, 20), 21);
    EXPECT_EQ(cell(15, 19), 21);
    EXPECT_EQ(cell(15, 18), 22);
    EXPECT_EQ(cell(14, 1), 30);
    const TReadoutSpot spot = ReadoutSpotAt(11, 20, settings, 21);
    EXPECT_EQ(spot.Area, (TCellRect{11, 19, 16, 21}));
    settings.viewmode = 1;  // the Graph view reads a whole column
    EXPECT_EQ(ReadoutSpotAt(11, 20, settings, 21).Area, (TCellRect{11, 1, 16, 21}));
}

TEST_F(Readout, EachCellTellsItsProbeAndEveryReadoutEndsWithTheSummary) {
    EXPECT_EQ(At(1, 37), "not probed yet\nlocalhost: not probed yet");
    Add(Failure(11001, true));
    for (const uint32_t milliseconds : {3, 14, 1, 9, 12, 5}) Add(Reply(milliseconds));
    Add(Failure(11010, false, 5000));
    // Newest first: the time-out at the bottom, the replies above it, the lookup failure last.
    EXPECT_EQ(At(1, 37),
              "2023-11-14 22:13:21\nno reply within 5 s\n"
              "localhost (127.0.0.1): 25 % lost, median round trip 7 ms");
    EXPECT_EQ(At(1, 33).section('\n', 0, 1), "2023-11-14 22:13:20\nreply in 5 ms");
    EXPECT_EQ(At(1, 9).section('\n', 0, 1),
              "2023-11-14 22:13:21\nname not found: Name or service not known");
    EXPECT_EQ(At(1, 5).section('\n', 0, 0), "not probed yet");

    settings.viewmode = 1;
    EXPECT_EQ(At(3, 1),
              "6 of 8 answered\nround trip min 1 ms, median 7 ms, max 14 ms\n"
              "localhost (127.0.0.1): 25 % lost, median round trip 7 ms");
    EXPECT_EQ(At(7, 37),
              "not probed yet\nlocalhost (127.0.0.1): 25 % lost, median round trip 7 ms");

    // A lookup failing now leaves no address to show.
    Add(Failure(11001, true));
    EXPECT_EQ(ReadoutSummary(history, settings, "localhost"),
              "localhost: 33.3 % lost, median round trip 7 ms");
}

TEST_F(Readout, FailuresInWords) {
    EXPECT_EQ(FailureText(Failure(11010, false, 5000)), "no reply within 5 s");
    EXPECT_EQ(FailureText(Failure(11010, false, 2500)), "no reply within 2.5 s");
    EXPECT_EQ(FailureText(Failure(11002)), "network unreachable");
    EXPECT_EQ(FailureText(Failure(11003)), "host unreachable");
    EXPECT_EQ(FailureText(Failure(11004)), "protocol unreachable");
    EXPECT_EQ(FailureText(Failure(11005)), "port unreachable");
    EXPECT_EQ(FailureText(Failure(11009)), "packet too big");
    EXPECT_EQ(FailureText(Failure(11013)), "TTL expired in transit");
    EXPECT_EQ(FailureText(Failure(11050)), "status 11050");
    // The lookup's error numbers overlap the statuses: only the kind tells them apart.
    EXPECT_EQ(FailureText(Failure(11002, true)),
              "name not found: Temporary failure in name resolution");
    EXPECT_EQ(FailureText(Failure(11004, true)),
              "name not found: No address associated with hostname");
    EXPECT_EQ(FailureText(Failure(10004, true)), "name not found: error 10004");
}

TEST_F(Readout, SummaryCountsOnlyTheOutcomesShown) {
    for (int n = 0; n < 10; ++n) Add(Failure(11003));
    for (int n = 0; n < 119; ++n) Add(Reply(4));
    Add(Reply(6));
    // The small size shows the newest 120; the ten failures lie beyond them.
    EXPECT_EQ(ReadoutSummary(history, settings, "127.0.0.1"),
              "127.0.0.1: 0 % lost, median round trip 4 ms");
    settings.modenum = 1;
    EXPECT_EQ(ReadoutSummary(history, settings, "127.0.0.1"),
              "127.0.0.1: 7.7 % lost, median round trip 4 ms");
    settings.modenum = 2;
    settings.viewmode = 1;  // the Graph view's 12 columns hold the same 120 here
    EXPECT_EQ(ReadoutSummary(history, settings, "127.0.0.1"),
              "127.0.0.1: 0 % lost, median round trip 4 ms");
    Add(Failure(11003));  // a new column: 1 + 110 outcomes shown, one of them lost
    EXPECT_EQ(ReadoutSummary(history, settings, "127.0.0.1"),
              "127.0.0.1: 0.9 % lost, median round trip 4 ms");
}

}  // namespace
}  // namespace nodrel
