#include "history_window.h"

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

#include "history_plot.h"
#include "history_text.h"
#include "history_window_size.h"
#include "outage_table_model.h"

namespace nodrel {

namespace {

// Cheap enough to read every few seconds: only the newest buckets are read again.
constexpr int kRefreshMilliseconds = 10'000;

const QString kOutagesFilter = QStringLiteral("Outages (*.csv)");
const QString kMinutesFilter = QStringLiteral("Per-minute rows (*.csv)");

int64_t SystemNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

THistoryWindow::THistoryWindow(QString journalPath, TClock clock)
    : reader_(std::move(journalPath)),
      clock_(clock ? std::move(clock) : TClock(SystemNow)),
      spanChooser_(new QComboBox(this)),
      plot_(new THistoryPlot(this)),
      readout_(new QLabel(this)),
      outages_(new TOutageTableModel(this)),
      table_(new QTableView(this)),
      exportButton_(new QPushButton(QStringLiteral("&Export CSV..."), this)),
      copyButton_(new QPushButton(QStringLiteral("&Copy"), this)) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History - KAVREN Nodrel"));

    spanChooser_->setObjectName(QStringLiteral("Span"));
    for (int span = 0; span < kHistorySpanCount; ++span) {
        spanChooser_->addItem(SpanName(THistorySpan(span)));
    }
    auto* spanLabel = new QLabel(QStringLiteral("&Span:"), this);
    spanLabel->setBuddy(spanChooser_);
    view_.span = THistorySpan::Day;
    spanChooser_->setCurrentIndex(int(view_.span));
    connect(spanChooser_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetSpan(THistorySpan(index)); });
    // Ctrl+1 to Ctrl+5 choose the spans from anywhere in the window.
    for (int span = 0; span < kHistorySpanCount; ++span) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + span)), this);
        connect(shortcut, &QShortcut::activated, this,
                [this, span] { spanChooser_->setCurrentIndex(span); });
    }

    readout_->setObjectName(QStringLiteral("Readout"));
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(plot_, &THistoryPlot::Readout, this, &THistoryWindow::ShowReadout);

    table_->setObjectName(QStringLiteral("Outages"));
    table_->setModel(outages_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics metrics = fontMetrics();
    const int padding = 3 * metrics.averageCharWidth();
    table_->setColumnWidth(0, metrics.horizontalAdvance(LocalTimeText(0)) + padding);
    table_->setColumnWidth(
        1, metrics.horizontalAdvance(QStringLiteral("ongoing, 00 min 00 s")) + padding);
    table_->setColumnWidth(2, metrics.horizontalAdvance(QStringLiteral("Failed probes")) + padding);
    table_->setColumnWidth(
        3, metrics.horizontalAdvance(QStringLiteral("Destination host unreachable")) + padding);
    auto* tableLabel = new QLabel(QStringLiteral("&Outages:"), this);
    tableLabel->setBuddy(table_);
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, table_);
    copyShortcut->setContext(Qt::WidgetShortcut);
    connect(copyShortcut, &QShortcut::activated, this, &THistoryWindow::CopySelected);

    exportButton_->setObjectName(QStringLiteral("ExportCsv"));
    connect(exportButton_, &QPushButton::clicked, this, &THistoryWindow::ChooseExport);
    copyButton_->setObjectName(QStringLiteral("Copy"));
    copyButton_->setEnabled(false);
    connect(copyButton_, &QPushButton::clicked, this, &THistoryWindow::CopySelected);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { copyButton_->setEnabled(table_->selectionModel()->hasSelection()); });
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("Close"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    auto* refresh = new QShortcut(QKeySequence::Refresh, this);
    connect(refresh, &QShortcut::activated, this, &THistoryWindow::Refresh);

    auto* spanRow = new QHBoxLayout;
    spanRow->addWidget(spanLabel);
    spanRow->addWidget(spanChooser_);
    spanRow->addStretch();
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(exportButton_);
    buttonRow->addWidget(copyButton_);
    buttonRow->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(spanRow);
    layout->addWidget(plot_, 3);
    layout->addWidget(readout_);
    layout->addWidget(tableLabel);
    layout->addWidget(table_, 2);
    layout->addLayout(buttonRow);
    QWidget* const tabOrder[] = {spanChooser_,  plot_,       table_,
                                 exportButton_, copyButton_, closeButton};
    for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    UserSettingsStore store;
    savedSize_ = LoadHistoryWindowSize(store).value_or(QSize());
    // Wide enough for the table's columns and a plot of a pixel column or more per bucket.
    const QSize defaultSize(110 * metrics.averageCharWidth(), 30 * metrics.height());
    resize(savedSize_.isValid() ? savedSize_ : defaultSize);

    refreshTimer_.setInterval(kRefreshMilliseconds);
    connect(&refreshTimer_, &QTimer::timeout, this, &THistoryWindow::Refresh);
}

THistoryWindow::~THistoryWindow() {
    // The program can end with the window open.
    SaveSize();
}

void THistoryWindow::SetSpan(THistorySpan span) {
    if (spanChooser_->currentIndex() != int(span)) {
        spanChooser_->setCurrentIndex(int(span));  // comes back here
        return;
    }
    if (view_.span == span && view_.nowMs != 0) return;
    view_.span = span;
    view_.nowMs = 0;
    Refresh();
}

void THistoryWindow::Refresh() {
    const int64_t now = clock_();
    const int64_t offset = QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc() * 1000LL;
    const bool sameSpan = view_.nowMs != 0;
    view_ = reader_.Read(view_.span, now, offset, sameSpan ? &view_ : nullptr);
    plot_->SetView(view_);  // tells the readout
    outages_->SetOutages(view_.outages, now);
}

void THistoryWindow::ShowReadout(const QString& bucketText) {
    readout_->setText(bucketText.isEmpty()
                          ? SpanSummary()
                          : QString(bucketText).replace(u'\n', QStringLiteral("  ·  ")));
}

QString THistoryWindow::SpanSummary() const {
    int64_t probes = 0;
    int64_t answered = 0;
    for (const THistoryBucket& bucket : view_.buckets) {
        probes += bucket.probes;
        answered += bucket.answered;
    }
    const QString outages = view_.outages.size() == 1
                                ? QStringLiteral("1 outage")
                                : QStringLiteral("%1 outages").arg(view_.outages.size());
    if (probes == 0) return QStringLiteral("No probes in this span  ·  ") + outages;
    return QStringLiteral("Loss %1 % of %L2 probes  ·  %3")
        .arg(100.0 * (probes - answered) / probes, 0, 'f', 2)
        .arg(probes)
        .arg(outages);
}

void THistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refreshTimer_.start();
}

void THistoryWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer_.stop();
    reader_.Close();
    SaveSize();
}

void THistoryWindow::SaveSize() {
    if (size() == savedSize_ || !testAttribute(Qt::WA_WState_ExplicitShowHide)) return;
    UserSettingsStore store;
    // A size that cannot be kept is no loss worth telling: the next window opens at the default.
    if (!SaveHistoryWindowSize(store, size())) savedSize_ = size();
}

bool THistoryWindow::ExportCsv(const QString& path, TCsvContent content, QString* error) {
    QString failure;
    QString csv;
    if (content == TCsvContent::Outages) {
        csv = OutagesCsv(view_.outages);
    } else {
        const std::vector<TJournalMinute> minutes =
            reader_.Minutes(view_.layout.beginMs, view_.layout.EndMs(), &failure);
        if (!failure.isEmpty()) {
            if (error) *error = failure;
            return false;
        }
        csv = MinutesCsv(minutes);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv.toUtf8()) < 0 || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

void THistoryWindow::ChooseExport() {
    QString filter = kOutagesFilter;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export CSV"),
        QDir::home().filePath(QStringLiteral("nodrel-outages.csv")),
        kOutagesFilter + QStringLiteral(";;") + kMinutesFilter, &filter);
    if (path.isEmpty()) return;
    QString error;
    const TCsvContent content =
        filter == kMinutesFilter ? TCsvContent::Minutes : TCsvContent::Outages;
    if (!ExportCsv(path, content, &error)) {
        QMessageBox::warning(this, QStringLiteral("Export CSV"),
                             QStringLiteral("%1 was not written: %2").arg(path, error));
    }
}

void THistoryWindow::CopySelected() {
    std::vector<TJournalOutage> selected;
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    for (const QModelIndex& row : rows) selected.push_back(outages_->Outages()[row.row()]);
    if (selected.empty()) return;
    QApplication::clipboard()->setText(OutagesClipboardText(selected, outages_->NowMs()));
}

}  // namespace nodrel
