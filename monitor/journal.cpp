#include "journal.h"

#include <QDateTime>
#include <algorithm>

#include "outcome_readout.h"

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
            QMetaObject::invokeMethod(
                this, [this, notice] { emit Noticed(notice); }, Qt::QueuedConnection);
        });
    early_ = {};
}

void TJournal::Close() {
    if (closed_) return;
    closed_ = true;
    if (current_) {
        TOutage ended = *current_;
        ended.EndedMs = QDateTime::currentMSecsSinceEpoch();
        Hand(Row(ended), true);
        current_.reset();
    }
    writer_.reset();
}

void TJournal::Add(bool success, const TOutcomeRecord& record) {
    TJournalOutcome outcome{record.StartTime,    host_,         success,
                            RoundTripMs(record), record.Status, record.NameNotFound};
    if (writer_) {
        writer_->Add(std::move(outcome));
    } else if (!closed_) {
        AppendWithinBounds(early_, {{std::move(outcome)}, {}});
    }
    if (success) {
        afterAnswer_ = true;
        return;
    }
    if (afterAnswer_) streak_.clear();
    afterAnswer_ = false;
    const auto kind = std::find_if(streak_.begin(), streak_.end(), [&](const TFailureKind& k) {
        return k.Status == record.Status && k.NameNotFound == record.NameNotFound;
    });
    if (kind != streak_.end()) {
        ++kind->Count;
    } else {
        streak_.push_back({record.Status, record.NameNotFound, 1, record});
    }
}

void TJournal::OutageStarted(const TOutage& outage) {
    current_ = outage;
    outageHost_ = host_;
    Hand(Row(outage), true);
}

void TJournal::OutageExtended(const TOutage& outage) {
    current_ = outage;
    Hand(Row(outage), false);
}

void TJournal::OutageEnded(const TOutage& outage) {
    current_.reset();
    Hand(Row(outage), true);
    // Told after the answer, or by an interruption: either way the next failure starts anew.
    afterAnswer_ = true;
}

TJournalOutage TJournal::Row(const TOutage& outage) const {
    TJournalOutage row{outage.StartedMs, outage.EndedMs, outage.Failures, {}, outageHost_, {}};
    // The kind most of the streak's failures had; the earliest among equals.
    const auto most = std::max_element(
        streak_.begin(), streak_.end(),
        [](const TFailureKind& a, const TFailureKind& b) { return a.Count < b.Count; });
    row.Reason = FailureText(most != streak_.end() ? most->Sample : outage.FirstFailure);
    if (outage.FirstFailure.Address) {
        row.Address = QString::fromStdString(platform::AddressText(*outage.FirstFailure.Address));
    }
    return row;
}

void TJournal::Hand(TJournalOutage row, bool now) {
    if (writer_) {
        writer_->Add(std::move(row), now);
    } else if (!closed_) {
        AppendWithinBounds(early_, {{}, {std::move(row)}});
    }
}

}  // namespace nodrel
