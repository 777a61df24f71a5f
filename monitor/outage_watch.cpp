#include "outage_watch.h"

namespace nodrel {

void TOutageWatch::Add(bool success, const TOutcomeRecord& record) {
    if (success) {
        streak_.reset();
        if (!current_) return;
        TOutage ended = *current_;
        ended.EndedMs = record.StartTime;
        current_.reset();
        emit Ended(ended);
        return;
    }
    if (!streak_) {
        streak_ = TOutage{record.StartTime, std::nullopt, 0, record, record};
    }
    ++streak_->Failures;
    streak_->LatestFailure = record;
    if (streak_->Failures < 2) return;
    const bool starting = !current_;
    current_ = streak_;
    if (starting) {
        emit Started(*current_);
    } else {
        emit Extended(*current_);
    }
}

void TOutageWatch::Interrupt(int64_t endedMs) {
    streak_.reset();
    if (!current_) return;
    TOutage ended = *current_;
    ended.EndedMs = endedMs;
    current_.reset();
    emit Ended(ended);
}

}  // namespace nodrel
