#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "gui_handover.h"
#include "journal_writer.h"
#include "outage_watch.h"
#include "outcome_record.h"

namespace nodrel {

// $XDG_STATE_HOME/KAVREN/Nodrel.sqlite (~/.local/state/... when the variable is unset).
QString JournalFilePath();

// The journal of what the monitor saw, kept in an SQLite database that outlives the run: every
// outage, each minute's probes and round trips, and the raw outcomes of recent days. It lives on
// the GUI thread and only hands records over; a writer thread of its own, started by Start, does
// the disk work.
class TJournal : public QObject {
    Q_OBJECT

public:
    // Throws std::system_error when no eventfd can be had.
    explicit TJournal(QString path = JournalFilePath());
    // Closes as Close does.
    ~TJournal() override;

    const QString& Path() const { return path_; }

    // Opens the database on the writer's thread; what came before waits for it.
    void Start();
    // Writes what waits and ends the writer. The outage watch ends an outage in progress first.
    void Close();

    // Every outcome, with the host text it was probed for.
    void Add(bool success, const TOutcomeRecord& record, const QString& host);
    // An outage as the outage watch tells it.
    void OutageStarted(const TOutage& outage);
    void OutageExtended(const TOutage& outage);
    void OutageEnded(const TOutage& outage);

signals:
    // On the GUI thread, once when a state of the journal begins.
    void Noticed(const nodrel::TJournalNotice& notice);

private:
    void Hand(const TOutage& outage, bool now);

    const QString path_;
    TJournalBatch early_;  // before Start
    // Brings the writer's notices to the GUI thread.
    platform::GuiHandover handover_;
    std::unique_ptr<TJournalWriter> writer_;
    bool closed_ = false;
};

}  // namespace nodrel
