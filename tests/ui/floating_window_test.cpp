#include "floating_window.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QColorDialog>
#include <QHelpEvent>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSessionManager>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <atomic>

#include "fake_echo_platform.h"
#include "program.h"
#include "support/isolated_network.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

using testing::CompleteStore;
using testing::StoreValues;
using testing::WriteStore;
using FloatingWindowTest = testing::WindowTest;

TEST_F(FloatingWindowTest, FirstStartIsShownSmallAtTheFallbackPlaceAndSavesEverythingOnClose) {
    // A first start probes the default host by name: nothing may leave this machine.
    NODREL_REQUIRE_ISOLATED_NETWORK();
    TFloatingWindow window;
    ASSERT_FALSE(window.StartError()) << window.StartError()->toStdString();
    EXPECT_TRUE(window.StartsShown());
    EXPECT_EQ(window.size(), QSize(75, 43));
    EXPECT_EQ(window.pos(), QPoint(20, 800 - 99));  // the offscreen screen is 800 x 800
    EXPECT_EQ(window.windowTitle(), "KAVREN Nodrel - dns.google");
    EXPECT_EQ(window.TrayIcon().toolTip(), "KAVREN Nodrel - dns.google");
    EXPECT_EQ(window.TrayImageIndex(), 0);
    const auto marked = [&](const char* item) { return Marked(window, item); };
    EXPECT_TRUE(marked("N7") && !marked("N6"));                     // View Mode: History
    EXPECT_TRUE(marked("N9") && !marked("N10") && !marked("N11"));  // Blink mode: Off

    window.show();
    EXPECT_FALSE(window.TrayIcon().isVisible());
    window.close();
    const QString stored = ReadStore();
    // 20 of the twenty-one values (the host is text), the journal's and notify's.
    EXPECT_EQ(stored.count("=dword:"), 22);
    EXPECT_TRUE(stored.contains("\"journal\"=dword:00000001"));
    EXPECT_TRUE(stored.contains("\"notify\"=dword:00000001"));
    EXPECT_TRUE(stored.contains("\"host\"=\"dns.google\""));
    EXPECT_TRUE(stored.contains("\"left\"=dword:00000014"));
    EXPECT_TRUE(stored.contains("\"modenum\"=dword:00000002"));
    EXPECT_TRUE(stored.contains("\"minimized\"=dword:00000000"));
}

TEST_F(FloatingWindowTest, SizeModesSetOnlyTheWidthAndSwitchingRepairsAnUnknownMode) {
    for (const uint32_t mode : {0u, 3u}) {
        StoreValues values = CompleteStore();
        values["modenum"] = mode;
        ASSERT_TRUE(WriteStore(values));
        TFloatingWindow window;
        EXPECT_EQ(window.size(), QSize(761, 43)) << mode;
        window.SwitchSize();
        EXPECT_EQ(window.size(), QSize(363, 43)) << mode;
        window.SwitchSize();
        EXPECT_EQ(window.size(), QSize(75, 43)) << mode;
        window.SwitchSize();
        EXPECT_EQ(window.size(), QSize(363, 43)) << mode;
    }
}

TEST_F(FloatingWindowTest, ALongHostIsCutOnlyInTheTrayHint) {
    StoreValues values = CompleteStore();
    const QString host(200, 'h');
    values["host"] = host;
    ASSERT_TRUE(WriteStore(values));
    TFloatingWindow window;
    EXPECT_EQ(window.windowTitle(), "KAVREN Nodrel - " + host);
    EXPECT_EQ(window.TrayIcon().toolTip(), ("KAVREN Nodrel - " + host).left(127));
    EXPECT_EQ(window.TrayIcon().toolTip().size(), 127);
}

TEST_F(FloatingWindowTest, ClosingWhileHiddenStartsHiddenNextTime) {
    ASSERT_TRUE(WriteStore(CompleteStore()));
    {
        TFloatingWindow window;
        window.show();
        window.hide();
        EXPECT_TRUE(window.TrayIcon().isVisible());
        window.close();
    }
    EXPECT_TRUE(ReadStore().contains("\"minimized\"=dword:00000001"));
}

TEST_F(FloatingWindowTest, WithoutANotificationAreaTheWindowStaysWithinReach) {
    // The offscreen platform has no notification area, like a desktop without a panel.
    StoreValues values = CompleteStore();
    values["minimized"] = 1u;
    ASSERT_TRUE(WriteStore(values));
    TFloatingWindow window;
    EXPECT_FALSE(window.Settings().ShowAtStart());
    EXPECT_TRUE(window.StartsShown());
    EXPECT_FALSE(window.TrayIcon().isVisible());
    window.show();
    window.WindowMenu().findChild<QAction*>("N12")->trigger();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(FloatingWindowTest, StoredLooksComeBackInTheMarksTheOpacityAndTheFrame) {
    StoreValues values = CompleteStore();
    values["viewmode"] = 1u;
    values["blinkmode"] = 2u;
    values["alpha"] = 1u;
    values["sound"] = 1u;
    values["col6"] = 0x00563412u;
    ASSERT_TRUE(WriteStore(values));
    TFloatingWindow window;
    window.show();
    const auto marked = [&](const char* item) { return Marked(window, item); };
    EXPECT_TRUE(marked("N6") && !marked("N7"));                     // View Mode: Graph
    EXPECT_TRUE(marked("N10") && !marked("N9") && !marked("N11"));  // Simple order
    EXPECT_TRUE(marked("N5") && marked("N22"));                     // Transparent, Sounds
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 148.0 / 255.0);
    EXPECT_EQ(window.Settings().FrameColour(), 0x00563412u);
    EXPECT_EQ(window.grab().toImage().pixel(0, 0), qRgb(0x12, 0x34, 0x56));
}

// Run as the desktop runs it: no notification area here, and the session manager asks the
// program to save before the session ends.
TEST_F(FloatingWindowTest, TheProgramStartsShownWithoutATrayAndSavesWhenTheSessionAsks) {
    StoreValues values = CompleteStore();
    values["minimized"] = 1u;
    ASSERT_TRUE(WriteStore(values));
    // The worker outlives the program's window and goes on probing: its echo service must stay.
    auto& echo = *new testing::FakeEchoPlatform;
    bool shown = false;
    QString saved;
    QTimer::singleShot(0, [&] {
        TFloatingWindow* window = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* floating = qobject_cast<TFloatingWindow*>(widget)) window = floating;
        }
        ASSERT_TRUE(window);
        shown = window->isVisible();
        window->WindowMenu().findChild<QAction*>("N22")->trigger();  // "Sounds" on
        auto* session = qApp->findChild<QSessionManager*>();
        ASSERT_TRUE(session);
        emit qApp->commitDataRequest(*session);
        saved = ReadStore();
        window->close();
    });
    EXPECT_EQ(RunProgram(echo), 0);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(saved.contains("\"sound\"=dword:00000001"));
}

TEST_F(FloatingWindowTest, APositionOffEveryScreenFallsBackButAPartlyVisibleOneStays) {
    StoreValues values = CompleteStore();
    values["left"] = 5000u;
    values["top"] = uint32_t(-3000);
    ASSERT_TRUE(WriteStore(values));
    EXPECT_EQ(TFloatingWindow().pos(), QPoint(20, 701));

    // The largest numbers a store can hold overflow no geometry (the sanitizer build aborts).
    values["left"] = 0x7fffffffu;
    values["top"] = 0x80000000u;
    ASSERT_TRUE(WriteStore(values));
    EXPECT_EQ(TFloatingWindow().pos(), QPoint(20, 701));

    values["left"] = uint32_t(-50);  // 25 of its 75 pixels still show
    values["top"] = 0u;
    ASSERT_TRUE(WriteStore(values));
    EXPECT_EQ(TFloatingWindow().pos(), QPoint(-50, 0));
}

TEST_F(FloatingWindowTest, OutcomesAreDrawnAndShownInTheIconEvenWhileADialogIsOpen) {
    ASSERT_TRUE(WriteStore(CompleteStore()));
    TFloatingWindow window;
    if (window.StartError())
        GTEST_SKIP() << "no ICMP socket: " << window.StartError()->toStdString();
    window.show();
    EXPECT_EQ(CellOne(window), qRgb(192, 192, 192));

    bool drawnWhileOpen = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = window.findChild<QColorDialog*>("CD");
        drawnWhileOpen = dialog->isVisible() &&
                         ServeUntil([&] { return window.History().FillCount() > 0; }) &&
                         CellOne(window) == qRgb(0, 0, 255);
        dialog->reject();
    });
    window.WindowMenu()
        .findChild<QAction*>("N15")
        ->trigger();  // "Background", a modal colour dialog
    EXPECT_TRUE(drawnWhileOpen);
    EXPECT_EQ(window.TrayImageIndex(), 1);
    EXPECT_EQ(TrayPixel(window), qRgb(0x1E, 0x56, 0xD8));  // blue after a success
}

TEST_F(FloatingWindowTest, TheAlarmAndTheRecoveryPlayToTheirEndBeforeTheOutcomeIsDrawn) {
    StoreValues values = CompleteStore();
    values["sound"] = 1u;
    ASSERT_TRUE(WriteStore(values));
    // The worker outlives the window and goes on probing: its echo service must stay.
    auto& echo = *new testing::FakeEchoPlatform;
    echo.status = 11010;  // timed out
    QStringList played;
    QRgb cellTwoWhileAlarmed = 0;
    TFloatingWindow window(echo, [&](std::string_view name) {
        played << QString::fromLatin1(name.data(), qsizetype(name.size()));
        if (played.size() == 1)
            cellTwoWhileAlarmed =
                window.findChild<TDrawingSurface*>("Image1")->Picture().pixel(3, 34);
    });
    window.Settings().SetInterval(0);
    ASSERT_TRUE(ServeUntil([&] { return window.History().FailStreak() >= 3; }));
    EXPECT_EQ(TrayPixel(window), qRgb(0xD8, 0x24, 0x24));  // red after a failure
    echo.status = 0;
    ASSERT_TRUE(ServeUntil([&] { return window.History().FailStreak() == 0; }));
    EXPECT_EQ(played, QStringList({"sound1.wav", "sound.wav"}));
    // The second failure sounded while the picture still showed only the first.
    EXPECT_EQ(cellTwoWhileAlarmed, qRgb(192, 192, 192));
}

// The readout under the pointer follows the outcomes, counts only the host it names, and says when
// that host's name no longer resolves.
TEST_F(FloatingWindowTest, TheReadoutUnderThePointerIsRenewedByEachOutcome) {
    ASSERT_TRUE(WriteStore(CompleteStore()));
    // The worker outlives the window and goes on probing: its echo service must stay.
    auto& echo = *new testing::FakeEchoPlatform;
    static std::atomic<uint16_t> lookupError = 0;
    echo.resolver = [](const char*, platform::IpAddress& address) -> uint16_t {
        address = platform::IpAddress::FromIpv4(htonl(0xC000020B));  // 192.0.2.11
        return lookupError;
    };
    TFloatingWindow window(echo);
    window.show();
    ASSERT_TRUE(ServeUntil([&] { return window.History().StoredOutcomes() == 1; }));
    auto* surface = window.findChild<TDrawingSurface*>("Image1");
    QHelpEvent hover(QEvent::ToolTip, QPoint(3, 38), surface->mapToGlobal(QPoint(3, 38)));
    QCoreApplication::sendEvent(surface, &hover);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_TRUE(QToolTip::text().contains("reply in under 1 ms")) << QToolTip::text().toStdString();

    echo.status = 11003;
    ASSERT_TRUE(ServeUntil([&] { return window.History().StoredOutcomes() == 2; }));
    EXPECT_TRUE(
        QToolTip::text().contains("host unreachable<br>\n127.0.0.1, last 2 probes: 50% lost"))
        << QToolTip::text().toStdString();

    // As Options changes the host; only its own failures count. Then its name leaves the name
    // service.
    window.Settings().SetInterval(20);
    window.Settings().SetAddress("mover.test");
    const auto shows = [](const char* pattern) {
        return ServeUntil([&] { return QToolTip::text().contains(QRegularExpression(pattern)); });
    };
    EXPECT_TRUE(shows(R"(mover\.test \(192\.0\.2\.11\), last \d+ probes: 100% lost)"));
    lookupError = 11001;
    EXPECT_TRUE(shows(R"(host unreachable \(the name no longer resolves\)<br>\n)"
                      R"(the name service does not answer<br>\n.*)"
                      R"(<br>\nmover\.test no longer resolves \(Name or service not known\))"))
        << QToolTip::text().toStdString();
}

TEST_F(FloatingWindowTest, ProbingThatCannotBeSetUpIsReportedAndEndsTheProgram) {
    testing::FakeEchoPlatform noHandle(testing::FakeEchoPlatform::Failure::Handle);
    QString text, details;
    int adviceLines = 0;
    bool adviceFits = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            details = box->detailedText();
            // As the box shows the advice, at once: each command whole on a line of its own.
            const auto* field = box->findChild<QTextEdit*>();
            QTextDocument& shown = *field->document();
            shown.setTextWidth(field->viewport()->width());
            adviceFits = field->isVisible() && shown.idealWidth() <= field->viewport()->width();
            adviceLines = 0;
            for (QTextBlock block = shown.begin(); block.isValid(); block = block.next()) {
                adviceLines += block.layout()->lineCount();
            }
            box->accept();
        }
    });
    poll.start(20);
    EXPECT_EQ(RunProgram(noHandle), 1);
    EXPECT_EQ(text, "Unable to get ping handle.");
    EXPECT_TRUE(details.contains("net.ipv4.ping_group_range"));
    EXPECT_TRUE(details.contains("setcap cap_net_raw+ep"));
    EXPECT_EQ(adviceLines, 4);
    EXPECT_TRUE(adviceFits);
    EXPECT_EQ(ErrorBoxText("Failed."), "Failed.");
    EXPECT_EQ(ErrorBoxText("Failed!"), "Failed!");  // '!' comes before '.'
}

}  // namespace
}  // namespace nodrel
