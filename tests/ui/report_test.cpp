// The real program's --report on journals of known rows, its PDF read back as a person reads it:
// its text with pdftotext, its first page's pixels with pdftoppm.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "database.h"
#include "journal_tables.h"
#include "support/shell_command.h"
#include "support/small_file_system.h"

namespace nodrel {
namespace {

using testing::Capture;

constexpr int64_t kSecondMs = 1000;
constexpr int64_t kHourMs = 3'600'000;

struct TRun {
    int status = -1;
    std::string errors;
};

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Capture("for tool in pdftotext pdftoppm pdfinfo; do command -v $tool; done | wc -l") !=
            "3\n") {
            GTEST_SKIP() << "not installed: poppler-utils";
        }
        ASSERT_TRUE(folder_.isValid());
        // Local time is UTC, for the program and for the times the test writes.
        setenv("TZ", "UTC", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_PAPER");
        setenv("LANG", "C.UTF-8", 1);
        setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", folder_.path().toLocal8Bit().constData(), 1);
    }

    std::string Path(const std::string& name) const {
        return folder_.filePath(QString::fromStdString(name)).toStdString();
    }
    QString Journal() const { return QString::fromStdString(Path("state/KAVREN/Nodrel.sqlite")); }

    // Writes the batch through the journal's own writer, as of `nowMs`.
    void Write(const TJournalBatch& batch, int64_t nowMs) const {
        platform::DatabaseFailure failure;
        QString setAside;
        std::optional<platform::Database> db =
            platform::Database::Open(Journal(), kJournalSchema, false, failure, setAside);
        ASSERT_TRUE(db) << failure.reason.toStdString();
        ASSERT_FALSE(db->Transaction(
            [&](platform::Database& open) { WriteJournalBatch(open, batch, nowMs); }));
    }

    // The program with `arguments`, in the test's folder, its environment changed by
    // `environment` ("NAME=value ...").
    TRun Report(const std::string& arguments, const std::string& environment = {}) const {
        const std::string errors = Path("stderr");
        TRun run;
        run.status = std::stoi(Capture("cd '" + folder_.path().toStdString() + "' && env " +
                                       environment + " " + NODREL_PROGRAM + " " + arguments +
                                       " >/dev/null 2>'" + errors + "'; echo $?"));
        run.errors = Capture("cat '" + errors + "'");
        return run;
    }

    // The PDF's text, each run of spaces one space.
    std::string Text(const std::string& pdf) const {
        const std::string text = Capture("pdftotext -layout '" + Path(pdf) + "' -");
        return std::regex_replace(text, std::regex(" +"), " ");
    }

    static std::string Minute(int64_t timeMs) {
        return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
            .toStdString();
    }
    static std::string Second(int64_t timeMs) {
        return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            .toStdString();
    }

    QTemporaryDir folder_;
};

bool Red(QRgb pixel) {
    return qRed(pixel) > 180 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
}
bool Dark(QRgb pixel) {
    return qRed(pixel) < 90 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

// Fourteen hours of a probe every 10 s, 40 minutes of them not monitored: 800 minutes, 4,800
// probes. Two outages, of 3 min (18 failed probes) and 1 min (6), and 16 probes lost alone: 40
// lost, 0.83 %; 4 min down in 800, 99.50 % available. The 4,760 round trips repeat 10, 15 eight
// times, then 10, 40, 10, 80: half are 10 ms and the next 15 ms, a median of 12.5 ms; the 95th
// percentile is the 4,522nd, the last 40 ms; their jitter (16 x 5 + 30 + 30 + 70 + 70 per 20,
// less the last 70) is 66,570 / 4,759 = 13.99 ms.
TEST_F(ReportTest, TheReportHoldsTheFiguresOfTheRowsAndItsPlotTheirLoss) {
    const int64_t begin = QDateTime::currentMSecsSinceEpoch() / kHourMs * kHourMs - 16 * kHourMs;
    const int64_t end = begin + 14 * kHourMs;
    const auto at = [begin](int hour, int minute, int second = 0) {
        return begin + ((hour * 60 + minute) * 60 + second) * kSecondMs;
    };
    TJournalBatch batch;
    int answered = 0;
    for (int64_t time = begin; time < end; time += 10 * kSecondMs) {
        if (time >= at(4, 0) && time < at(4, 40)) continue;  // not monitored
        const int64_t sinceHalfHour = (time - begin) % (30 * 60 * kSecondMs);
        const bool alone = sinceHalfHour == (15 * 60 + 30) * kSecondMs && time < at(8, 30);
        const bool down =
            (time >= at(2, 0) && time < at(2, 3)) || (time >= at(8, 0) && time < at(8, 1));
        TJournalOutcome outcome{time, "127.0.0.1", !(alone || down), 0, 11010, false};
        if (outcome.Answered) {
            const int inBlock = answered++ % 20;
            outcome.RttMs = inBlock < 16 ? (inBlock % 2 == 0 ? 10 : 15)
                                         : (inBlock % 2 == 0 ? 10
                                            : inBlock == 17  ? 40
                                                             : 80);
            outcome.Status = 0;
        }
        batch.Outcomes.push_back(outcome);
    }
    batch.Outages = {{at(2, 0), at(2, 3), 18, "no reply within 1 s", "127.0.0.1", "127.0.0.1", {}, {}},
                     {at(8, 0), at(8, 1), 6, "network unreachable", "127.0.0.1", "127.0.0.1", {}, {}}};
    Write(batch, end);

    const std::string period = " --from '" + Minute(begin) + "' --to '" + Minute(end) + "'";
    const TRun run = Report("--report report.pdf" + period);
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string text = Text("report.pdf");
    for (const std::string& line : std::vector<std::string>{
             "Host 127.0.0.1\n",
             "Addresses probed 127.0.0.1\n",
             "Period " + Minute(begin) + " to " + Minute(end) + ", local time (UTC)\n",
             "by KAVREN Nodrel 1.4\n",
             "Availability 99.50 % of the monitored time, outside outages\n",
             "Monitored 13 h 20 min\n",
             "Not monitored 40 min 0 s (the computer off",
             "Outages 2, in all 4 min 0 s, the longest 3 min 0 s\n",
             "Loss 0.83 % of 4800 probes (40 lost)\n",
             "Round trip median 12.5 ms, 95th percentile 40 ms, maximum 80 ms\n",
             "Jitter 13.99 ms, the mean difference between consecutive round trips\n",
             "\n" + Second(at(2, 0)) + " 3 min 0 s 18 no reply within 1 s\n" + Second(at(8, 0)) +
                 " 1 min 0 s 6 network unreachable\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nnot in:\n" << text;
    }
    EXPECT_EQ(Capture("pdfinfo '" + Path("report.pdf") + "' | grep -E '^(Pages|Page size)'"),
              "Pages:           1\nPage size:       595 x 842 pts (A4)\n");

    // The plot's frame, its tallest red bar (3 min of 5 lost: 60 %) at 2:00 to 2:05 of 14 h, the
    // next (1 min: 20 %) at 8:00, and the hatched 40 minutes at 4:00 without red.
    ASSERT_EQ(Capture("pdftoppm -r 100 -f 1 -l 1 -png '" + Path("report.pdf") + "' '" +
                      Path("page") + "'; echo $?"),
              "0\n");
    const QImage page(QString::fromStdString(Path("page-1.png")));
    ASSERT_FALSE(page.isNull());
    std::vector<int> frame;  // the columns of the frame's sides: long dark runs
    for (int x = 0; x < page.width(); ++x) {
        int dark = 0;
        for (int y = 0; y < page.height() && dark < 150; ++y) {
            dark = Dark(page.pixel(x, y)) ? dark + 1 : 0;
        }
        if (dark >= 150) frame.push_back(x);
    }
    ASSERT_GE(frame.size(), 2u);
    const double left = frame.front() + 1;
    const double width = frame.back() - left;
    std::vector<int> redHeight(page.width(), 0);
    for (int x = 0; x < page.width(); ++x) {
        for (int y = 0; y < page.height(); ++y) redHeight[x] += Red(page.pixel(x, y));
    }
    const auto tallest = std::max_element(redHeight.begin(), redHeight.end());
    const double tallestAt = (tallest - redHeight.begin() - left) / width;
    EXPECT_NEAR(tallestAt, 122.5 / 840, 0.01);
    const int second = int(left + width * 482.5 / 840);
    EXPECT_NEAR(double(redHeight[second]) / *tallest, 20.0 / 60, 0.1);
    const int gap = int(left + width * 260 / 840);
    EXPECT_EQ(redHeight[gap], 0);
    int hatched = 0;  // the hatch's lines
    for (int y = 0; y < page.height(); ++y) hatched += qGray(page.pixel(gap, y)) < 230;
    int plain = 0;  // a monitored column without loss: the grid alone
    for (int y = 0; y < page.height(); ++y) {
        plain += qGray(page.pixel(int(left + width * 0.8), y)) < 230;
    }
    EXPECT_GT(hatched, 3 * plain);

    // A locale whose paper is Letter gets Letter.
    ASSERT_EQ(Report("--report letter.pdf" + period, "LANG=en_US.UTF-8").status, 0);
    EXPECT_EQ(Capture("pdfinfo '" + Path("letter.pdf") + "' | grep '^Page size'"),
              "Page size:       612 x 792 pts (letter)\n");
}

// Each bad input ends with status 2 and one line on standard error saying what was wrong, and
// leaves no file, not even a part of one.
TEST_F(ReportTest, BadInputEndsWithStatus2AndOneLineAndNoFile) {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    Write({{{now - kHourMs, "127.0.0.1", true, 12.5, 0, false}}, {}}, now);
    std::filesystem::create_directories(Path("garbage/KAVREN"));
    std::ofstream(Path("garbage/KAVREN/Nodrel.sqlite")) << "no database\n";
    const std::string tomorrow = Minute(now + 24 * kHourMs).substr(0, 10);
    const std::string yesterday = Minute(now - 24 * kHourMs).substr(0, 10);
    struct TCase {
        std::string arguments;
        std::string environment;
        std::string error;
    };
    for (const TCase& bad : std::vector<TCase>{
             {"--from yesterday", "",
              "--from: \"yesterday\" is not a local date: give YYYY-MM-DD or YYYY-MM-DD HH:MM"},
             {"--from " + tomorrow + " --to " + yesterday, "",
              "the period is empty: --from " + tomorrow + " is not before --to " + yesterday},
             {"--host example.invalid", "",
              "the journal has no probes of the host \"example.invalid\"; it has those of "
              "127.0.0.1"},
             {"", "XDG_STATE_HOME=" + Path("none"),
              "no journal at " + Path("none") +
                  "/KAVREN/Nodrel.sqlite: the monitor keeps one while it runs"},
             {"", "XDG_STATE_HOME=" + Path("garbage"),
              "the journal " + Path("garbage") +
                  "/KAVREN/Nodrel.sqlite cannot be read: file is not a database"},
             {"--to", "", "Missing value after '--to'."},
         }) {
        const TRun run = Report("--report report.pdf " + bad.arguments, bad.environment);
        EXPECT_EQ(run.status, 2) << bad.arguments;
        EXPECT_EQ(run.errors, "nodrel: " + bad.error + "\n");
        EXPECT_EQ(Capture("ls '" + folder_.path().toStdString() + "' | grep -c report"), "0\n");
    }
    const TRun run = Report("--report no/such/folder/report.pdf");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors,
              "nodrel: no/such/folder/report.pdf was not written: No such file or directory\n");
}

// A disk that fills while the report is written, or a read-only one, leaves the report that was
// there before as it was, and no part of the new one.
TEST_F(ReportTest, AReportThatCannotBeWrittenLeavesTheOldFileAsItWas) {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    Write({{{now - kHourMs, "127.0.0.1", true, 12.5, 0, false}}, {}}, now);
    const std::string disk = Path("disk");
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(disk);
    std::ofstream(disk + "/report.pdf") << "last week's report\n";
    ASSERT_TRUE(testing::FillFileSystem(disk));
    std::filesystem::remove(disk + "/filler");
    // Room for a little of the report, not for all of it.
    std::ofstream(disk + "/filler") << std::string(256 * 1024 - 16 * 1024, 'x');
    for (const bool readOnly : {false, true}) {
        if (readOnly) {
            ASSERT_TRUE(testing::RemountReadOnly(disk));
        }
        const std::string why =
            readOnly ? "Existing file disk/report.pdf is not writable" : "No space left on device";
        const TRun run = Report("--report disk/report.pdf");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.errors, "nodrel: disk/report.pdf was not written: " + why + "\n");
        EXPECT_EQ(Capture("ls '" + disk + "'"), "filler\nreport.pdf\n");
        EXPECT_EQ(Capture("cat '" + disk + "/report.pdf'"), "last week's report\n");
    }
    testing::UnmountSmallFileSystem(disk);
}

}  // namespace
}  // namespace nodrel
