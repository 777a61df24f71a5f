#pragma once

#include <QString>

#include "journal_writer.h"

namespace nodrel {

class TFloatingWindow;

// Tells what became of the journal at `path`, once when it happens: a line on standard error,
// and for a fault a notification, or the tray icon's message where the icon can be shown, which
// the first good write after it takes back.
void TellJournalNotice(TFloatingWindow& window, const QString& path, const TJournalNotice& notice);

}  // namespace nodrel
