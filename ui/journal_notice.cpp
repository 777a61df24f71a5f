#include "journal_notice.h"

#include <cstdio>

#include "floating_window.h"
#include "notifier.h"

namespace nodrel {

namespace {

// One notice at a time tells of the journal's state.
const QString kJournalTopic = QStringLiteral("journal");

}  // namespace

void TellJournalNotice(TFloatingWindow& window, const QString& path, const TJournalNotice& notice) {
    QString title;
    QString line;
    switch (notice.Event) {
        case TJournalEvent::Paused:
            title = QStringLiteral("Journal paused");
            line =
                QStringLiteral("journal paused, %1 cannot be written: %2; it resumes when it can")
                    .arg(path, notice.Detail);
            break;
        case TJournalEvent::Resumed:
            // The notice of the pause goes with it.
            std::fprintf(stderr, "KAVREN Nodrel: journal resumed, writing to %s\n",
                         qPrintable(path));
            window.Notifier().Withdraw(kJournalTopic);
            return;
        case TJournalEvent::Locked:
            title = QStringLiteral("Journal locked");
            line = QStringLiteral(
                       "journal %1 is locked by another program (%2); its records wait "
                       "for the next try")
                       .arg(path, notice.Detail);
            break;
        case TJournalEvent::Newer:
            title = QStringLiteral("Journal left as it is");
            line = QStringLiteral(
                       "journal %1 was written by a newer version of KAVREN Nodrel (%2); it is "
                       "left as it is and nothing more is journaled")
                       .arg(path, notice.Detail);
            break;
        case TJournalEvent::SetAside:
            title = QStringLiteral("Journal set aside");
            line = QStringLiteral(
                       "journal %1 was damaged or no database; kept as %2, a new one "
                       "started")
                       .arg(path, notice.Detail);
            break;
    }
    std::fprintf(stderr, "KAVREN Nodrel: %s\n", qPrintable(line));
    window.Notifier().Tell(kJournalTopic, {title, line, true}, TNotifier::TFallback::ShowIcon);
}

}  // namespace nodrel
