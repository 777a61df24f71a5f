#include "journal_writer.h"

#include <algorithm>
#include <chrono>
#include <iterator>

namespace nodrel {

namespace {

using std::chrono::system_clock;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               system_clock::now().time_since_epoch())
        .count();
}

// Until a little past the next calendar minute, so the minute's last probes have come in.
// Waited for on the steady clock: a clock set back an hour must not hold the records an hour.
std::chrono::milliseconds UntilNextWrite() {
    const int64_t now = NowMs();
    return std::chrono::milliseconds(MinuteStart(now) + kMinuteMs + 2000 - now);
}

template <typename Record>
void DropOldest(std::vector<Record>& records, size_t bound) {
    // Half at once, so a journal that cannot write does not shift its records at every outcome.
    if (records.size() > bound) records.erase(records.begin(), records.end() - bound / 2);
}

bool SameOutage(const TJournalOutage& a, const TJournalOutage& b) {
    return a.StartedMs == b.StartedMs && a.Host == b.Host;
}

void AddOutage(std::vector<TJournalOutage>& outages, TJournalOutage outage) {
    if (!outages.empty() && SameOutage(outages.back(), outage)) {
        outages.back() = std::move(outage);
    } else {
        outages.push_back(std::move(outage));
    }
}

}  // namespace

void AppendWithinBounds(TJournalBatch& batch, TJournalBatch&& later) {
    batch.Outcomes.insert(batch.Outcomes.end(), std::make_move_iterator(later.Outcomes.begin()),
                          std::make_move_iterator(later.Outcomes.end()));
    for (TJournalOutage& outage : later.Outages) AddOutage(batch.Outages, std::move(outage));
    DropOldest(batch.Outcomes, TJournalWriter::kMaxWaitingOutcomes);
    DropOldest(batch.Outages, TJournalWriter::kMaxWaitingOutages);
}

TJournalWriter::TJournalWriter(QString path, TJournalBatch first, Notify notify)
    : path_(std::move(path)), notify_(std::move(notify)), waiting_(std::move(first)) {
    thread_ = std::thread([this] { Run(); });
}

TJournalWriter::~TJournalWriter() {
    Stop();
}

void TJournalWriter::Add(TJournalOutcome outcome) {
    const std::lock_guard lock(mutex_);
    waiting_.Outcomes.push_back(std::move(outcome));
    DropOldest(waiting_.Outcomes, kMaxWaitingOutcomes);
}

void TJournalWriter::Add(TJournalOutage outage, bool now) {
    {
        const std::lock_guard lock(mutex_);
        AddOutage(waiting_.Outages, std::move(outage));
        DropOldest(waiting_.Outages, kMaxWaitingOutages);
        urgent_ = urgent_ || now;
    }
    if (now) wake_.notify_one();
}

void TJournalWriter::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void TJournalWriter::Run() {
    TJournalBatch batch;
    std::unique_lock lock(mutex_);
    // The first write comes at once: it checks the file (and writes what came before the start).
    bool due = true;
    while (true) {
        if (!due) wake_.wait_for(lock, UntilNextWrite(), [this] { return urgent_ || stopping_; });
        due = false;
        urgent_ = false;
        const bool last = stopping_;
        AppendWithinBounds(batch, std::move(waiting_));
        waiting_ = {};
        lock.unlock();
        if (!batch.Empty() || !checked_) Write(batch);
        lock.lock();
        if (last) return;
    }
}

bool TJournalWriter::Write(TJournalBatch& batch) {
    std::optional<platform::DatabaseFailure> failure;
    // A file found damaged in a write is checked, set aside and replaced in the second try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        platform::DatabaseFailure openFailure;
        QString setAsideAs;
        std::optional<platform::Database> db =
            platform::Database::Open(path_, kJournalSchema, !checked_, openFailure, setAsideAs);
        if (!setAsideAs.isEmpty()) notify_({TJournalEvent::SetAside, setAsideAs});
        if (!db) {
            failure = openFailure;
        } else {
            failure = db->Transaction([&](platform::Database& open) {
                if (!checked_) EndOutagesLeftOpen(open);
                WriteJournalBatch(open, batch, NowMs());
            });
        }
        if (!failure || failure->fault != platform::DatabaseFault::Broken) break;
        checked_ = false;
    }
    if (!failure) {
        checked_ = true;
        batch = {};
        if (fault_) notify_({TJournalEvent::Resumed, {}});
        fault_.reset();
        return true;
    }
    if (fault_ != failure->fault) {
        fault_ = failure->fault;
        const TJournalEvent event =
            failure->fault == platform::DatabaseFault::Busy    ? TJournalEvent::Locked
            : failure->fault == platform::DatabaseFault::Newer ? TJournalEvent::Newer
                                                               : TJournalEvent::Paused;
        notify_({event, failure->reason});
    }
    return false;
}

}  // namespace nodrel
