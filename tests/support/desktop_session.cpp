#include "support/desktop_session.h"

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <thread>

#include "private_bus.h"

namespace nodrel::testing {

using namespace std::chrono_literals;

const std::string kTitle = "KAVREN Nodrel - 127.0.0.1";

std::string WindowManagerName(const std::string& command) {
    return command.substr(0, command.find(' '));
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream words(text);
    return {std::istream_iterator<std::string>(words), {}};
}

std::vector<std::string> ProgramWindows() {
    return Words(Capture("xdotool search --onlyvisible --class nodrel"));
}

std::string Geometry(const std::string& id) {
    return Capture("eval $(xdotool getwindowgeometry --shell " + id +
                   ") && echo -n ${WIDTH}x$HEIGHT+$X+$Y");
}

std::string NewestCells(const std::string& id) {
    return Capture("import -window " + id +
                   " -crop 5x7+2+34 +repage miff:- | convert - '(' -clone 0 -crop 5x3+0+4 ')' "
                   "'(' -clone 0 -crop 5x3+0+0 ')' -delete 0 -unique-colors -depth 8 "
                   "-format '%w:%[hex:p{0,0}] ' info:");
}

std::string Pixel(const std::string& id, const std::string& at) {
    const size_t space = at.find(' ');
    return Capture("import -window " + id + " -crop 1x1+" + at.substr(0, space) + "+" +
                   at.substr(space + 1) + " +repage -depth 8 -format '%[hex:p{0,0}]' info:");
}

std::vector<std::string> TrayIcons() {
    return Words(
        Capture("for w in $(xdotool search --class tint2); do xwininfo -tree -id $w; done | "
                "grep '(\"nodrel\"' | cut -d'\"' -f1 | xargs -r printf '%d\\n'"));
}

bool TrayMessageShown() {
    const std::vector<std::string> icons = TrayIcons();
    return !icons.empty() && std::ranges::any_of(ProgramWindows(), [&](const std::string& id) {
        return !std::ranges::count(icons, id);
    });
}

bool TrayOwned() {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    const char name[] = "_NET_SYSTEM_TRAY_S0";
    auto* atom = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, sizeof name - 1, name), nullptr);
    auto* owner =
        atom ? xcb_get_selection_owner_reply(x, xcb_get_selection_owner(x, atom->atom), nullptr)
             : nullptr;
    const bool owned = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    xcb_disconnect(x);
    return owned;
}

void Signal(pid_t pid, int signalNumber) {
    if (pid > 0) kill(pid, signalNumber);
}

std::string Property(const std::string& id, const std::string& name) {
    const std::string line = Capture("xprop -id " + id + " " + name);
    const size_t at = line.find(" = ");
    return at == std::string::npos ? "" : line.substr(at + 3, line.size() - at - 4);
}

bool Viewable(const std::string& id) {
    return Has(Capture("xwininfo -id " + id), "IsViewable");
}

std::string MenuWindow() {
    std::string found;
    PollUntil([&] {
        for (const std::string& id : ProgramWindows()) {
            if (Has(Capture("xwininfo -id " + id), "Override Redirect State: yes")) found = id;
        }
        return !found.empty();
    });
    return found;
}

std::string MappedWindow(const std::string& title) {
    std::string found;
    PollUntil([&] {
        const std::vector<std::string> ids =
            Words(Capture("xdotool search --onlyvisible --name '^" + title + "$'"));
        if (!ids.empty()) found = ids.front();
        return !found.empty();
    });
    return found;
}

std::string FloatingWindow() {
    return MappedWindow(kTitle);
}

std::string ItemProperty(const std::string& item, const std::string& name) {
    const size_t slash = item.find('/');
    if (slash == std::string::npos) return "";
    return Capture("gdbus call --session -d " + item.substr(0, slash) + " -o " +
                   item.substr(slash) +
                   " -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem " + name);
}

std::vector<std::string> StatusNotifierItems() {
    const std::string reply = Capture(
        "gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher -m "
        "org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "
        "RegisteredStatusNotifierItems");
    std::vector<std::string> items;
    for (size_t at = reply.find('\''); at != std::string::npos; at = reply.find('\'', at + 1)) {
        const size_t end = reply.find('\'', at + 1);
        if (end == std::string::npos) break;
        items.push_back(reply.substr(at + 1, end - at - 1));
        at = end;
    }
    return items;
}

std::string Item() {
    const std::vector<std::string> items = StatusNotifierItems();
    return items.empty() ? "" : items.front();
}

std::string ItemIconColour(const std::string& item) {
    const std::string pixmap = ItemProperty(item, "IconPixmap");
    std::vector<int> bytes;
    for (size_t at = pixmap.find("0x"); at != std::string::npos; at = pixmap.find("0x", at + 2)) {
        bytes.push_back(std::stoi(pixmap.substr(at + 2, 2), nullptr, 16));
    }
    const size_t at = (12 * 16 + 4) * 4;
    if (bytes.size() < at + 4) return "";
    char text[7];
    std::snprintf(text, sizeof text, "%02X%02X%02X", bytes[at + 1], bytes[at + 2], bytes[at + 3]);
    return text;
}

void DesktopSession::StartSession() {
    // Probing loopback needs an ICMP socket: root, or a ping group range holding our group.
    const int icmp = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (icmp < 0 && geteuid() != 0) GTEST_SKIP() << "no ICMP socket: " << strerror(errno);
    if (icmp >= 0) close(icmp);
    const std::string missing = Missing("dbus-daemon gdbus");
    if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing;
    // The desktop's processes are started through a shell; they become children of the test.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    char pattern[] = "/tmp/nodrel-desktop-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/config/KAVREN");
    // Set before the session's processes start: they read them.
    setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/bus").c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("SESSION_MANAGER");
    unsetenv("QT_QPA_PLATFORM");
    // A bus that starts nothing on demand: a notification server installed on the machine
    // must not answer tests that expect none.
    ASSERT_TRUE(WriteBusConfiguration(dir_ + "/bus.conf", "unix:path=" + dir_ + "/bus"));
    Spawn("dbus", "dbus-daemon --nofork --config-file=" + dir_ + "/bus.conf");
    ASSERT_TRUE(PollUntil([&] { return std::filesystem::exists(dir_ + "/bus"); })) << Log("dbus");
}

void DesktopSession::StartX(const std::string& windowManager) {
    const std::string name = WindowManagerName(windowManager);
    const std::string missing =
        Missing("Xvfb " + name + " xdotool xprop xwininfo wmctrl import convert");
    if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing;
    // A display number of this process's own: one freed a moment ago by another test may still
    // be held by its server's last moments.
    int number = 1000 + getpid() % 30000;
    while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    const pid_t xvfb = Spawn("Xvfb", "Xvfb $DISPLAY -screen 0 1024x768x24 -nolisten tcp -noreset");
    const bool answers = PollUntil([] { return !Capture("xwininfo -root").empty(); });
    // -noreset: the server must not restart when that probe, its only client, disconnects.
    siginfo_t ended{};  // a server that answers while ours has ended is another test's
    waitid(P_PID, xvfb, &ended, WEXITED | WNOHANG | WNOWAIT);
    ASSERT_TRUE(answers && ended.si_pid == 0) << "Xvfb did not start: " << Log("Xvfb");
    // Four workspaces under every manager; what each needs besides its command line.
    std::string command = windowManager;
    const std::string config = dir_ + "/config";
    if (name == "kwin_x11") {
        std::ofstream(config + "/kwinrc") << "[Desktops]\nNumber=4\nRows=1\n";
        command = "KWIN_COMPOSE=N LIBGL_ALWAYS_SOFTWARE=1 " + command;
    } else if (name == "mutter") {
        std::filesystem::create_directories(config + "/glib-2.0/settings");
        std::ofstream(config + "/glib-2.0/settings/keyfile")
            << "[org/gnome/mutter]\ndynamic-workspaces=false\n"
               "[org/gnome/desktop/wm/preferences]\nnum-workspaces=4\n";
        command = "GSETTINGS_BACKEND=keyfile LIBGL_ALWAYS_SOFTWARE=1 " + command;
    } else if (name == "i3") {
        // i3 makes a workspace when it is first shown: only the first exists at the start.
        std::ofstream(dir_ + "/i3config") << "# i3 config file (v4)\nfont pango:DejaVu Sans 8\n"
                                             "focus_follows_mouse no\n";
        command += " -c " + dir_ + "/i3config";
    }
    Spawn("wm", command);
    ASSERT_TRUE(PollUntil([&] {
        return Has(Capture("xprop -root _NET_SUPPORTING_WM_CHECK"), "window id");
    })) << "no window manager: "
        << Log("wm");
}

void DesktopSession::StartXDesktop(const std::string& windowManager) {
    StartSession();
    if (!IsSkipped() && !HasFatalFailure()) StartX(windowManager);
    if (!IsSkipped() && !HasFatalFailure()) StartXTray();
}

void DesktopSession::StartXTray() {
    if (!Missing("tint2").empty()) GTEST_SKIP() << "not installed: tint2";
    std::ofstream(dir_ + "/tint2rc")
        << "panel_items = S\npanel_position = bottom center horizontal\n"
           "panel_size = 100% 30\nsystray_icon_size = 24\n";
    tint2_ = Spawn("tint2", "tint2 -c " + dir_ + "/tint2rc");
    ASSERT_TRUE(PollUntil(TrayOwned)) << "no tray: " << Log("tint2");
}

void DesktopSession::StartPanel() {
    if (!Missing("xfce4-panel").empty()) GTEST_SKIP() << "not installed: xfce4-panel";
    // One panel holding only the status tray: no first-run question, no other plugin.
    const std::string folder = dir_ + "/config/xfce4/xfconf/xfce-perchannel-xml";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/xfce4-panel.xml")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<channel name=\"xfce4-panel\" version=\"1.0\">\n"
           " <property name=\"configver\" type=\"int\" value=\"2\"/>\n"
           " <property name=\"panels\" type=\"array\"><value type=\"int\" value=\"1\"/>\n"
           "  <property name=\"panel-1\" type=\"empty\">\n"
           "   <property name=\"position\" type=\"string\" value=\"p=8;x=512;y=750\"/>\n"
           "   <property name=\"size\" type=\"uint\" value=\"30\"/>\n"
           "   <property name=\"plugin-ids\" type=\"array\">\n"
           "    <value type=\"int\" value=\"1\"/></property></property></property>\n"
           " <property name=\"plugins\" type=\"empty\">\n"
           "  <property name=\"plugin-1\" type=\"string\" value=\"systray\"/>\n"
           " </property>\n</channel>\n";
    // Its settings daemon, which the session's bus does not start on demand.
    Spawn("xfconfd", "$(sed -n 's/^Exec=//p' /usr/share/dbus-1/services/org.xfce.Xfconf.service)");
    const std::string owned =
        "gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.NameHasOwner "
        "org.xfce.Xfconf";
    ASSERT_TRUE(PollUntil([&] { return Capture(owned) == "(true,)\n"; })) << Log("xfconfd");
    panel_ = Spawn("panel", "xfce4-panel");
    ASSERT_TRUE(PollUntil(HostRegistered, 20s)) << "no host: " << Log("panel");
}

bool DesktopSession::HostRegistered() {
    return Has(Capture("gdbus call --session -d org.kde.StatusNotifierWatcher -o "
                       "/StatusNotifierWatcher -m org.freedesktop.DBus.Properties.Get "
                       "org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered"),
               "true");
}

std::string DesktopSession::StartWeston(bool xwayland) {
    setenv("WAYLAND_DISPLAY", "nodrel-wayland", 1);
    Spawn("weston", std::string("weston --backend=headless-backend.so --idle-time=0 ") +
                        "--socket=$WAYLAND_DISPLAY" + (xwayland ? " --xwayland" : ""));
    EXPECT_TRUE(PollUntil([&] { return std::filesystem::exists(dir_ + "/nodrel-wayland"); }))
        << Log("weston");
    if (!xwayland) return "";
    std::string display;
    PollUntil([&] {
        const std::string log = Log("weston");
        const size_t at = log.find("listening on display ");
        if (at != std::string::npos) display = Words(log.substr(at + 21)).front();
        return !display.empty();
    });
    return display;
}

void DesktopSession::MenuCommand(const std::string& at, int upPresses) {
    Capture("xdotool mousemove 5 5 sleep 0.1 mousemove " + at + " sleep 0.1 click 3");
    ASSERT_FALSE(MenuWindow().empty()) << "no menu";
    std::string keys;
    for (int press = 0; press < upPresses; ++press) keys += "key Up ";
    Capture("xdotool " + keys + "sleep 0.1 key Return");
}

void DesktopSession::TearDown() {
    // Asked to end first, so that Xvfb removes its lock and socket.
    for (auto pid = children_.rbegin(); pid != children_.rend(); ++pid) Signal(*pid, SIGTERM);
    for (const pid_t pid : children_) {
        if (!PollUntil([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 3s)) {
            Signal(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::string DesktopSession::Missing(const std::string& tools) {
    return Capture("for t in " + tools + "; do command -v $t >/dev/null || echo \"$t \"; done");
}

pid_t DesktopSession::Spawn(const std::string& log, const std::string& command) {
    const std::string redirect = " >" + dir_ + "/" + log + ".log 2>&1";
    const pid_t pid = std::atoi(Capture(command + redirect + " & echo $!").c_str());
    EXPECT_GT(pid, 0) << "cannot start " << command;
    if (pid > 0) children_.push_back(pid);
    return pid;
}

pid_t DesktopSession::StartProgram(const std::string& launcher, const std::string& log) {
    return program_ = Spawn(log, launcher + " '" NODREL_PROGRAM "'");
}

std::string DesktopSession::Log(const std::string& name) const {
    return Capture("cat " + dir_ + "/" + name + ".log");
}

std::string DesktopSession::StorePath() const {
    return dir_ + "/config/KAVREN/Nodrel.reg";
}

void DesktopSession::WriteStore(std::map<std::string, long> changes) {
    std::istringstream defaults(
        "left 300 top 200 viewmode 2 modenum 2 blinkmode 1 col1 16711680 col2 12632256 "
        "col3 255 col4 33023 col5 16777215 col6 0 w 5 h 3 ws 1 hs 1 sound 0 alpha 0 "
        "timeout 1000 interval 1000 minimized 0");
    std::string key;
    long number;
    while (defaults >> key >> number) changes.emplace(key, number);  // the changes win
    std::ofstream file(StorePath());
    file << "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\n\"host\"=\"127.0.0.1\"\n";
    for (const auto& [name, value] : changes) {
        file << '"' << name << "\"=dword:" << std::hex << std::setfill('0') << std::setw(8)
             << uint32_t(value) << '\n';
    }
}

long DesktopSession::Stored(const std::string& name) const {
    const std::string text = Capture("cat " + StorePath());
    const size_t at = text.find('"' + name + "\"=dword:");
    return at == std::string::npos ? -1
                                   : int32_t(std::stoul(&text[at + name.size() + 9], nullptr, 16));
}

void DesktopSession::EndBySignal() {
    Signal(program_, SIGTERM);
    EXPECT_EQ(ProgramStatus(), 0) << Log("nodrel").substr(0, 4000);
}

int DesktopSession::ProgramStatus(std::chrono::milliseconds deadline) {
    int status = -1;
    if (program_ <= 0) return -1;
    PollUntil([&] { return waitpid(program_, &status, WNOHANG) == program_; }, deadline);
    if (status == -1) return -1;
    std::erase(children_, program_);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace nodrel::testing
