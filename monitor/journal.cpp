#include "journal.h"

#include "outcome_readout.h"
#include "user_folders.h"

namespace nodrel {

QString JournalFilePath() {
    return platform::UserStateHome() + QStringLiteral("/KAVREN/Nodrel.sqlite");
}

TJournal::TJournal(QString path) : path_(std::move(path)) {}

TJournal::~TJournal() {
    Close();
}

void TJournal::Start() {
    if (writer_ || closed_) return;
    writer_ = std::make_unique<TJournalWriter>(
        path_, std::move(early_), [this](const TJournalNotice& notice) {
            handover_.Post([this, notice] { emit Noticed(notice); });
        });
    early_ = {};
}

void TJournal::Close() {
    if (closed_) return;
    closed_ = true;
    writer_.reset();
}

void TJournal::Add(bool success, const TOutcomeRecord& record, const QString& host) {
    TJournalOutcome outcome{record.StartTime,    host,          success,
                            RoundTripMs(record), record.Status, record.NameNotFound};
    if (writer_) {
        writer_->Add(std::move(outcome));
    } else if (!closed_) {
        AppendWithinBounds(early_, {{std::move(outcome)}, {}});
    }
}

void TJournal::OutageStarted(const TOutage& outage) {
    Hand(outage, true);
}

void TJournal::OutageExtended(const TOutage& outage) {
    Hand(outage, false);
}

void TJournal::OutageEnded(const TOutage& outage) {
    Hand(outage, true);
}

void TJournal::Hand(const TOutage& outage, bool now) {
    // An address, as the window shows it; empty for none.
    const auto text = [](const std::optional<platform::IpAddress>& address) {
        return address ? QString::fromStdString(platform::AddressText(*address)) : QString();
    };
    TJournalOutage row{outage.StartedMs,
                       outage.EndedMs,
                       outage.Failures,
                       FailureText(outage.CommonFailure),
                       outage.Host,
                       text(outage.FirstFailure.Address),
                       CauseWord(outage.CommonPlace.Cause),
                       text(outage.CommonPlace.Gateway)};
    if (writer_) {
        writer_->Add(std::move(row), now);
    } else if (!closed_) {
        AppendWithinBounds(early_, {{}, {std::move(row)}});
    }
}

}  // namespace nodrel
