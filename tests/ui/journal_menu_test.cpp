// "Journal..." in the window's menu and in the tray menu.

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>

#include "journal_window.h"
#include "journal_writer.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

class JournalMenuTest : public testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // No journal there: the window tells so instead of reading the user's own.
        qputenv("XDG_STATE_HOME", configHome_.filePath(QStringLiteral("state")).toLocal8Bit());
        ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
    }
};

// Both menus show the one Journal window. A pause of the journal that came before the window was
// made is said above its plot, and its end takes the line away.
TEST_F(JournalMenuTest, BothMenusShowOneJournalWindowThatSaysWhileTheJournalIsPaused) {
    TFloatingWindow window;
    window.show();
    window.Dialogs().JournalNoticed(
        {TJournalEvent::Paused, QStringLiteral("No space left on device")});
    window.WindowMenu().findChild<QAction*>("NJournal")->trigger();
    TJournalWindow* journal = window.Dialogs().JournalWindow();
    ASSERT_NE(journal, nullptr);
    EXPECT_TRUE(journal->isVisible());
    QSignalSpy shown(journal, &TJournalWindow::ViewShown);
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(journal->View().state, TJournalState::Missing);
    const auto* paused = journal->findChild<QLabel*>(QStringLiteral("Paused"));
    EXPECT_TRUE(paused->isVisible());
    EXPECT_TRUE(paused->text().startsWith(QStringLiteral("The journal has been paused since ")))
        << paused->text().toStdString();

    window.Dialogs().JournalNoticed({TJournalEvent::Resumed, {}});
    EXPECT_FALSE(paused->isVisible());
    journal->close();
    window.TrayMenu().findChild<QAction*>("NJournal")->trigger();
    EXPECT_EQ(window.Dialogs().JournalWindow(), journal);
    EXPECT_TRUE(journal->isVisible());
}

}  // namespace
}  // namespace nodrel
