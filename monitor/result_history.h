#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "outcome_record.h"

namespace nodrel {

// One column of outcomes, newest first: '1' for a success, '2' for a failure.
struct THistoryColumn {
    static constexpr uint8_t kCapacity = 10;

    uint8_t Length = 0;
    std::array<char, kCapacity> Chars{};

    std::string_view Text() const { return {Chars.data(), Length}; }
};

enum class TDueSound { None, Recovery, Alarm };

// The bare file name of a sound ("sound.wav", "sound1.wav"); empty for None.
std::string_view SoundFileName(TDueSound sound);

// What the window has to do after an outcome has been recorded. The sounds follow the outages
// (TOutageAlerts), which also know of sleep.
struct TOutcomeEffects {
    int IconImage = 0;  // 1 after a success, 0 after a failure
};

// The recent probe outcomes, grouped in columns of ten. Column 1 receives new outcomes; columns 2
// to 60 are shown, column 61 keeps the ten outcomes after them so that the History view always
// finds 600 once that many have arrived. Fixed size: recording an outcome allocates nothing.
// Columns and counts are indexed from 1, as they are drawn.
//
// Beside each outcome it keeps that probe's record, in a ring that drops exactly what the columns
// drop, so an outcome and its record always leave together.
class TResultHistory {
public:
    static constexpr int kShownColumns = 60;
    static constexpr int kStoredColumns = 61;
    static constexpr int kStoredOutcomes = kStoredColumns * THistoryColumn::kCapacity;
    static constexpr char kSuccess = '1';
    static constexpr char kFailure = '2';

    // Empties every column and clears the counts and the failure streak.
    void Reset();

    // Records one outcome and its probe's record.
    TOutcomeEffects AddResult(bool success, const TOutcomeRecord& record = {});

    // How many successes column `column` (1..61) holds; 0 for an empty or nonexistent column.
    uint8_t CountSuccesses(int column) const {
        const std::string_view text = HistoryColumns(column).Text();
        return static_cast<uint8_t>(std::count(text.begin(), text.end(), kSuccess));
    }

    // Column `column` (1..61); an empty column outside that range.
    const THistoryColumn& HistoryColumns(int column) const {
        static constexpr THistoryColumn kNoColumn{};
        if (column < 1 || column > kStoredColumns) return kNoColumn;
        return FColumns[column - 1];
    }
    // The successes of column `column` (1..60) as counted after the latest outcome; 0 outside.
    uint8_t SuccessCounts(int column) const;
    uint8_t FillCount() const { return FFillCount; }
    int32_t FailStreak() const { return FFailStreak; }

    // How many outcomes the columns hold, at most kStoredOutcomes.
    int StoredOutcomes() const { return FStoredOutcomes; }
    // The record of the `outcome`-th newest outcome (1 = the newest, the one cell `outcome` of the
    // History view shows); null when there is no such outcome.
    const TOutcomeRecord* Record(int outcome) const {
        if (outcome < 1 || outcome > FStoredOutcomes) return nullptr;
        return &FRecords[(FNewestRecord + outcome - 1) % kStoredOutcomes];
    }

private:
    std::array<THistoryColumn, kStoredColumns> FColumns{};
    std::array<uint8_t, kShownColumns> FSuccessCounts{};
    uint8_t FFillCount = 0;
    int32_t FFailStreak = 0;
    int FStoredOutcomes = 0;
    int FNewestRecord = 0;  // where in FRecords the newest outcome's record is
    std::array<TOutcomeRecord, kStoredOutcomes> FRecords{};
};

}  // namespace nodrel
