#include "outage_watch.h"

#include <gtest/gtest.h>

#include <string>

namespace nodrel {
namespace {

TOutcomeRecord At(int64_t startTime, uint32_t status = 0) {
    TOutcomeRecord record;
    record.StartTime = startTime;
    record.Status = status;
    return record;
}

// A log of what the watch told, as "S<start>/<failures>", "E<start>-<end>/<failures>".
struct TToldLog {
    std::string text;
    explicit TToldLog(TOutageWatch& watch) {
        QObject::connect(&watch, &TOutageWatch::Started, [this](const TOutage& outage) {
            text += "S" + std::to_string(outage.StartedMs) + "/" + std::to_string(outage.Failures) +
                    " ";
        });
        QObject::connect(&watch, &TOutageWatch::Ended, [this](const TOutage& outage) {
            text += "E" + std::to_string(outage.StartedMs) + "-" +
                    std::to_string(outage.EndedMs.value_or(-1)) + "/" +
                    std::to_string(outage.Failures) + " ";
        });
    }
};

// A single lost probe is no outage; two in a row are one, dated from the first failure and
// ended by the first answer; a sleep ends it where the probes stopped.
TEST(OutageWatch, AStreakOfTwoFailuresIsAnOutageFromTheFirstToTheFirstAnswer) {
    TOutageWatch watch;
    TToldLog told(watch);
    watch.Add(true, At(1000));
    watch.Add(false, At(2000, 11010));
    watch.Add(true, At(3000));
    EXPECT_EQ(told.text, "");

    watch.Add(false, At(4000, 11003));
    watch.Add(false, At(5000, 11010));
    EXPECT_EQ(told.text, "S4000/2 ");
    watch.Add(false, At(6000, 11010));
    ASSERT_TRUE(watch.Current());
    EXPECT_EQ(watch.Current()->FirstFailure.Status, 11003u);
    watch.Add(true, At(7000));
    EXPECT_EQ(told.text, "S4000/2 E4000-7000/3 ");
    EXPECT_FALSE(watch.Current());

    watch.Add(false, At(8000, 11010));
    watch.Add(false, At(9000, 11010));
    watch.Interrupt(9500);
    watch.Add(false, At(20000, 11010));
    EXPECT_EQ(told.text, "S4000/2 E4000-7000/3 S8000/2 E8000-9500/2 ");
}

}  // namespace
}  // namespace nodrel
