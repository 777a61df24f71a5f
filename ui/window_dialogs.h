#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "options_dialog.h"

class QColorDialog;
class QDialog;
class QWidget;

namespace nodrel {

class TAboutBox;
class TJournalWindow;
class TOutageWatch;
struct TJournalNotice;

// The windows the floating window opens, each made at its first use and kept for later ones: the
// colour dialog, Options and About, shown modally in the middle of the window's screen, and the
// Journal window, shown beside it and told of the journal's pauses.
class TWindowDialogs {
public:
    // `window` owns the dialogs and places them; the Journal window follows `outages`.
    TWindowDialogs(QWidget& window, TOutageWatch& outages);
    ~TWindowDialogs();

    // The colour the user chose for `what` (named in the dialog's title), starting at `initial`;
    // nothing on cancel.
    std::optional<QColor> PickColour(QColor initial, const QString& what);
    // What the user confirmed in Options, starting at `current`; nothing on cancel.
    std::optional<TProbeOptions> PickOptions(const TProbeOptions& current);
    void ShowAbout();
    void ShowJournal();
    TJournalWindow* JournalWindow() const { return journalWindow_.get(); }
    // What became of the journal's writes, for the Journal window to say it is paused.
    void JournalNoticed(const TJournalNotice& notice);

private:
    int ShowModal(QDialog& dialog);

    QWidget& window_;
    TOutageWatch& outages_;
    QColorDialog* colourDialog_ = nullptr;
    std::unique_ptr<TOptionsDialog> optionsDialog_;
    std::unique_ptr<TAboutBox> aboutBox_;
    // A window of its own with a taskbar entry, not the window's child: closing it only hides it.
    std::unique_ptr<TJournalWindow> journalWindow_;
    std::optional<int64_t> journalPausedSince_;
};

}  // namespace nodrel
