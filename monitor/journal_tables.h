#pragma once

// What the journal keeps in its database, and how one batch of records goes in.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "database.h"

namespace nodrel {

inline constexpr int64_t kMinuteMs = 60'000;
inline constexpr int64_t kDayMs = 24 * 60 * kMinuteMs;
// Raw outcomes serve the finest view of recent days; the minutes hold longer spans.
inline constexpr int64_t kRawOutcomeDays = 2;
inline constexpr int64_t kMinuteDays = 370;  // a year and then some

// The journal's tables: made where missing, and a journal of an earlier version brought up to
// this one with its rows kept. The table and column names are for users too (the README
// documents them); change them only with their readers, and with a new version.
extern const platform::DatabaseSchema kJournalSchema;

// One probe's outcome.
struct TJournalOutcome {
    int64_t TimeMs = 0;  // the probe's start, ms since the Unix epoch
    QString Host;        // as typed
    bool Answered = false;
    double RttMs = 0;     // the round trip, when answered; kept to 0.01 ms
    uint32_t Status = 0;  // the reply's IP status, or the lookup's error when NameNotFound
    bool NameNotFound = false;
};

// An outage as known so far; written again, it replaces the row of the same start and host.
struct TJournalOutage {
    int64_t StartedMs = 0;
    std::optional<int64_t> EndedMs;
    int32_t Failures = 0;
    QString Reason;
    QString Host;
    QString Address;
    QString Cause;    // the word for where most of its failures lay; empty where not placed
    QString Gateway;  // the router's address then; empty on the link
    bool operator==(const TJournalOutage&) const = default;
};

struct TJournalBatch {
    std::vector<TJournalOutcome> Outcomes;
    std::vector<TJournalOutage> Outages;  // in the order they were told
    bool Empty() const { return Outcomes.empty() && Outages.empty(); }
};

// The start of the calendar minute holding `timeMs`.
int64_t MinuteStart(int64_t timeMs);

// Inside a transaction: each outage as known so far, replacing the row of the same start and host.
void StoreOutages(platform::Database& db, const std::vector<TJournalOutage>& outages);

// Inside a transaction: stores the batch's outcomes and outages, folds every minute they touch
// again from the raw outcomes, and drops raw outcomes and minutes older than they are kept,
// counted back from `nowMs`.
void WriteJournalBatch(platform::Database& db, const TJournalBatch& batch, int64_t nowMs);

// Inside a transaction, before a run's first batch: the outages a run that was killed left
// without an end end at their host's last journaled outcome.
void EndOutagesLeftOpen(platform::Database& db);

}  // namespace nodrel
