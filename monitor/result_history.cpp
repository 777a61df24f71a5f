#include "result_history.h"

#include <algorithm>
#include <limits>

namespace nodrel {

std::string_view SoundFileName(TDueSound sound) {
    switch (sound) {
        case TDueSound::Recovery:
            return "sound.wav";
        case TDueSound::Alarm:
            return "sound1.wav";
        case TDueSound::None:
            break;
    }
    return {};
}

void TResultHistory::Reset() {
    *this = TResultHistory{};
}

TOutcomeEffects TResultHistory::AddResult(bool success, const TOutcomeRecord& record) {
    if (FFillCount == THistoryColumn::kCapacity) {
        // The oldest column falls off the end, and its records with it; the current one starts
        // afresh.
        FStoredOutcomes -= FColumns.back().Length;
        std::move_backward(FColumns.begin(), FColumns.end() - 1, FColumns.end());
        FColumns[0] = THistoryColumn{};
        FFillCount = 0;
    }
    ++FFillCount;

    TOutcomeEffects effects;
    if (success) {
        FFailStreak = 0;
        effects.IconImage = 1;
    } else {
        // Stepping back from the maximum keeps the streak above 2 and its parity, which drives
        // the blinking, still alternating.
        FFailStreak =
            FFailStreak == std::numeric_limits<int32_t>::max() ? FFailStreak - 1 : FFailStreak + 1;
        effects.IconImage = 0;
    }

    THistoryColumn& current = FColumns[0];
    std::copy_backward(current.Chars.begin(), current.Chars.begin() + current.Length,
                       current.Chars.begin() + current.Length + 1);
    current.Chars[0] = success ? kSuccess : kFailure;
    ++current.Length;
    // After a shift at most 600 are left, so the slot taken never holds a kept record.
    FNewestRecord = (FNewestRecord + kStoredOutcomes - 1) % kStoredOutcomes;
    FRecords[FNewestRecord] = record;
    ++FStoredOutcomes;

    for (int column = 1; column <= kShownColumns; ++column) {
        FSuccessCounts[column - 1] = CountSuccesses(column);
    }
    return effects;
}

uint8_t TResultHistory::SuccessCounts(int column) const {
    if (column < 1 || column > kShownColumns) return 0;
    return FSuccessCounts[column - 1];
}

}  // namespace nodrel
