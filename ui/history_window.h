#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "journal_reader.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace nodrel {

class THistoryPlot;
class TOutageTableModel;

// What "Export CSV..." writes, as the file dialog's two choices.
enum class TCsvContent { Outages, Minutes };

// The journal's History window: a normal window with a taskbar entry that shows a span's loss,
// median round trip and outages as a plot and a table of outages, read again every few seconds
// while it is shown. It keeps its size in the settings store.
class THistoryWindow : public QWidget {
    Q_OBJECT

public:
    using TClock = std::function<int64_t()>;  // Unix time in milliseconds

    explicit THistoryWindow(QString journalPath = JournalFilePath(), TClock clock = {});
    ~THistoryWindow() override;

    THistorySpan Span() const { return view_.span; }
    void SetSpan(THistorySpan span);
    // Reads the journal again; shown, the window does so on its own every few seconds.
    void Refresh();
    const THistoryView& View() const { return view_; }

    // Writes the span's outages or per-minute rows to `path`, replacing the file whole; false,
    // with the reason in `error`, when it could not.
    bool ExportCsv(const QString& path, TCsvContent content, QString* error);
    // Puts the selected outages on the clipboard as text.
    void CopySelected();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ChooseExport();
    void SaveSize();
    void ShowReadout(const QString& bucketText);
    QString SpanSummary() const;

    TJournalReader reader_;
    TClock clock_;
    THistoryView view_;
    QTimer refreshTimer_;
    QComboBox* spanChooser_;
    THistoryPlot* plot_;
    QLabel* readout_;
    TOutageTableModel* outages_;
    QTableView* table_;
    QPushButton* exportButton_;
    QPushButton* copyButton_;
    QSize savedSize_;
};

}  // namespace nodrel
