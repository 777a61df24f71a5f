#include "result_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nodrel {
namespace {

std::string AllOutcomes(const TResultHistory& history) {
    std::string all;
    for (int column = 1; column <= TResultHistory::kStoredColumns; ++column) {
        all += history.HistoryColumns(column).Text();
    }
    return all;
}

TEST(ResultHistory, FirstOutcomeStartsTheCurrentColumn) {
    for (const bool success : {true, false}) {
        TResultHistory history;
        history.AddResult(success);
        EXPECT_EQ(history.FillCount(), 1);
        EXPECT_EQ(history.HistoryColumns(1).Text(), success ? "1" : "2");
        EXPECT_EQ(history.HistoryColumns(2).Text(), "");
    }
}

TEST(ResultHistory, EleventhOutcomeShiftsTheFullColumn) {
    TResultHistory history;
    for (int n = 0; n < 10; ++n) history.AddResult(n % 4 != 0);
    EXPECT_EQ(history.FillCount(), 10);
    EXPECT_EQ(history.HistoryColumns(1).Text(), "1211121112");  // newest first
    EXPECT_EQ(history.HistoryColumns(2).Text(), "");

    history.AddResult(false);
    EXPECT_EQ(history.FillCount(), 1);
    EXPECT_EQ(history.HistoryColumns(1).Text(), "2");
    EXPECT_EQ(history.HistoryColumns(2).Text(), "1211121112");
}

TEST(ResultHistory, KeepsSixHundredAndTenOutcomesThenDropsTheOldestTen) {
    TResultHistory history;
    // The ten oldest are the only failures.
    for (int n = 0; n < 10; ++n) history.AddResult(false);
    for (int n = 10; n < 610; ++n) history.AddResult(true);
    EXPECT_EQ(AllOutcomes(history).size(), 610u);
    EXPECT_EQ(history.HistoryColumns(61).Text(), "2222222222");

    history.AddResult(true);
    EXPECT_EQ(AllOutcomes(history), std::string(601, '1'));
    EXPECT_EQ(history.HistoryColumns(61).Text(), "1111111111");
    for (int n = 0; n < 9; ++n) history.AddResult(false);
    EXPECT_EQ(AllOutcomes(history), std::string(9, '2') + std::string(601, '1'));
    history.AddResult(false);  // the 621st: the next ten go
    EXPECT_EQ(AllOutcomes(history), std::string(10, '2') + std::string(591, '1'));
}

TEST(ResultHistory, SuccessCountsFollowTheColumns) {
    TResultHistory history;
    for (int n = 0; n < 10; ++n) history.AddResult(true);
    EXPECT_EQ(history.SuccessCounts(1), 10);
    history.AddResult(false);
    // The current column counts only what it already holds.
    EXPECT_EQ(history.SuccessCounts(1), 0);
    EXPECT_EQ(history.SuccessCounts(2), 10);
    history.AddResult(true);
    EXPECT_EQ(history.SuccessCounts(1), 1);
    EXPECT_EQ(history.CountSuccesses(2), 10);
    EXPECT_EQ(history.CountSuccesses(3), 0);
    EXPECT_EQ(history.CountSuccesses(0), 0);
    EXPECT_EQ(history.CountSuccesses(62), 0);
    EXPECT_EQ(history.SuccessCounts(61), 0);
}

TEST(ResultHistory, SoundFileNames) {
    EXPECT_EQ(SoundFileName(TDueSound::Recovery), "sound.wav");
    EXPECT_EQ(SoundFileName(TDueSound::Alarm), "sound1.wav");
    EXPECT_EQ(SoundFileName(TDueSound::None), "");
}

TEST(ResultHistory, IconImageAndFailStreakFollowEachOutcome) {
    TResultHistory history;
    EXPECT_EQ(history.AddResult(false).IconImage, 0);
    EXPECT_EQ(history.AddResult(false).IconImage, 0);
    EXPECT_EQ(history.FailStreak(), 2);
    EXPECT_EQ(history.AddResult(true).IconImage, 1);
    EXPECT_EQ(history.FailStreak(), 0);
    EXPECT_EQ(history.AddResult(false).IconImage, 0);
    EXPECT_EQ(history.FailStreak(), 1);
}

TEST(ResultHistory, ResetEmptiesEverything) {
    TResultHistory history;
    for (int n = 0; n < 25; ++n) history.AddResult(n % 2 == 0);
    history.AddResult(false);
    history.Reset();
    EXPECT_EQ(AllOutcomes(history), "");
    EXPECT_EQ(history.FillCount(), 0);
    EXPECT_EQ(history.FailStreak(), 0);
    EXPECT_EQ(history.SuccessCounts(2), 0);
}

// Record n carries n as its start time; successes have status 0.
void AddNumbered(TResultHistory& history, int from, int to) {
    for (int n = from; n < to; ++n) {
        TOutcomeRecord record;
        record.StartTime = n;
        record.Status = n % 3 == 0 ? 11010 : 0;
        history.AddResult(record.Status == 0, record);
    }
}

TEST(ResultHistory, RecordsFollowTheirOutcomesAcrossShiftsAndReset) {
    TResultHistory history;
    AddNumbered(history, 0, 610);
    EXPECT_EQ(history.Record(610)->StartTime, 0);
    AddNumbered(history, 610, 611);  // the oldest ten go with their column
    EXPECT_EQ(history.Record(601)->StartTime, 10);
    EXPECT_EQ(history.Record(602), nullptr);

    AddNumbered(history, 611, 1237);
    const std::string all = AllOutcomes(history);
    ASSERT_EQ(all.size(), 607u);
    for (int outcome = 1; outcome <= 607; ++outcome) {
        ASSERT_EQ(history.Record(outcome)->StartTime, 1237 - outcome);
        ASSERT_EQ(all[outcome - 1] == '1', history.Record(outcome)->Status == 0) << outcome;
    }

    history.Reset();
    EXPECT_EQ(history.Record(1), nullptr);
    AddNumbered(history, 5000, 5001);
    EXPECT_EQ(history.Record(1)->StartTime, 5000);
    EXPECT_EQ(history.Record(2), nullptr);
}

}  // namespace
}  // namespace nodrel
