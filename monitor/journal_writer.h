#pragma once

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "database.h"
#include "journal_tables.h"

namespace nodrel {

// What the writer has to tell of the journal's state.
enum class TJournalEvent {
    Paused,    // the file cannot be written (full disk, read-only folder); records wait
    Resumed,   // a write succeeded after a pause or a lock
    Locked,    // another writer kept it locked; the records wait for the next try
    SetAside,  // the file was no database or damaged: kept under a new name, a new one started
    Newer,     // the file is of a newer version of the program: left as it is, records wait
};

struct TJournalNotice {
    TJournalEvent Event = TJournalEvent::Paused;
    QString Detail;  // why it paused or was locked; the name a broken file was kept as
};

// Writes the journal's records on a thread of its own, so the outcome path never waits for the
// disk: once a minute, and at once when an outage starts or ends. Each write opens the database,
// runs one transaction and closes it again. What cannot be written waits for the next try, up
// to a bound.
class TJournalWriter {
public:
    // Called on the writer's thread, once when a state begins.
    using Notify = std::function<void(const TJournalNotice&)>;

    // Records waiting beyond this many drop their oldest: some hours at a probe a second.
    static constexpr size_t kMaxWaitingOutcomes = 16384;
    static constexpr size_t kMaxWaitingOutages = 1024;

    // Starts the thread, which opens the database at once, checking its integrity, and writes
    // `first`.
    TJournalWriter(QString path, TJournalBatch first, Notify notify);
    ~TJournalWriter();

    void Add(TJournalOutcome outcome);
    // `now`: the outage starts or ends, written without waiting for the minute. A later state of
    // the same outage replaces one still waiting.
    void Add(TJournalOutage outage, bool now);
    // Writes what waits, one try, and ends the thread.
    void Stop();

private:
    void Run();
    // False when the batch could not be written; it is then kept, within the bounds.
    bool Write(TJournalBatch& batch);

    const QString path_;
    const Notify notify_;
    std::mutex mutex_;
    std::condition_variable wake_;
    TJournalBatch waiting_;  // handed over, not yet taken by the thread
    bool urgent_ = false;
    bool stopping_ = false;

    // The thread's own.
    bool checked_ = false;  // a run's first open checks the file and ends outages left open
    std::optional<platform::DatabaseFault> fault_;  // told, and lasting until a write succeeds
    std::thread thread_;
};

// Appends `later` to `batch`, then drops the oldest records beyond the bounds.
void AppendWithinBounds(TJournalBatch& batch, TJournalBatch&& later);

}  // namespace nodrel
