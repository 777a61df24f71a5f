#include "window_dialogs.h"

#include <QColorDialog>
#include <QDateTime>
#include <QLayout>
#include <QScreen>

#include "about_box.h"
#include "journal_window.h"
#include "journal_writer.h"
#include "program_icon.h"
#include "x11_desktop.h"

namespace nodrel {

TWindowDialogs::TWindowDialogs(QWidget& window, TOutageWatch& outages)
    : window_(window), outages_(outages) {}

TWindowDialogs::~TWindowDialogs() = default;

std::optional<QColor> TWindowDialogs::PickColour(QColor initial, const QString& what) {
    // Made at the first colour command: most runs never need one.
    if (colourDialog_ == nullptr) {
        colourDialog_ = new QColorDialog(&window_);
        colourDialog_->setObjectName(QStringLiteral("CD"));
    }
    colourDialog_->setWindowTitle(QStringLiteral("Select Color - ") + what);
    colourDialog_->setCurrentColor(initial);
    if (ShowModal(*colourDialog_) != QDialog::Accepted) return std::nullopt;
    return colourDialog_->selectedColor();
}

std::optional<TProbeOptions> TWindowDialogs::PickOptions(const TProbeOptions& current) {
    if (!optionsDialog_) optionsDialog_ = std::make_unique<TOptionsDialog>(&window_);
    optionsDialog_->Fill(current);
    if (ShowModal(*optionsDialog_) != QDialog::Accepted) return std::nullopt;
    return optionsDialog_->Values();
}

void TWindowDialogs::ShowAbout() {
    if (!aboutBox_) aboutBox_ = std::make_unique<TAboutBox>(nullptr, &window_);
    ShowModal(*aboutBox_);
}

void TWindowDialogs::ShowJournal() {
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

void TWindowDialogs::JournalNoticed(const TJournalNotice& notice) {
    if (notice.Event == TJournalEvent::Paused && !journalPausedSince_) {
        journalPausedSince_ = QDateTime::currentMSecsSinceEpoch();
    } else if (notice.Event == TJournalEvent::Resumed) {
        journalPausedSince_.reset();
    }
    if (journalWindow_) journalWindow_->SetJournalPaused(journalPausedSince_);
}

int TWindowDialogs::ShowModal(QDialog& dialog) {
    ApplicationIcon();  // for the title bar
    // Placed by its client area, which is known before the first showing, unlike its frame, once
    // its layout has set its size: the colour dialog's is only set then.
    dialog.ensurePolished();
    if (QLayout* layout = dialog.layout()) layout->activate();
    QRect area(QPoint(0, 0), dialog.size().expandedTo(dialog.minimumSize()));
    area.moveCenter(window_.screen()->geometry().center());
    dialog.setGeometry(area);
    SetDesktopStates(&dialog);
    return dialog.exec();
}

}  // namespace nodrel
