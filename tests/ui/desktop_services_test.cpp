// The window with the desktop's services as it meets them on a session: a notification server and
// logind, each a small server of the test's own on a private bus, and probes of loopback in a
// private network whose answers the test switches off.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantMap>
#include <cstdlib>
#include <vector>

#include "fake_echo_platform.h"
#include "journal.h"
#include "program.h"
#include "support/isolated_network.h"
#include "support/private_bus.h"
#include "support/shell_command.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

// org.freedesktop.Notifications, recording each call.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct TNotify {
        QString app, icon, summary, body;
        uint replaces = 0;
        QStringList actions;
        QVariantMap hints;
        uint id = 0;
    };

    explicit NotificationServer(const QString& address)
        : bus_(QDBusConnection::connectToBus(address, QStringLiteral("notification-server"))) {
        bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    // The user clicks notification `id`.
    void Click(uint id) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.Notifications"),
                                       QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        bus_.send(signal);
    }

    std::vector<TNotify> calls;
    std::vector<uint> closed;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        calls.push_back({app, icon, summary, body, replaces, actions, hints,
                         replaces != 0 ? replaces : nextId_++});
        return calls.back().id;
    }
    void CloseNotification(uint id) { closed.push_back(id); }

private:
    inline static const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
    QDBusConnection bus_;
    uint nextId_ = 7;
};

// org.freedesktop.login1's Manager as far as sleep goes: delay locks and PrepareForSleep.
class Logind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit Logind(const QString& address)
        : bus_(QDBusConnection::connectToBus(address, QStringLiteral("logind"))) {
        bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
        bus_.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~Logind() override {
        for (const int end : lockEnds_) close(end);
    }

    void PrepareForSleep(bool sleeping) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.login1.Manager"),
                                       QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        bus_.send(signal);
    }

    // Locks taken so far, as "what/mode".
    QStringList locks;
    // Whether the latest lock's holder still holds it: logind keeps the other end of its pipe.
    bool LatestLockHeld() const {
        if (lockEnds_.empty()) return false;
        pollfd end{lockEnds_.back(), 0, 0};
        return poll(&end, 1, 0) == 0;
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&,
                                    const QString& mode) {
        locks << what + u'/' + mode;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return {};
        lockEnds_.push_back(ends[0]);
        QDBusUnixFileDescriptor handed(ends[1]);  // a copy goes with the reply
        close(ends[1]);
        return handed;
    }

private:
    inline static const QString kPath = QStringLiteral("/org/freedesktop/login1");
    QDBusConnection bus_;
    std::vector<int> lockEnds_;
};

// The session and the system bus, in place before the application connects to either.
struct PrivateBuses {
    PrivateBuses() {
        setenv("DBUS_SESSION_BUS_ADDRESS", session.address().c_str(), 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", system.address().c_str(), 1);
    }
    testing::PrivateBus session, system;
};

class DesktopServicesTest : protected PrivateBuses, public testing::WindowTest {
protected:
    void SetUp() override {
        if (session.address().empty() || system.address().empty()) {
            GTEST_SKIP() << "dbus-daemon did not start (is it installed?)";
        }
        WindowTest::SetUp();
    }

    // Probes of 127.0.0.1 that time out after 300 ms, 100 ms apart, in a private network.
    std::unique_ptr<TFloatingWindow> ProbingWindow() {
        testing::StoreValues values = testing::CompleteStore();
        values["sound"] = 1u;
        EXPECT_TRUE(testing::WriteStore(values));
        auto window = std::make_unique<TFloatingWindow>(
            platform::SystemEchoPlatform(), [this](std::string_view name) {
                played << QString::fromLatin1(name.data(), qsizetype(name.size()));
            });
        window->Settings().SetTimeout(300);
        window->Settings().SetInterval(100);
        return window;
    }

    static void Answers(bool on) {
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", on ? "0" : "1"));
    }

    // The program itself, with the test's buses and folders.
    static pid_t StartProgram() {
        const pid_t program = fork();
        if (program == 0) {
            execl(NODREL_PROGRAM, NODREL_PROGRAM, nullptr);
            _exit(127);
        }
        return program;
    }

    // Serves events while `program` runs and `going` holds, 20 s at most; false when the time is
    // up. The server answers the program only while events are served.
    static bool ServeWhile(pid_t program, const std::function<bool()>& going) {
        const QDeadlineTimer deadline(20000);
        while (going() && waitpid(program, nullptr, WNOHANG) == 0) {
            if (deadline.hasExpired()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    // Serves events for `milliseconds`.
    static void Serve(int milliseconds) {
        ServeUntil([deadline = QDeadlineTimer(milliseconds)] { return deadline.hasExpired(); });
    }

    QStringList played;
};

// An outage is notified once, at its second failure, with the host, since when and why; its end
// replaces that notification with its length; clicking it shows the window. The alarm and the
// notifications are switched apart.
TEST_F(DesktopServicesTest, AnOutageIsNotifiedAtItsStartAndItsEndReplacesIt) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    NotificationServer server(QString::fromStdString(session.address()));
    QIcon::setThemeSearchPaths({});  // the icon is not installed: its pixels go with the notice
    auto window = ProbingWindow();
    ASSERT_TRUE(ServeUntil([&] { return window->History().CountSuccesses(1) > 0; }));

    Answers(false);
    ASSERT_TRUE(ServeUntil([&] { return !server.calls.empty(); }));
    Serve(1000);  // more failures: still one notification
    ASSERT_EQ(server.calls.size(), 1u);
    const NotificationServer::TNotify start = server.calls[0];
    EXPECT_EQ(start.app, "KAVREN Nodrel");
    EXPECT_EQ(start.icon, "");
    EXPECT_EQ(start.replaces, 0u);
    EXPECT_EQ(start.hints.value("urgency").toInt(), 2);  // critical
    int width, height, stride, bits, channels;
    bool alpha;
    QByteArray pixels;
    const QDBusArgument image = start.hints.value("image-data").value<QDBusArgument>();
    image.beginStructure();
    image >> width >> height >> stride >> alpha >> bits >> channels >> pixels;
    image.endStructure();
    EXPECT_EQ(QList<int>({width, height, stride, alpha, bits, channels}),
              QList<int>({48, 48, 192, 1, 8, 4}));
    EXPECT_EQ(pixels.mid(37 * 192 + 13 * 4, 4).toHex(), "1e56d8ff");  // the blue tile's fill
    EXPECT_EQ(start.summary, "No answer from 127.0.0.1");
    EXPECT_TRUE(
        QRegularExpression(
            R"(^127\.0\.0\.1 has not answered since \d\d:\d\d:\d\d: no reply within 0\.3 s$)")
            .match(start.body)
            .hasMatch())
        << start.body.toStdString();
    EXPECT_EQ(start.hints.value("desktop-entry").toString(), "example.kavren.Nodrel");
    EXPECT_EQ(start.actions.value(0), "default");
    EXPECT_EQ(played, QStringList{"sound1.wav"});

    Answers(true);
    ASSERT_TRUE(ServeUntil([&] { return server.calls.size() == 2; }));
    const NotificationServer::TNotify end = server.calls[1];
    EXPECT_EQ(end.replaces, start.id);
    EXPECT_EQ(end.hints.value("urgency").toInt(), 1);  // normal
    EXPECT_EQ(end.summary, "127.0.0.1 answers again");
    EXPECT_TRUE(QRegularExpression(R"(^127\.0\.0\.1 answers again after [0-9] s$)")
                    .match(end.body)
                    .hasMatch())
        << end.body.toStdString();
    EXPECT_EQ(played, (QStringList{"sound1.wav", "sound.wav"}));

    EXPECT_FALSE(window->isVisible());
    server.Click(end.id);
    EXPECT_TRUE(ServeUntil([&] { return window->isVisible(); }));

    // Notifications off, sounds on: the alarm alone. Then the other way round.
    window->WindowMenu().findChild<QAction*>("N29")->trigger();
    Answers(false);
    ASSERT_TRUE(ServeUntil([&] { return played.size() == 3; }));
    Serve(1000);  // the recovery sound marks only a third failure or more
    Answers(true);
    ASSERT_TRUE(ServeUntil([&] { return played.size() == 4; }));
    window->WindowMenu().findChild<QAction*>("N29")->trigger();
    window->WindowMenu().findChild<QAction*>("N22")->trigger();
    Answers(false);
    ASSERT_TRUE(ServeUntil([&] { return server.calls.size() == 3; }));
    EXPECT_EQ(server.calls[2].replaces, start.id);  // the server still shows it
    EXPECT_EQ(played.size(), 4);
    window->close();
    EXPECT_TRUE(ReadStore().contains("\"notify\"=dword:00000001"));
}

// A close whose save fails tells the notification server, which keeps the message once the
// program has ended, and the program ends as soon as the server has it.
TEST_F(DesktopServicesTest, AFailedSaveIsNotified) {
    NotificationServer server(QString::fromStdString(session.address()));
    ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
    QTimer::singleShot(500, [this] {
        QFile::remove(StorePath());
        QDir().mkpath(StorePath());  // the save cannot replace a folder
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (qobject_cast<TFloatingWindow*>(window)) window->close();
        }
    });
    EXPECT_EQ(RunProgram(), 0);
    ASSERT_EQ(server.calls.size(), 1u);
    EXPECT_EQ(server.calls[0].summary, "Settings not saved");
    EXPECT_EQ(server.calls[0].hints.value("urgency").toInt(), 2);
    EXPECT_EQ(server.calls[0].body, "Is a directory\n" + StorePath());
}

// The host changes while an outage's probe waits for its time-out: that probe is the old host's,
// in the journal too, and the outage ends when the new host's probes begin, told as a host no
// longer watched, without the recovery sound.
TEST_F(DesktopServicesTest, AnOutageOfAHostNoLongerProbedEndsUnderItsOwnName) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    if (testing::Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
    NotificationServer server(QString::fromStdString(session.address()));
    QTemporaryDir state;
    TJournal journal(state.path() + "/Nodrel.sqlite");
    Answers(false);  // IPv4 only: ::1 still answers
    auto window = ProbingWindow();
    window->Settings().SetTimeout(1000);
    ConnectJournal(*window, journal);
    journal.Start();
    ASSERT_TRUE(ServeUntil([&] { return !server.calls.empty(); }));
    const int failures = window->History().StoredOutcomes();
    ASSERT_TRUE(ServeUntil([&] { return window->Worker()->Cycle() == failures + 1; }));
    Serve(200);  // the third probe of 127.0.0.1 is under way
    window->Settings().SetAddress("::1");
    ASSERT_TRUE(ServeUntil([&] { return server.calls.size() == 2; }));
    EXPECT_EQ(server.calls[1].replaces, server.calls[0].id);
    EXPECT_EQ(server.calls[1].summary, "Stopped watching 127.0.0.1");
    EXPECT_TRUE(QRegularExpression(R"(^stopped watching 127\.0\.0\.1 after [0-9] s; it had not )"
                                   R"(answered since \d\d:\d\d:\d\d$)")
                    .match(server.calls[1].body)
                    .hasMatch())
        << server.calls[1].body.toStdString();
    EXPECT_EQ(played, QStringList{"sound1.wav"});

    Serve(300);
    window->close();
    journal.Close();
    const std::string sql = "sqlite3 -batch '" + state.path().toStdString() + "/Nodrel.sqlite' ";
    EXPECT_EQ(testing::Capture(sql + "'SELECT DISTINCT host, answered FROM outcomes ORDER BY 1'"),
              "127.0.0.1|0\n::1|1\n");
    EXPECT_EQ(testing::Capture(sql + "\"SELECT failures, host, ended_ms = (SELECT min(time_ms) "
                                     "FROM outcomes WHERE host = '::1') FROM outages\""),
              "3|127.0.0.1|1\n");
}

// The notices of the watch go when the program closes, also while a close is quick; after a kill,
// the next start takes back what the killed one left.
TEST_F(DesktopServicesTest, TheProgramsNoticesGoAtTheCloseAndAfterAKill) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    NotificationServer server(QString::fromStdString(session.address()));
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    testing::StoreValues values = testing::CompleteStore();
    values["timeout"] = 1000u;
    values["journal"] = 0u;
    ASSERT_TRUE(testing::WriteStore(values));
    Answers(false);
    const auto outageNotice = [&](pid_t program) {
        const size_t before = server.calls.size();
        EXPECT_TRUE(ServeWhile(program, [&] { return server.calls.size() == before; }));
        return server.calls.empty() ? 0u : server.calls.back().id;
    };

    pid_t program = StartProgram();
    const uint closedAtTheEnd = outageNotice(program);
    kill(program, SIGTERM);
    EXPECT_TRUE(ServeWhile(program, [] { return true; }));
    EXPECT_TRUE(ServeUntil([&] { return !server.closed.empty(); }));
    EXPECT_EQ(server.closed, std::vector<uint>{closedAtTheEnd});

    program = StartProgram();
    const uint leftByTheKill = outageNotice(program);
    Serve(500);  // the program has the server's answer
    kill(program, SIGKILL);
    EXPECT_TRUE(ServeWhile(program, [] { return true; }));
    Answers(true);
    program = StartProgram();
    EXPECT_TRUE(ServeUntil([&] { return server.closed.size() == 2; }));
    EXPECT_EQ(server.closed.back(), leftByTheKill);
    kill(program, SIGTERM);
    EXPECT_TRUE(ServeWhile(program, [] { return true; }));
    EXPECT_EQ(server.calls.size(), 2u);
}

// While the computer sleeps nothing is probed: a probe in flight is dropped, an outcome from
// before the sleep does not join one after it, and failures while the network comes back are
// drawn but neither sound nor notified. The delay lock is given back at once and taken again.
TEST_F(DesktopServicesTest, TheSleepIsNoOutage) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    NotificationServer server(QString::fromStdString(session.address()));
    Logind logind(QString::fromStdString(system.address()));
    auto window = ProbingWindow();
    window->Settings().SetTimeout(1000);
    std::vector<TOutage> started;
    QObject::connect(&window->Outages(), &TOutageWatch::Started,
                     [&](const TOutage& outage) { started.push_back(outage); });
    window->FollowSleep();
    ASSERT_TRUE(ServeUntil([&] { return logind.LatestLockHeld(); }));
    EXPECT_EQ(logind.locks, QStringList{"sleep/delay"});
    ASSERT_TRUE(ServeUntil([&] { return window->History().CountSuccesses(1) > 0; }));

    // One failure, and the next probe waiting for its answer when the computer goes to sleep.
    Answers(false);
    ASSERT_TRUE(ServeUntil([&] { return window->History().FailStreak() == 1; }));
    const int before = window->History().StoredOutcomes();
    ASSERT_TRUE(ServeUntil([&] { return window->Worker()->Cycle() == before + 1; }));
    logind.PrepareForSleep(true);
    EXPECT_TRUE(ServeUntil([&] { return !logind.LatestLockHeld(); }));
    Serve(1500);
    EXPECT_EQ(window->History().StoredOutcomes(), before);
    EXPECT_EQ(window->Worker()->Cycle(), before + 1);

    // Woken, the network still away: the failures are drawn, and nothing else.
    window->Settings().SetTimeout(300);
    const int64_t wokeAt = QDateTime::currentMSecsSinceEpoch();
    logind.PrepareForSleep(false);
    ASSERT_TRUE(ServeUntil([&] { return window->History().FailStreak() >= 4; }));
    ASSERT_EQ(started.size(), 1u);
    EXPECT_GE(started[0].StartedMs, wokeAt);
    Answers(true);
    ASSERT_TRUE(ServeUntil([&] { return window->History().FailStreak() == 0; }));
    Serve(200);
    EXPECT_TRUE(played.isEmpty()) << played.join(' ').toStdString();
    EXPECT_TRUE(server.calls.empty());
    EXPECT_TRUE(ServeUntil([&] { return logind.locks.size() == 2 && logind.LatestLockHeld(); }));
}

// "Start at login" writes an entry that desktop-file-validate accepts and that starts this very
// program; the mark follows the folder, also when the user empties it by hand.
TEST_F(DesktopServicesTest, StartAtLoginWritesAValidEntryAndTheMarkFollowsTheFolder) {
    if (std::system("command -v desktop-file-validate >/dev/null") != 0) {
        GTEST_SKIP() << "not installed: desktop-file-validate";
    }
    ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
    TFloatingWindow window(*new testing::FakeEchoPlatform);
    QMenu& menu = window.WindowMenu();
    QAction* item = menu.findChild<QAction*>("N30");
    const QString entry = configHome_.path() + "/autostart/example.kavren.Nodrel.desktop";
    emit menu.aboutToShow();
    EXPECT_FALSE(item->isChecked());

    item->trigger();
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.toStdString() + "'").c_str()), 0);
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(
        ("\nExec=\"" + QCoreApplication::applicationFilePath() + "\"\n").toUtf8()));

    QFile::remove(entry);
    emit menu.aboutToShow();
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    emit menu.aboutToShow();
    EXPECT_TRUE(item->isChecked());
    item->trigger();
    EXPECT_FALSE(QFile::exists(entry));
}

}  // namespace
}  // namespace nodrel

#include "desktop_services_test.moc"
