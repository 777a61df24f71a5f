#include "journal_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "journal_plot.h"
#include "journal_text.h"
#include "outage_table_model.h"
#include "report_document.h"
#include "report_text.h"

namespace nodrel {

namespace {

// Cheap enough to read every few seconds: only the newest buckets are read again.
constexpr int kRefreshMilliseconds = 10'000;

const QString kOutagesFilter = QStringLiteral("Outages (*.csv)");
const QString kMinutesFilter = QStringLiteral("Per-minute rows (*.csv)");
const QString kOutagesFile = QStringLiteral("nodrel-outages.csv");
const QString kMinutesFile = QStringLiteral("nodrel-minutes.csv");

enum Column { kStart, kDuration, kFailures, kReason, kWhere, kHost };

int64_t SystemNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

// "1 outage", "3 outages".
QString Counted(qsizetype count, const QString& one, const QString& many) {
    return count == 1 ? QStringLiteral("1 ") + one : QStringLiteral("%L1 %2").arg(count).arg(many);
}

}  // namespace

TJournalWindow::TJournalWindow(QString journalPath, TClock clock)
    : reader_(std::make_shared<TJournalReader>(std::move(journalPath))),
      clock_(clock ? std::move(clock) : TClock(SystemNow)),
      read_(new QFutureWatcher<TJournalView>(this)),
      spanChooser_(new QComboBox(this)),
      pauseLine_(new QLabel(this)),
      plot_(new TJournalPlot(this)),
      readout_(new QLabel(this)),
      outages_(new TOutageTableModel(this)),
      table_(new QTableView(this)),
      statusLine_(new QLabel(this)),
      reportButton_(new QPushButton(QStringLiteral("&Report..."), this)),
      exportButton_(new QPushButton(QStringLiteral("&Export CSV..."), this)),
      copyButton_(new QPushButton(QStringLiteral("&Copy"), this)) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Journal - KAVREN Nodrel"));
    connect(read_, &QFutureWatcher<TJournalView>::finished, this, [this] {
        reading_ = false;
        TJournalView view = read_->result();
        const bool current = view.span == span_;
        if (current) ShowView(std::move(view));
        if (!isVisible()) {
            reader_->Close();
        } else if (readAgain_ || !current) {
            Refresh();
        }
    });

    UserSettingsStore store;
    saved_ = LoadJournalWindowSettings(store);
    span_ = TJournalSpan(saved_.Span.value_or(uint32_t(TJournalSpan::Day)));
    exportFolder_ = saved_.ExportFolder;

    spanChooser_->setObjectName(QStringLiteral("Span"));
    for (int span = 0; span < kJournalSpanCount; ++span) {
        spanChooser_->addItem(SpanName(TJournalSpan(span)));
    }
    auto* spanLabel = new QLabel(QStringLiteral("&Span:"), this);
    spanLabel->setBuddy(spanChooser_);
    spanChooser_->setCurrentIndex(int(span_));
    connect(spanChooser_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetSpan(TJournalSpan(index)); });
    // Ctrl+1 to Ctrl+5 choose the spans from anywhere in the window.
    for (int span = 0; span < kJournalSpanCount; ++span) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + span)), this);
        connect(shortcut, &QShortcut::activated, this,
                [this, span] { spanChooser_->setCurrentIndex(span); });
    }

    pauseLine_->setObjectName(QStringLiteral("Paused"));
    pauseLine_->setWordWrap(true);
    pauseLine_->hide();
    readout_->setObjectName(QStringLiteral("Readout"));
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(plot_, &TJournalPlot::Readout, this, &TJournalWindow::ShowReadout);

    table_->setObjectName(QStringLiteral("Outages"));
    table_->setModel(outages_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // The reason takes the room left; a long host is cut, and its tip tells it whole.
    QHeaderView* header = table_->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(kReason, QHeaderView::Stretch);
    const QFontMetrics metrics = fontMetrics();
    const int padding = 3 * metrics.averageCharWidth();
    table_->setColumnWidth(kStart, metrics.horizontalAdvance(LocalTimeText(0)) + padding);
    table_->setColumnWidth(
        kDuration, metrics.horizontalAdvance(QStringLiteral("ongoing, 00 min 00 s")) + padding);
    table_->setColumnWidth(kFailures,
                           metrics.horizontalAdvance(QStringLiteral("Failed probes")) + padding);
    table_->setColumnWidth(
        kWhere, metrics.horizontalAdvance(QStringLiteral("beyond (192.168.100.100)")) + padding);
    table_->setColumnWidth(kHost, 16 * metrics.averageCharWidth() + padding);
    auto* tableLabel = new QLabel(QStringLiteral("&Outages:"), this);
    tableLabel->setBuddy(table_);
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, table_);
    copyShortcut->setContext(Qt::WidgetShortcut);
    connect(copyShortcut, &QShortcut::activated, this, &TJournalWindow::CopySelected);

    statusLine_->setObjectName(QStringLiteral("Status"));
    statusLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reportButton_->setObjectName(QStringLiteral("Report"));
    connect(reportButton_, &QPushButton::clicked, this, [this] { MakeReport(); });
    exportButton_->setObjectName(QStringLiteral("ExportCsv"));
    connect(exportButton_, &QPushButton::clicked, this, &TJournalWindow::ChooseExport);
    copyButton_->setObjectName(QStringLiteral("Copy"));
    copyButton_->setEnabled(false);
    connect(copyButton_, &QPushButton::clicked, this, &TJournalWindow::CopySelected);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { copyButton_->setEnabled(table_->selectionModel()->hasSelection()); });
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("Close"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    auto* refresh = new QShortcut(QKeySequence::Refresh, this);
    connect(refresh, &QShortcut::activated, this, &TJournalWindow::Refresh);

    auto* spanRow = new QHBoxLayout;
    spanRow->addWidget(spanLabel);
    spanRow->addWidget(spanChooser_);
    spanRow->addStretch();
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(statusLine_, 1);
    buttonRow->addWidget(reportButton_);
    buttonRow->addWidget(exportButton_);
    buttonRow->addWidget(copyButton_);
    buttonRow->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(spanRow);
    layout->addWidget(pauseLine_);
    layout->addWidget(plot_, 3);
    layout->addWidget(readout_);
    layout->addWidget(tableLabel);
    layout->addWidget(table_, 2);
    layout->addLayout(buttonRow);
    QWidget* const tabOrder[] = {spanChooser_,  plot_,       table_,     reportButton_,
                                 exportButton_, copyButton_, closeButton};
    for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // Wide enough for the table's columns and a plot of a pixel column or more per bucket.
    const QSize defaultSize(130 * metrics.averageCharWidth(), 30 * metrics.height());
    resize(saved_.Size.value_or(defaultSize));

    refreshTimer_.setInterval(kRefreshMilliseconds);
    connect(&refreshTimer_, &QTimer::timeout, this, &TJournalWindow::Refresh);
}

TJournalWindow::~TJournalWindow() {
    // The program can end with the window open.
    if (isVisible()) SaveSettings();
    // QWidget closes the window after the members are gone: the plot losing the focus then must
    // not ask for a readout.
    disconnect(plot_, nullptr, this, nullptr);
}

void TJournalWindow::SetSpan(TJournalSpan span) {
    if (spanChooser_->currentIndex() != int(span)) {
        spanChooser_->setCurrentIndex(int(span));  // comes back here
        return;
    }
    if (span_ == span && view_.nowMs != 0) return;
    span_ = span;
    // Hidden, the window reads when it is shown.
    if (isVisible()) Refresh();
}

void TJournalWindow::Refresh() {
    if (reading_) {
        readAgain_ = true;
        return;
    }
    reading_ = true;
    readAgain_ = false;
    const int64_t now = clock_();
    const int64_t offset = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc() * 1000LL;
    std::optional<TJournalView> previous;
    if (view_.span == span_ && view_.nowMs != 0) previous = view_;
    read_->setFuture(QtConcurrent::run(
        [reader = reader_, span = span_, now, offset, previous = std::move(previous)] {
            return reader->Read(span, now, offset, previous ? &*previous : nullptr);
        }));
}

void TJournalWindow::ShowView(TJournalView view) {
    view_ = std::move(view);
    plot_->SetView(view_);  // tells the readout
    ShowOutages();
    emit ViewShown();
}

void TJournalWindow::ShowOutages() {
    std::vector<TJournalOutage> outages = view_.outages;
    if (outageWatch_ && outageWatch_->Current()) {
        const TOutage& live = *outageWatch_->Current();
        for (TJournalOutage& outage : outages) {
            if (!outage.EndedMs && outage.StartedMs == live.StartedMs && outage.Host == live.Host) {
                outage.Failures = std::max(outage.Failures, live.Failures);
            }
        }
    }
    outages_->SetOutages(std::move(outages), view_.nowMs);
}

void TJournalWindow::FollowOutages(const TOutageWatch& watch) {
    outageWatch_ = &watch;
    connect(&watch, &TOutageWatch::Extended, this, &TJournalWindow::ShowOutages);
    ShowOutages();
}

void TJournalWindow::SetJournalPaused(std::optional<int64_t> sinceMs) {
    pauseLine_->setVisible(sinceMs.has_value());
    if (!sinceMs) return;
    pauseLine_->setText(
        QStringLiteral("The journal has been paused since %1: shown is what it holds, newer "
                       "probes wait to be written.")
            .arg(LocalTimeText(*sinceMs)));
}

void TJournalWindow::ShowReadout(const QString& bucketText) {
    readout_->setText(bucketText.isEmpty()
                          ? SpanSummary()
                          : QString(bucketText).replace(u'\n', QStringLiteral("  ·  ")));
}

QString TJournalWindow::SpanSummary() const {
    int64_t probes = 0;
    int64_t answered = 0;
    for (const TJournalBucket& bucket : view_.buckets) {
        probes += bucket.probes;
        answered += bucket.answered;
    }
    const QString outages = Counted(qsizetype(view_.outages.size()), QStringLiteral("outage"),
                                    QStringLiteral("outages"));
    if (probes == 0) return QStringLiteral("No probes in this span  ·  ") + outages;
    return QStringLiteral("Loss %1 % of %2  ·  %3")
        .arg(100.0 * (probes - answered) / probes, 0, 'f', 2)
        .arg(Counted(probes, QStringLiteral("probe"), QStringLiteral("probes")), outages);
}

void TJournalWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refreshTimer_.start();
}

void TJournalWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer_.stop();
    // A read under way lets go of the file when it ends.
    if (!reading_) reader_->Close();
    SaveSettings();
}

void TJournalWindow::SaveSettings() {
    const TJournalWindowSettings shown{size(), uint32_t(span_), exportFolder_};
    if (shown == saved_) return;
    UserSettingsStore store;
    // Values that cannot be kept are no loss worth telling: the next window opens at defaults.
    if (SaveJournalWindowSettings(store, shown)) saved_ = shown;
}

bool TJournalWindow::ExportCsv(const QString& path, TCsvContent content, QString* error) {
    QString csv;
    QString what;
    if (content == TCsvContent::Outages) {
        const std::vector<TJournalOutage>& outages = outages_->Outages();
        csv = OutagesCsv(outages);
        what =
            Counted(qsizetype(outages.size()), QStringLiteral("outage"), QStringLiteral("outages"));
    } else {
        // A reader of its own: the window's may be reading on another thread.
        QString failure;
        const std::vector<TJournalMinute> minutes =
            TJournalReader(reader_->Path())
                .Minutes(view_.layout.beginMs, view_.layout.EndMs(), &failure);
        if (!failure.isEmpty()) {
            if (error) *error = failure;
            return false;
        }
        csv = MinutesCsv(minutes);
        what = Counted(qsizetype(minutes.size()), QStringLiteral("per-minute row"),
                       QStringLiteral("per-minute rows"));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.toUtf8()) < 0 || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    const QFileInfo written(path);
    exportFolder_ = written.absolutePath();
    statusLine_->setText(QStringLiteral("Exported %1 to %2")
                             .arg(what, QDir::toNativeSeparators(written.filePath())));
    return true;
}

void TJournalWindow::ChooseExport() {
    const QString folder =
        !exportFolder_.isEmpty() && QDir(exportFolder_).exists() ? exportFolder_ : QDir::homePath();
    QFileDialog dialog(this, QStringLiteral("Export CSV"), folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({kOutagesFilter, kMinutesFilter});
    dialog.selectFile(kOutagesFile);
    // The name follows the content chosen, unless the user gave one of their own.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const QString name = QFileInfo(dialog.selectedFiles().value(0)).fileName();
        if (name == kOutagesFile || name == kMinutesFile) {
            dialog.selectFile(filter == kMinutesFilter ? kMinutesFile : kOutagesFile);
        }
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().constFirst();
    const TCsvContent content =
        dialog.selectedNameFilter() == kMinutesFilter ? TCsvContent::Minutes : TCsvContent::Outages;
    QString error;
    if (!ExportCsv(path, content, &error)) {
        QMessageBox::warning(this, QStringLiteral("Export CSV"),
                             QStringLiteral("%1 was not written: %2").arg(path, error));
    }
}

void TJournalWindow::MakeReport(const QString& path) {
    reportButton_->setEnabled(false);
    const int64_t now = clock_();
    const int64_t offset = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc() * 1000LL;
    const TReportPeriod period = SpanPeriod(span_, now, offset);
    struct TReportRead {
        std::optional<TJournalReport> report;
        QString error;
    };
    // A reader of its own, on a thread of the pool: the window's may be reading on another.
    QtConcurrent::run([journal = reader_->Path(), period, now] {
        TJournalReader reader(journal);
        TReportRead read;
        read.report = ReadJournalReport(reader, period, QString(), now, &read.error);
        return read;
    }).then(this, [this, path](const TReportRead& read) {
        reportButton_->setEnabled(true);
        if (!read.report) {
            QMessageBox::warning(this, QStringLiteral("Report"),
                                 QStringLiteral("No report was made: %1").arg(read.error));
            emit ReportDone(false);
            return;
        }
        WriteReport(*read.report, path);
    });
}

void TJournalWindow::WriteReport(const TJournalReport& report, QString path) {
    if (path.isEmpty()) {
        const QString folder = !exportFolder_.isEmpty() && QDir(exportFolder_).exists()
                                   ? exportFolder_
                                   : QDir::homePath();
        path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Report"),
            QDir(folder).filePath(ReportFileName(report.host, report.beginMs, report.endMs)),
            QStringLiteral("PDF (*.pdf)"));
        if (path.isEmpty()) {
            emit ReportDone(false);
            return;
        }
    }
    QString error;
    if (!WriteReportPdf(report, path, &error)) {
        QMessageBox::warning(this, QStringLiteral("Report"),
                             QStringLiteral("%1 was not written: %2").arg(path, error));
        emit ReportDone(false);
        return;
    }
    const QFileInfo written(path);
    exportFolder_ = written.absolutePath();
    statusLine_->setText(QStringLiteral("Wrote the report of %1, %2, to %3")
                             .arg(report.host, SpanName(report.view.span).toLower(),
                                  QDir::toNativeSeparators(written.filePath())));
    emit ReportDone(true);
}

void TJournalWindow::CopySelected() {
    std::vector<TJournalOutage> selected;
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex& row : rows) selected.push_back(outages_->Outages()[row.row()]);
    if (selected.empty()) return;
    QApplication::clipboard()->setText(OutagesClipboardText(selected, outages_->NowMs()));
}

}  // namespace nodrel
