// The Journal window in-process on the offscreen platform, on journals of known rows.

#include "journal_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

#include "journal_plot.h"
#include "support/shell_command.h"
#include "support/small_file_system.h"
#include "support/test_journal.h"

namespace nodrel {
namespace {

using testing::At;
using testing::TestJournal;

class JournalWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        qputenv("TZ", "UTC");
        tzset();
        qputenv("XDG_CONFIG_HOME", folder_.filePath(QStringLiteral("config")).toLocal8Bit());
    }

    QString Path() const { return folder_.filePath(QStringLiteral("Nodrel.sqlite")); }

    // The window at 12:00:30, shown with the span read.
    std::unique_ptr<TJournalWindow> Open(TJournalSpan span, const QString& path = {}) {
        auto window = std::make_unique<TJournalWindow>(path.isEmpty() ? Path() : path,
                                                       [] { return At(12, 0, 30); });
        window->show();
        ShowSpan(*window, span);
        return window;
    }

    // Chooses `span` and waits until it is read and shown.
    static void ShowSpan(TJournalWindow& window, TJournalSpan span) {
        QSignalSpy shown(&window, &TJournalWindow::ViewShown);
        window.SetSpan(span);
        while (window.View().span != span || window.View().nowMs == 0) {
            ASSERT_TRUE(shown.wait(5000));
        }
        QCoreApplication::processEvents();
    }

    // The middle pixel column of the plot's bucket; -1 when none is drawn.
    static int ColumnOf(const TJournalPlot& plot, int bucket) {
        const QRect area = plot.PlotArea();
        std::vector<int> columns;
        for (int x = area.left(); x <= area.right(); ++x) {
            if (plot.BucketAt({x, area.center().y()}) == bucket) columns.push_back(x);
        }
        return columns.empty() ? -1 : columns[columns.size() / 2];
    }

    // What the readout says of the span's last bucket, chosen from the keyboard.
    static QString LastBucketReadout(TJournalWindow& window) {
        auto* plot = window.findChild<TJournalPlot*>();
        plot->setFocus();
        QTest::keyClick(plot, Qt::Key_End);
        return window.findChild<QLabel*>(QStringLiteral("Readout"))->text();
    }

    static QString Cell(TJournalWindow& window, int row, int column) {
        const QAbstractItemModel* model =
            window.findChild<QTableView*>(QStringLiteral("Outages"))->model();
        return model->data(model->index(row, column)).toString();
    }

    int argc_ = 1;
    char name_[7] = "nodrel";
    char* argv_[2] = {name_, nullptr};
    QApplication application_{argc_, argv_};
    QTemporaryDir folder_;
};

// What the user sees of three minutes: half lost in red from the bottom up, a minute the monitor
// did not run hatched grey and never red, a minute of full answers without a bar.
TEST_F(JournalWindowTest, PlotShowsLossInRedAndAGapNotAsLoss) {
    {
        TestJournal journal(Path());
        journal.Minute(At(11, 54), 1, 1, 0.42);
        journal.Minute(At(11, 56), 60, 60, 20.0);
        journal.Minute(At(11, 57), 60, 30, 20.0);
        journal.Minute(At(11, 59), 60, 60, 20.0);
        ASSERT_TRUE(journal.Commit());
    }
    const auto window = Open(TJournalSpan::Hour);
    auto* plot = window->findChild<TJournalPlot*>();
    const QImage image = plot->grab().toImage();
    const QRect area = plot->PlotArea();
    const auto columnOf = [&](int bucket) { return ColumnOf(*plot, bucket); };
    const int lossColumn = columnOf(56);  // 11:57, the hour's buckets start at 11:01
    const int gapColumn = columnOf(57);
    const int fullColumn = columnOf(55);
    ASSERT_GE(lossColumn, 0);
    ASSERT_GE(gapColumn, 0);
    const int low = area.bottom() - 2;
    EXPECT_EQ(image.pixelColor(lossColumn, low), QColor(216, 60, 60));
    EXPECT_EQ(image.pixelColor(lossColumn, area.top() + area.height() / 2 + 3),
              QColor(216, 60, 60));
    EXPECT_NE(image.pixelColor(lossColumn, area.top() + area.height() / 4), QColor(216, 60, 60));
    EXPECT_EQ(image.pixelColor(fullColumn, low), QColor(255, 255, 255));
    int hatched = 0;
    for (int y = area.top() + area.height() / 2; y < area.bottom(); ++y) {
        EXPECT_NE(image.pixelColor(gapColumn, y), QColor(216, 60, 60)) << "y " << y;
        hatched += image.pixelColor(gapColumn, y) == QColor(150, 150, 150);
    }
    EXPECT_GT(hatched, 0);
    // The pointer on a bucket chooses it, for its tip and the readout.
    QTest::mouseMove(plot, QPoint(lossColumn, low));
    EXPECT_EQ(plot->ChosenBucket(), 56);
    EXPECT_EQ(plot->BucketText(57).toStdString(), "Fri 2026-12-11 11:58 – 11:59\nNot monitored");
    // The current minute is not in the file yet: blank, not a gap.
    EXPECT_EQ(plot->BucketText(59).toStdString(), "Fri 2026-12-11 12:00 – 12:01\nNot written yet");
    EXPECT_EQ(image.pixelColor(columnOf(59), low), QColor(255, 255, 255));
    EXPECT_EQ(plot->BucketText(56).toStdString(),
              "Fri 2026-12-11 11:57 – 11:58\nLoss 50.0 % (30 of 60 probes)\n"
              "Median round trip 20 ms");
    EXPECT_EQ(plot->BucketText(53).toStdString(),
              "Fri 2026-12-11 11:54 – 11:55\nLoss 0.0 % (0 of 1 probe)\n"
              "Median round trip 0.42 ms");
}

// An hour without one answer is a full red bar, in the day's buckets and in the year's day: loss,
// not a gap in the monitoring, nor nothing.
TEST_F(JournalWindowTest, AnHourOfNoAnswersIsAFullLossBar) {
    {
        TestJournal journal(Path());
        for (int minute = 0; minute < 60; ++minute) {
            journal.Minute(At(10, minute), 60, 0, std::nullopt);
        }
        ASSERT_TRUE(journal.Commit());
    }
    const auto window = Open(TJournalSpan::Day);
    for (const TJournalSpan span : {TJournalSpan::Day, TJournalSpan::Year}) {
        ShowSpan(*window, span);
        auto* plot = window->findChild<TJournalPlot*>();
        const QImage image = plot->grab().toImage();
        const QRect area = plot->PlotArea();
        const int column = ColumnOf(*plot, window->View().layout.BucketOf(At(10, 30)));
        ASSERT_GE(column, 0);
        for (int y = area.top() + 1; y < area.bottom(); y += 7) {
            EXPECT_EQ(image.pixelColor(column, y), QColor(216, 60, 60)) << "y " << y;
        }
    }
}

// A minute of two answers, of 10 and 20 ms, has the median 15 ms: in the journal, as its
// per-minute row exported, and in every span's bucket that holds it.
TEST_F(JournalWindowTest, TheMedianOfAnEvenNumberOfAnswersIsTheMeanOfTheMiddleTwo) {
    {
        platform::DatabaseFailure failure;
        QString setAside;
        std::optional<platform::Database> db =
            platform::Database::Open(Path(), kJournalSchema, false, failure, setAside);
        ASSERT_TRUE(db);
        TJournalBatch batch;
        batch.Outcomes = {{At(12, 0, 0), "127.0.0.1", true, 10.0, 0, false},
                          {At(12, 0, 10), "127.0.0.1", true, 20.0, 0, false}};
        ASSERT_FALSE(db->Transaction(
            [&](platform::Database& open) { WriteJournalBatch(open, batch, At(12, 0, 20)); }));
    }
    const auto window = Open(TJournalSpan::Hour);
    const QString csv = folder_.filePath(QStringLiteral("minutes.csv"));
    ASSERT_TRUE(window->ExportCsv(csv, TCsvContent::Minutes, nullptr));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "minute,host,probes,answered,rtt_min_ms,rtt_median_ms,rtt_max_ms\n"
              "2026-12-11 12:00:00,127.0.0.1,2,2,10,15,20\n");
    for (int span = 0; span < kJournalSpanCount; ++span) {
        ShowSpan(*window, TJournalSpan(span));
        EXPECT_TRUE(LastBucketReadout(*window).contains(QStringLiteral("Median round trip 15 ms")))
            << SpanName(TJournalSpan(span)).toStdString() << ": "
            << LastBucketReadout(*window).toStdString();
    }
}

// While the journal is paused, on a full disk or a read-only one, the file still holds every row
// it was given: the window shows them, and says since when the journal has been paused.
TEST_F(JournalWindowTest, APausedJournalOnAFullOrReadOnlyDiskShowsWhatItHolds) {
    const QString mount = folder_.filePath(QStringLiteral("state"));
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(mount.toStdString());
    const QString path = mount + QStringLiteral("/Nodrel.sqlite");
    {
        TestJournal journal(path);
        journal.Outage(At(11, 30), At(11, 31), 12, "no reply within 1 s");
        journal.Minute(At(11, 30), 60, 48, 0.42);
        ASSERT_TRUE(journal.Commit());
    }
    ASSERT_TRUE(testing::FillFileSystem(mount.toStdString()));
    auto window = Open(TJournalSpan::Hour, path);
    window->SetJournalPaused(At(11, 45));
    for (const bool readOnly : {false, true}) {
        if (readOnly) {
            ASSERT_TRUE(testing::RemountReadOnly(mount.toStdString()));
            QSignalSpy shown(window.get(), &TJournalWindow::ViewShown);
            window->Refresh();
            ASSERT_TRUE(shown.wait(5000));
        }
        EXPECT_EQ(window->View().state, TJournalState::Readable) << readOnly;
        EXPECT_EQ(Cell(*window, 0, 3).toStdString(), "no reply within 1 s") << readOnly;
        EXPECT_EQ(window->findChild<TJournalPlot*>()->BucketText(29).toStdString(),
                  "Fri 2026-12-11 11:30 – 11:31\nLoss 20.0 % (12 of 60 probes)\n"
                  "Median round trip 0.42 ms\n1 outage");
        EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Paused"))->text().toStdString(),
                  "The journal has been paused since 2026-12-11 11:45:00: shown is what it "
                  "holds, newer probes wait to be written.");
    }
    window.reset();
    testing::UnmountSmallFileSystem(mount.toStdString());
}

// The table's rows as read: newest first, local start, duration, failed probes, reason, where,
// host.
// "Copy" puts the selected ones on the clipboard; "Export CSV..." writes them or the minutes and
// says where. The outage in progress counts its failed probes as they come.
TEST_F(JournalWindowTest, TableRowsCopyAndExport) {
    {
        TestJournal journal(Path());
        journal.Outage(At(6, 0), At(6, 0, 45), 9, "Request timed out", "example.org", "192.0.2.7",
                       "beyond", "192.168.1.1");
        journal.Outage(At(11, 59), std::nullopt, 31, "Destination host unreachable");
        journal.Minute(At(11, 59), 60, 29, 12.5);
        ASSERT_TRUE(journal.Commit());
    }
    const auto window = Open(TJournalSpan::Day);
    EXPECT_EQ(Cell(*window, 0, 0), QStringLiteral("2026-12-11 11:59:00"));
    EXPECT_EQ(Cell(*window, 0, 1), QStringLiteral("ongoing, 1 min 30 s"));
    EXPECT_EQ(Cell(*window, 0, 2), QStringLiteral("31"));
    EXPECT_EQ(Cell(*window, 0, 3), QStringLiteral("Destination host unreachable"));
    EXPECT_EQ(Cell(*window, 1, 0), QStringLiteral("2026-12-11 06:00:00"));
    EXPECT_EQ(Cell(*window, 1, 1), QStringLiteral("45 s"));
    EXPECT_EQ(Cell(*window, 1, 4), QStringLiteral("beyond (192.168.1.1)"));
    EXPECT_EQ(Cell(*window, 1, 5), QStringLiteral("example.org"));
    EXPECT_EQ(Cell(*window, 2, 0), QString());

    auto* table = window->findChild<QTableView*>(QStringLiteral("Outages"));
    auto* copy = window->findChild<QPushButton*>(QStringLiteral("Copy"));
    EXPECT_FALSE(copy->isEnabled());
    table->selectRow(1);
    ASSERT_TRUE(copy->isEnabled());
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              "Start\tDuration\tFailed probes\tReason\tWhere\tHost\n"
              "2026-12-11 06:00:00\t45 s\t9\tRequest timed out\tbeyond (192.168.1.1)\t"
              "example.org\n");

    const QString csv = folder_.filePath(QStringLiteral("out.csv"));
    QString error;
    ASSERT_TRUE(window->ExportCsv(csv, TCsvContent::Outages, &error)) << error.toStdString();
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Status"))->text(),
              QStringLiteral("Exported 2 outages to ") + csv);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "started,ended,duration_s,failures,reason,host,address,cause,gateway\n"
              "2026-12-11 11:59:00,,,31,Destination host unreachable,127.0.0.1,127.0.0.1,,\n"
              "2026-12-11 06:00:00,2026-12-11 06:00:45,45.000,9,Request timed out,example.org,"
              "192.0.2.7,beyond,192.168.1.1\n");
    file.close();
    ASSERT_TRUE(window->ExportCsv(csv, TCsvContent::Minutes, &error)) << error.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "minute,host,probes,answered,rtt_min_ms,rtt_median_ms,rtt_max_ms\n"
              "2026-12-11 11:59:00,127.0.0.1,60,29,12.5,12.5,12.5\n");
    file.close();
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Status"))->text(),
              QStringLiteral("Exported 1 per-minute row to ") + csv);
    EXPECT_FALSE(window->ExportCsv(folder_.filePath(QStringLiteral("no/such/folder/x.csv")),
                                   TCsvContent::Outages, &error));
    EXPECT_FALSE(error.isEmpty());

    // The journal writes the outage's count once a minute; the window counts each failure.
    TOutageWatch watch;
    TOutcomeRecord failure;
    failure.Status = 11010;
    for (int second = 0; second < 40; ++second) {
        failure.StartTime = At(11, 59, second);
        watch.Add(false, failure, QStringLiteral("127.0.0.1"));
    }
    window->FollowOutages(watch);
    EXPECT_EQ(Cell(*window, 0, 2), QStringLiteral("40"));
    failure.StartTime = At(11, 59, 40);
    watch.Add(false, failure, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Cell(*window, 0, 2), QStringLiteral("41"));
}

// A window closed at a size, on a span, after an export, opens at that size on that span the
// next time, with that folder for the next export: all from the settings store.
TEST_F(JournalWindowTest, SizeSpanAndExportFolderAreKeptInTheSettingsStore) {
    const QString exports = folder_.filePath(QStringLiteral("exports"));
    ASSERT_TRUE(QDir().mkpath(exports));
    {
        const auto window = Open(TJournalSpan::Month);
        window->resize(700, 450);
        ASSERT_TRUE(
            window->ExportCsv(exports + QStringLiteral("/o.csv"), TCsvContent::Outages, nullptr));
        window->close();
    }
    QFile store(folder_.filePath(QStringLiteral("config/KAVREN/Nodrel.reg")));
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    const QByteArray stored = store.readAll();
    EXPECT_TRUE(stored.contains("\"historywidth\"=dword:000002bc")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("\"historyheight\"=dword:000001c2")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("\"journalspan\"=dword:00000003")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("\"journalexportfolder\"=\"" + exports.toUtf8() + "\""))
        << stored.toStdString();
    TJournalWindow again(Path());
    EXPECT_EQ(again.size(), QSize(700, 450));
    EXPECT_EQ(again.Span(), TJournalSpan::Month);
}

// Everything is reached from the keyboard: Tab walks span, plot, table and the enabled buttons;
// Ctrl+<n> chooses a span; the arrow keys walk the plot's buckets and read them out.
TEST_F(JournalWindowTest, KeyboardReachesEveryControlAndReadsBuckets) {
    {
        TestJournal journal(Path());
        journal.Minute(At(11, 59), 60, 45, 12.0);
        ASSERT_TRUE(journal.Commit());
    }
    const auto window = Open(TJournalSpan::Hour);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
    QStringList visited;
    for (int step = 0; step < 6; ++step) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(visited,
              QStringList({"Span", "JournalPlot", "Outages", "Report", "ExportCsv", "Close"}));

    auto* plot = window->findChild<TJournalPlot*>();
    plot->setFocus();
    QTest::keyClick(plot, Qt::Key_End);
    QTest::keyClick(plot, Qt::Key_Left);
    EXPECT_EQ(plot->ChosenBucket(), 58);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Readout"))->text().toStdString(),
              "Fri 2026-12-11 11:59 – 12:00  ·  Loss 25.0 % (15 of 60 probes)  ·  "
              "Median round trip 12 ms");

    QSignalSpy shown(window.get(), &TJournalWindow::ViewShown);
    QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(window->Span(), TJournalSpan::Week);
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(window->View().buckets.size(), 336u);
}

// "Report..." writes the span shown to the file given, with the loss the window reads out, and
// says where it went.
TEST_F(JournalWindowTest, ReportWritesTheSpanShownAndSaysWhere) {
    if (testing::Capture("command -v pdftotext").empty()) {
        GTEST_SKIP() << "not installed: poppler-utils";
    }
    {
        TestJournal journal(Path());
        journal.Outage(At(11, 30), At(11, 31), 12, "no reply within 1 s");
        journal.Minute(At(11, 30), 60, 48, 0.42);
        ASSERT_TRUE(journal.Commit());
    }
    const auto window = Open(TJournalSpan::Hour);
    const QString pdf = folder_.filePath(QStringLiteral("report.pdf"));
    QSignalSpy done(window.get(), &TJournalWindow::ReportDone);
    window->MakeReport(pdf);
    // A read that ends before its continuation is set runs it at once.
    ASSERT_TRUE(!done.isEmpty() || done.wait(5000));
    EXPECT_TRUE(done.first().first().toBool());
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Status"))->text(),
              QStringLiteral("Wrote the report of 127.0.0.1, last hour, to ") + pdf);
    const std::string text =
        testing::Capture("pdftotext -layout '" + pdf.toStdString() + "' - | tr -s ' '");
    EXPECT_NE(text.find("Loss 20.00 % of 60 probes (12 lost)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n2026-12-11 11:30:00 1 min 0 s 12 no reply within 1 s\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("Readout"))
                    ->text()
                    .startsWith(QStringLiteral("Loss 20.00 % of 60 probes")));
}

}  // namespace
}  // namespace nodrel
