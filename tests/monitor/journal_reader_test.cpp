#include "journal_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <ctime>

#include "support/test_journal.h"

namespace nodrel {
namespace {

using testing::At;
using testing::kNoon;
using testing::TestJournal;

// A time of the day before the test journals' day.
constexpr int64_t Yesterday(int hour, int minute, int second = 0) {
    return At(hour, minute, second) - 86'400'000;
}

class JournalReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        qputenv("TZ", "UTC");
        tzset();
    }
    QString Path() const { return folder_.filePath(QStringLiteral("Nodrel.sqlite")); }

    QTemporaryDir folder_;
};

// A minute without a row is a gap, never loss; two hosts' rows of one minute add up; the median
// of a bucket of minute rows is that of their medians.
TEST_F(JournalReaderTest, WeekBucketsSumTheMinuteRowsAndLeaveMissingMinutesAsGaps) {
    {
        TestJournal journal(Path());
        journal.Minute(At(10, 30), 60, 54, 12.5, "a.example");
        journal.Minute(At(10, 30), 60, 60, 30.0, "b.example");
        for (int minute = 0; minute < 30; ++minute) {
            journal.Minute(At(11, minute), 60, minute == 10 ? 30 : 60, minute == 10 ? 20.0 : 10.0);
        }
        ASSERT_TRUE(journal.Commit());
    }
    TJournalReader reader(Path());
    const TJournalView view = reader.Read(TJournalSpan::Week, kNoon, 0);
    ASSERT_EQ(view.state, TJournalState::Readable) << view.error.toStdString();
    // 336 half hours, the last from 12:00 to 12:30.
    EXPECT_EQ(view.layout.beginMs, At(12, 30) - 7 * 86'400'000LL);
    ASSERT_EQ(view.buckets.size(), 336u);
    EXPECT_EQ(view.buckets[332], (TJournalBucket{120, 114, 21.25}));
    EXPECT_EQ(view.buckets[333], (TJournalBucket{1800, 1770, 10.0}));
    EXPECT_TRUE(view.buckets[334].Gap());
    EXPECT_EQ(view.buckets[334].LossShare(), 0.0);
    EXPECT_TRUE(view.buckets[0].Gap());
}

// The hour reads the raw outcomes, for a true median; a minute they cover is not counted again
// from its row, and a minute whose outcomes are gone is read from its row.
TEST_F(JournalReaderTest, HourReadsOutcomesAndMinuteRowsOnlyWhereNoOutcomeIs) {
    {
        TestJournal journal(Path());
        journal.Minute(At(11, 58), 60, 60, 8.0);
        journal.Minute(At(11, 59), 60, 59, 9.5);
        journal.Outcome(At(11, 59, 0), true, 7.0);
        journal.Outcome(At(11, 59, 20), true, 11.0);
        journal.Outcome(At(11, 59, 40), false, std::nullopt);
        journal.Outcome(At(12, 0, 5), true, 4.0);
        ASSERT_TRUE(journal.Commit());
    }
    TJournalReader reader(Path());
    const TJournalView view = reader.Read(TJournalSpan::Hour, At(12, 0, 30), 0);
    ASSERT_EQ(view.buckets.size(), 60u);
    EXPECT_EQ(view.layout.beginMs, At(11, 1));
    EXPECT_EQ(view.buckets[57], (TJournalBucket{60, 60, 8.0}));
    EXPECT_EQ(view.buckets[58], (TJournalBucket{3, 2, 9.0}));
    EXPECT_EQ(view.buckets[59], (TJournalBucket{1, 1, 4.0}));
    EXPECT_TRUE(view.buckets[56].Gap());
}

// Outcomes newer than the newest minute row (not folded yet) count in the longer spans too.
TEST_F(JournalReaderTest, LongerSpansCountOutcomesNewerThanTheNewestMinuteRow) {
    {
        TestJournal journal(Path());
        journal.Minute(At(11, 59), 60, 60, 10.0);
        journal.Outcome(At(11, 59, 30), true, 99.0);  // folded into the row above
        journal.Outcome(At(12, 0, 10), true, 15.0);
        journal.Outcome(At(12, 0, 20), false, std::nullopt);
        ASSERT_TRUE(journal.Commit());
    }
    TJournalReader reader(Path());
    const TJournalView view = reader.Read(TJournalSpan::Week, At(12, 0, 30), 0);
    EXPECT_EQ(view.buckets[334], (TJournalBucket{60, 60, 10.0}));
    EXPECT_EQ(view.buckets[335], (TJournalBucket{2, 1, 15.0}));
}

// The span's outages are those that overlap it, newest first, one still lasting among them.
TEST_F(JournalReaderTest, OutagesOverlappingTheSpanNewestFirst) {
    {
        TestJournal journal(Path());
        journal.Outage(Yesterday(11, 0), Yesterday(11, 1), 4, "Request timed out");
        journal.Outage(Yesterday(12, 0), Yesterday(12, 10), 120, "Request timed out");
        journal.Outage(At(6, 0), At(6, 0, 45), 9, "Request timed out", "example.org", "192.0.2.7",
                       "beyond", "192.168.1.1");
        journal.Outage(At(11, 59), std::nullopt, 61, "Destination host unreachable");
        ASSERT_TRUE(journal.Commit());
    }
    TJournalReader reader(Path());
    const TJournalView view = reader.Read(TJournalSpan::Day, kNoon, 0);
    ASSERT_EQ(view.outages.size(), 3u);
    EXPECT_EQ(view.outages[0],
              (TJournalOutage{At(11, 59), std::nullopt, 61, "Destination host unreachable",
                              "127.0.0.1", "127.0.0.1", "", ""}));
    EXPECT_EQ(view.outages[1],
              (TJournalOutage{At(6, 0), At(6, 0, 45), 9, "Request timed out", "example.org",
                              "192.0.2.7", "beyond", "192.168.1.1"}));
    EXPECT_EQ(view.outages[2].StartedMs, Yesterday(12, 0));
}

// An update read on top of the previous one shifts the buckets as time moves on and sees what
// the writer added to the newest ones.
TEST_F(JournalReaderTest, AnUpdateShiftsTheBucketsAndSeesNewRows) {
    TestJournal journal(Path());
    journal.Outcome(At(11, 59, 10), true, 5.0);
    journal.Outcome(At(12, 0, 5), true, 4.0);
    ASSERT_TRUE(journal.Commit());
    TJournalReader reader(Path());
    const TJournalView first = reader.Read(TJournalSpan::Hour, At(12, 0, 30), 0);
    journal.Outcome(At(12, 0, 40), false, std::nullopt);
    journal.Outcome(At(12, 1, 2), true, 6.0);
    ASSERT_TRUE(journal.Commit());
    const TJournalView second = reader.Read(TJournalSpan::Hour, At(12, 1, 10), 0, &first);
    EXPECT_EQ(second.layout.beginMs, At(11, 2));
    EXPECT_EQ(second.buckets[57], (TJournalBucket{1, 1, 5.0}));
    EXPECT_EQ(second.buckets[58], (TJournalBucket{2, 1, 4.0}));
    EXPECT_EQ(second.buckets[59], (TJournalBucket{1, 1, 6.0}));
}

// No journal yet, a file that is no database, and a journal set aside and started anew are
// states to show: nothing crashes, and the new file is the one read.
TEST_F(JournalReaderTest, MissingBrokenAndReplacedJournals) {
    TJournalReader reader(Path());
    TJournalView view = reader.Read(TJournalSpan::Hour, kNoon, 0);
    EXPECT_EQ(view.state, TJournalState::Missing);
    EXPECT_EQ(view.buckets.size(), 60u);
    EXPECT_TRUE(view.buckets[59].Gap());

    QFile garbage(Path());
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    view = reader.Read(TJournalSpan::Hour, kNoon, 0);
    EXPECT_EQ(view.state, TJournalState::Unreadable);
    EXPECT_EQ(view.error, QStringLiteral("file is not a database"));
    EXPECT_TRUE(view.outages.empty());

    ASSERT_TRUE(QFile::rename(Path(), Path() + QStringLiteral(".broken-1")));
    {
        TestJournal journal(Path());
        journal.Outage(At(11, 30), At(11, 31), 12, "Request timed out");
        ASSERT_TRUE(journal.Commit());
    }
    view = reader.Read(TJournalSpan::Hour, kNoon, 0);
    EXPECT_EQ(view.state, TJournalState::Readable);
    EXPECT_EQ(view.outages.size(), 1u);
    EXPECT_TRUE(reader.Minutes(0, kNoon).empty());
}

// Day buckets start at local midnight; minute buckets ignore the offset.
TEST(JournalSpan, BucketsOfAnHourOrMoreFollowTheLocalClock) {
    constexpr int64_t kTwoHoursEast = 2 * 3600'000;
    const TSpanLayout year = LayoutSpan(TJournalSpan::Year, kNoon, kTwoHoursEast);
    EXPECT_EQ(year.EndMs(), At(22, 0));  // local midnight after noon UTC
    EXPECT_EQ(year.count, 365);
    const TSpanLayout hour = LayoutSpan(TJournalSpan::Hour, At(12, 0, 30), kTwoHoursEast);
    EXPECT_EQ(hour.EndMs(), At(12, 1));
    EXPECT_EQ(hour.BucketOf(At(12, 0, 59)), 59);
    EXPECT_EQ(hour.BucketOf(At(12, 1)), -1);
}

}  // namespace
}  // namespace nodrel
