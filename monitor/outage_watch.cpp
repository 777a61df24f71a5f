#include "outage_watch.h"

#include <algorithm>
#include <utility>

namespace nodrel {

void TOutageWatch::Add(bool success, const TOutcomeRecord& record, const QString& host) {
    // The probes went on to another host: the streak's host is no longer watched.
    if (streak_ && streak_->Host.trimmed() != host.trimmed()) {
        End(record.StartTime, TOutageEnd::HostChanged);
    }
    if (success) {
        End(record.StartTime, TOutageEnd::Answered);
        return;
    }
    if (!streak_) {
        streak_ = TOutage{record.StartTime, std::nullopt,         0,           host, record, record,
                          record,           TOutageEnd::Answered, record.Place};
        kinds_.clear();
        causes_.clear();
    }
    ++streak_->Failures;
    streak_->LatestFailure = record;
    CountFailure(record);
    if (streak_->Failures < 2) return;
    if (std::exchange(outage_, true)) {
        emit Extended(*streak_);
    } else {
        emit Started(*streak_);
    }
}

void TOutageWatch::CountFailure(const TOutcomeRecord& record) {
    const auto kind = std::ranges::find_if(kinds_, [&](const TFailureKind& k) {
        return k.Status == record.Status && k.NameNotFound == record.NameNotFound;
    });
    if (kind != kinds_.end()) {
        ++kind->Count;
    } else {
        kinds_.push_back({record.Status, record.NameNotFound, 1, record});
    }
    // The first of the largest: the earliest kind among equals.
    streak_->CommonFailure = std::ranges::max_element(kinds_, {}, &TFailureKind::Count)->Sample;

    const auto cause = std::ranges::find_if(
        causes_, [&](const TCauseCount& c) { return c.Place.Cause == record.Place.Cause; });
    if (cause != causes_.end()) {
        ++cause->Count;
    } else {
        causes_.push_back({record.Place, 1});
    }
    streak_->CommonPlace = std::ranges::max_element(causes_, {}, &TCauseCount::Count)->Place;
}

void TOutageWatch::Interrupt(int64_t endedMs) {
    End(endedMs, TOutageEnd::Stopped);
}

void TOutageWatch::End(int64_t endedMs, TOutageEnd end) {
    std::optional<TOutage> ended = std::exchange(streak_, std::nullopt);
    if (!std::exchange(outage_, false)) return;
    ended->EndedMs = endedMs;
    ended->End = end;
    emit Ended(*ended);
}

}  // namespace nodrel
