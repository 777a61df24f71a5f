#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

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
    // Writes what waits and ends the writer. An outage in progress is written as ended now:
    // the monitor stops watching.
    void Close();

    // The host as typed, whose outcomes come from now on.
    void SetHost(const QString& host) { host_ = host; }
    // Every outcome, before the outage watch hears of it.
    void Add(bool success, const TOutcomeRecord& record);
    void OutageStarted(const TOutage& outage);
    void OutageExtended(const TOutage& outage);
    void OutageEnded(const TOutage& outage);

signals:
    // On the GUI thread, once when a state of the journal begins.
    void Noticed(const nodrel::TJournalNotice& notice);

private:
    // How often one kind of failure came in the current streak of failures.
    struct TFailureKind {
        uint32_t Status = 0;
        bool NameNotFound = false;
        int Count = 0;
        TOutcomeRecord Sample;
    };

    TJournalOutage Row(const TOutage& outage) const;
    void Hand(TJournalOutage row, bool now);

    const QString path_;
    TJournalBatch early_;  // before Start
    // Brings the writer's notices to the GUI thread.
    platform::GuiHandover handover_;
    std::unique_ptr<TJournalWriter> writer_;
    bool closed_ = false;
    QString host_;
    QString outageHost_;  // at the start of the latest outage, should the host change in it
    std::vector<TFailureKind> streak_;
    bool afterAnswer_ = true;
    std::optional<TOutage> current_;  // the outage in progress
};

}  // namespace nodrel
