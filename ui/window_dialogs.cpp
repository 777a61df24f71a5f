// The floating window's dialogs: options, About and the colour commands, each shown modally in
// the middle of the window's screen; and the Journal window, shown beside it, told of the journal's
// pauses.
#include <QColorDialog>
#include <QDateTime>
#include <QLayout>
#include <QScreen>

#include "about_box.h"
#include "floating_window.h"
#include "journal_window.h"
#include "journal_writer.h"
#include "options_dialog.h"
#include "program_icon.h"
#include "x11_desktop.h"

namespace nodrel {

std::optional<QColor> TFloatingWindow::PickColour(QColor initial, const QString& what) {
    // Made at the first colour command: most runs never need one.
    if (colourDialog_ == nullptr) {
        colourDialog_ = new QColorDialog(this);
        colourDialog_->setObjectName(QStringLiteral("CD"));
    }
    colourDialog_->setWindowTitle(QStringLiteral("Select Color - ") + what);
    colourDialog_->setCurrentColor(initial);
    if (ShowDialog(*colourDialog_) != QDialog::Accepted) return std::nullopt;
    return colourDialog_->selectedColor();
}

void TFloatingWindow::ChooseColour(ColourSlot slot, const QString& what) {
    if (const std::optional<QColor> chosen = PickColour(QColor(ToRgb(Colour(slot))), what)) {
        SetColour(slot, FromRgb(chosen->rgb()));
    }
    DrawHistory();
}

void TFloatingWindow::ChooseFrameColour(const QString& what) {
    if (const std::optional<QColor> chosen = PickColour(framePanel_->Colour(), what)) {
        framePanel_->SetColour(*chosen);
    }
}

void TFloatingWindow::ShowOptions() {
    if (!optionsDialog_) optionsDialog_ = std::make_unique<TOptionsDialog>(this);
    optionsDialog_->Fill(
        {Address(), Timeout(), Interval(), render_.w, render_.h, render_.ws, render_.hs});
    if (ShowDialog(*optionsDialog_) != QDialog::Accepted) return;
    const TProbeOptions chosen = optionsDialog_->Values();
    SetAddress(chosen.Host);
    SetTimeout(chosen.Timeout);
    SetInterval(chosen.Interval);
    UpdateTitles();
    render_.w = chosen.W;
    render_.h = chosen.H;
    render_.ws = chosen.WS;
    render_.hs = chosen.HS;
    ApplyWidth(render_.modenum);
    ApplyHeight();
    DrawHistory();
}

void TFloatingWindow::ShowAbout() {
    if (!aboutBox_) aboutBox_ = std::make_unique<TAboutBox>(nullptr, this);
    ShowDialog(*aboutBox_);
}

void TFloatingWindow::ShowJournal() {
    if (!journalWindow_) {
        ApplicationIcon();  // for the title bar and the taskbar entry
        journalWindow_ = std::make_unique<TJournalWindow>();
        journalWindow_->FollowOutages(outages_);
        journalWindow_->SetJournalPaused(journalPausedSince_);
    }
    journalWindow_->setWindowState(journalWindow_->windowState() & ~Qt::WindowMinimized);
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void TFloatingWindow::JournalNoticed(const TJournalNotice& notice) {
    if (notice.Event == TJournalEvent::Paused && !journalPausedSince_) {
        journalPausedSince_ = QDateTime::currentMSecsSinceEpoch();
    } else if (notice.Event == TJournalEvent::Resumed) {
        journalPausedSince_.reset();
    }
    if (journalWindow_) journalWindow_->SetJournalPaused(journalPausedSince_);
}

int TFloatingWindow::ShowDialog(QDialog& dialog) {
    ApplicationIcon();  // for the title bar
    // Placed by its client area, which is known before the first showing, unlike its frame, once
    // its layout has set its size: the colour dialog's is only set then.
    dialog.ensurePolished();
    if (QLayout* layout = dialog.layout()) layout->activate();
    QRect area(QPoint(0, 0), dialog.size().expandedTo(dialog.minimumSize()));
    area.moveCenter(screen()->geometry().center());
    dialog.setGeometry(area);
    SetDesktopStates(&dialog);
    return dialog.exec();
}

}  // namespace nodrel
