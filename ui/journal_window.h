#pragma once

#include <QFutureWatcher>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "journal_reader.h"
#include "journal_window_settings.h"
#include "outage_watch.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace nodrel {

class TJournalPlot;
class TOutageTableModel;

// What "Export CSV..." writes, as the file dialog's two choices.
enum class TCsvContent { Outages, Minutes };

// The Journal window: a normal window with a taskbar entry that shows a span's loss, median round
// trip and outages as a plot and a table of outages, read again every few seconds while it is
// shown. The journal is read on a thread of the pool, one read at a time, and each view shows
// when it arrives. It keeps its size, span and export folder in the settings store.
class TJournalWindow : public QWidget {
    Q_OBJECT

public:
    using TClock = std::function<int64_t()>;  // Unix time in milliseconds

    explicit TJournalWindow(QString journalPath = JournalFilePath(), TClock clock = {});
    ~TJournalWindow() override;

    TJournalSpan Span() const { return span_; }
    void SetSpan(TJournalSpan span);
    // Reads the journal again; shown, the window does so on its own every few seconds.
    void Refresh();
    // The view shown: the last one read.
    const TJournalView& View() const { return view_; }

    // Since when the journal's writes have failed, said above the plot; nothing once they work.
    void SetJournalPaused(std::optional<int64_t> sinceMs);
    // Counts the failed probes of an outage in progress as `watch` does, ahead of the journal,
    // which writes them once a minute.
    void FollowOutages(const TOutageWatch& watch);

    // Writes the span's outages or per-minute rows to `path`, replacing the file whole, and says
    // where they went in the status line; false, with the reason in `error`, when it could not.
    bool ExportCsv(const QString& path, TCsvContent content, QString* error);
    // Puts the selected outages on the clipboard as text.
    void CopySelected();

signals:
    // A view read from the journal is shown.
    void ViewShown();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowView(TJournalView view);
    // The view's outages, an ongoing one's failures counted as the outage watch counts them.
    void ShowOutages();
    void ChooseExport();
    void SaveSettings();
    void ShowReadout(const QString& bucketText);
    QString SpanSummary() const;

    // Used by one read at a time, on the pool's threads; a read still running when the window
    // goes keeps it until it ends.
    std::shared_ptr<TJournalReader> reader_;
    TClock clock_;
    TJournalSpan span_ = TJournalSpan::Day;
    TJournalView view_;
    QFutureWatcher<TJournalView>* read_;
    bool reading_ = false;
    bool readAgain_ = false;  // asked for while a read ran
    QTimer refreshTimer_;
    QPointer<const TOutageWatch> outageWatch_;
    QString exportFolder_;
    TJournalWindowSettings saved_;
    QComboBox* spanChooser_;
    QLabel* pauseLine_;
    TJournalPlot* plot_;
    QLabel* readout_;
    TOutageTableModel* outages_;
    QTableView* table_;
    QLabel* statusLine_;
    QPushButton* exportButton_;
    QPushButton* copyButton_;
};

}  // namespace nodrel
