// The real program on a real X desktop: Xvfb, openbox as window manager, tint2 as panel with a
// system tray, a private session bus, and a settings store written by the test. Everything is
// looked at from outside, with the X tools a user would have.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Store = std::map<std::string, std::string>;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << '(' << c.r << ',' << c.g << ',' << c.b << ')';
}
constexpr Rgb kSilver{192, 192, 192};
constexpr Rgb kBlue{0, 0, 255};

struct WindowInfo {
    int x = 0, y = 0, width = 0, height = 0;
    bool overrideRedirect = false;
};

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s) {
    for (const auto end = Clock::now() + deadline; Clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

bool OnPath(const std::string& tool) {
    return !Capture("command -v " + tool).empty();
}

int Field(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

WindowInfo Window(const std::string& id) {
    const std::string text = Capture("xwininfo -id " + id);
    return {Field(text, "Absolute upper-left X:"), Field(text, "Absolute upper-left Y:"),
            Field(text, "Width:"), Field(text, "Height:"),
            text.find("Override Redirect State: yes") != std::string::npos};
}

// The mapped windows of the program, as xdotool lists them (decimal ids).
std::vector<std::string> ProgramWindows() {
    return Lines(Capture("xdotool search --onlyvisible --class nodrel"));
}

// The pixels of the window's first 75 x 43 as the user sees them, row by row.
std::vector<Rgb> Screenshot(const WindowInfo& window) {
    const std::string rgb = Capture("import -window root -crop 75x43+" + std::to_string(window.x) +
                                    "+" + std::to_string(window.y) + " -depth 8 rgb:-");
    std::vector<Rgb> pixels;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        pixels.push_back({uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2])});
    return pixels;
}

// The one colour of the 5 x 3 cell at (left, top) of a window's screenshot 75 pixels wide; black
// when the cell is not of one colour.
Rgb CellColour(const std::vector<Rgb>& shot, int left, int top) {
    if (shot.size() != 75 * 43) return {-1, -1, -1};
    const Rgb first = shot[top * 75 + left];
    for (int y = top; y < top + 3; ++y) {
        for (int x = left; x < left + 5; ++x) {
            if (!(shot[y * 75 + x] == first)) return {0, 0, 0};
        }
    }
    return first;
}

// The program's windows that tint2 holds: its icons in the tray.
std::vector<unsigned long> TrayIcons() {
    std::vector<unsigned long> icons;
    size_t panelIndent = std::string::npos;
    for (const std::string& line : Lines(Capture("xwininfo -root -tree"))) {
        const size_t indent = line.find_first_not_of(' ');
        if (indent <= panelIndent) panelIndent = std::string::npos;
        if (line.find("\"tint2\"") != std::string::npos) panelIndent = indent;
        if (panelIndent != std::string::npos && indent > panelIndent &&
            line.find("\"nodrel\"") != std::string::npos) {
            icons.push_back(std::stoul(line.substr(indent), nullptr, 0));
        }
    }
    return icons;
}

// Never kill(-1, ...): that would reach every process the test may signal.
void Signal(pid_t pid, int signalNumber) {
    if (pid > 0) kill(pid, signalNumber);
}

bool TrayOwned(const std::string& display) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool owned = false;
    if (!xcb_connection_has_error(connection)) {
        const char name[] = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        xcb_get_selection_owner_reply_t* owner =
            atom ? xcb_get_selection_owner_reply(
                       connection, xcb_get_selection_owner(connection, atom->atom), nullptr)
                 : nullptr;
        owned = owner && owner->owner != XCB_NONE;
        free(owner);
        free(atom);
    }
    xcb_disconnect(connection);
    return owned;
}

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "openbox", "tint2", "xdotool", "xprop", "xwininfo",
                                 "import", "dbus-daemon"}) {
            if (!OnPath(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        // Probing loopback needs an ICMP socket: root, or a ping group range holding our group.
        const int icmp = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
        if (icmp < 0 && geteuid() != 0) GTEST_SKIP() << "no ICMP socket: " << strerror(errno);
        if (icmp >= 0) close(icmp);
        char pattern[] = "/tmp/nodrel-desktop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::create_directories(dir_ + "/config/KAVREN");
        mkdir((dir_ + "/runtime").c_str(), 0700);
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir_ + "/runtime").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("SESSION_MANAGER");

        // A display number of this process's own: one freed a moment ago by another test may
        // still be held by its server's last moments.
        int number = 1000 + getpid() % 30000;
        while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
        display_ = ":" + std::to_string(number);
        int readyPipe[2];
        ASSERT_EQ(pipe(readyPipe), 0);
        fcntl(readyPipe[0], F_SETFD, FD_CLOEXEC);
        Spawn({"Xvfb", display_, "-displayfd", std::to_string(readyPipe[1]), "-screen", "0",
               "1024x768x24", "-nolisten", "tcp"});
        close(readyPipe[1]);
        // Xvfb writes the number when it is ready; read up to the line end, since Xvfb fails when
        // the pipe closes before that.
        std::string ready;
        for (char c; read(readyPipe[0], &c, 1) == 1 && c != '\n';) ready += c;
        close(readyPipe[0]);
        ASSERT_EQ(":" + ready, display_) << "Xvfb did not start: " << Log("Xvfb");
        setenv("DISPLAY", display_.c_str(), 1);

        const std::string bus = dir_ + "/runtime/bus";
        Spawn({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + bus});
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).c_str(), 1);
        ASSERT_TRUE(PollUntil([&] { return std::filesystem::exists(bus); }));

        Spawn({"openbox", "--sm-disable"});
        ASSERT_TRUE(PollUntil([] {
            return Capture("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") !=
                   std::string::npos;
        })) << "openbox did not start: "
            << Log("openbox");
        std::ofstream(dir_ + "/tint2rc") << "panel_items = S\n"
                                            "panel_position = bottom center horizontal\n"
                                            "panel_size = 100% 30\n"
                                            "systray_icon_size = 24\n";
        tint2_ = Spawn({"tint2", "-c", dir_ + "/tint2rc"});
        ASSERT_TRUE(PollUntil([&] { return TrayOwned(display_); })) << "tint2 has no tray";
    }

    void TearDown() override {
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

    pid_t Spawn(const std::vector<std::string>& command, std::string logName = {}) {
        if (logName.empty()) logName = command.front();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string log = dir_ + "/" + logName + ".log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(error, 0) << "cannot start " << command.front();
        if (error == 0) children_.push_back(pid);
        return pid;
    }

    // Writes a complete store that probes loopback once a second, with `changes` applied.
    void WriteStore(const Store& changes) {
        Store values;
        std::istringstream defaults(
            "left 300 top 200 viewmode 2 modenum 2 blinkmode 1 col1 16711680 col2 12632256 "
            "col3 255 col4 33023 col5 16777215 col6 0 w 5 h 3 ws 1 hs 1 sound 0 alpha 0 "
            "timeout 1000 interval 1000 minimized 0");
        for (std::string name, value; defaults >> name >> value;) values[name] = value;
        for (const auto& [name, value] : changes) values[name] = value;
        std::ofstream file(StorePath());
        file << "Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\n\"host\"=\"127.0.0.1\"\n";
        for (const auto& [name, value] : values) {
            char dword[16];
            snprintf(dword, sizeof dword, "%08x", unsigned(std::stoll(value)));
            file << '"' << name << "\"=dword:" << dword << '\n';
        }
    }

    // The stored values, integers in decimal and the host with its quotes.
    Store ReadStore() const {
        Store values;
        std::ifstream file(StorePath());
        const std::regex entry(R"re("(\w+)"=(dword:([0-9a-f]{8})|".*"))re");
        std::smatch match;
        for (std::string line; std::getline(file, line);) {
            if (!std::regex_match(line, match, entry)) continue;
            values[match[1]] = match[3].matched
                                   ? std::to_string(int32_t(std::stoul(match[3], nullptr, 16)))
                                   : match[2].str();
        }
        return values;
    }

    std::string StorePath() const { return dir_ + "/config/KAVREN/Nodrel.reg"; }

    void StartProgram(std::vector<std::string> command = {}) {
        command.push_back(NODREL_PROGRAM);
        program_ = Spawn(command, "nodrel");
    }

    // The program's mapped top-level window: the floating window.
    std::string FloatingWindow() {
        std::string found;
        PollUntil([&] {
            for (const std::string& id : ProgramWindows()) {
                if (Window(id).width == 75 || Window(id).width == 363) found = id;
            }
            return !found.empty();
        });
        return found;
    }

    // The exit status once the program has ended within `deadline`; -1 while it runs.
    int ProgramStatus(std::chrono::milliseconds deadline) {
        int status = -1;
        if (program_ <= 0) return -1;
        PollUntil([&] { return waitpid(program_, &status, WNOHANG) == program_; }, deadline);
        if (status == -1) return -1;
        std::erase(children_, program_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string ProgramOutput() const { return Log("nodrel"); }

    std::string Log(const std::string& name) const {
        std::ifstream log(dir_ + "/" + name + ".log");
        return {std::istreambuf_iterator<char>(log), {}};
    }

    std::string dir_, display_;
    std::vector<pid_t> children_;
    pid_t tint2_ = -1, program_ = -1;
};

}  // namespace

TEST_F(DesktopTest, ShownWindowSitsOnTopUndecoratedTurnsBlueAndIsSavedOnSigterm) {
    WriteStore({{"alpha", "1"}});
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << ProgramOutput();
    const WindowInfo window = Window(id);
    EXPECT_EQ(window.x, 300);
    EXPECT_EQ(window.y, 200);
    EXPECT_EQ(window.width, 75);
    EXPECT_EQ(window.height, 43);
    const std::string state = Capture("xprop -id " + id + " _NET_WM_STATE");
    for (const char* atom :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        EXPECT_NE(state.find(atom), std::string::npos) << atom << " missing: " << state;
    }
    EXPECT_EQ(Capture("xprop -id " + id + " _NET_FRAME_EXTENTS"),
              "_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0\n");
    // The window manager's frame around the window is no bigger than the window.
    std::smatch parent;
    const std::string tree = Capture("xwininfo -tree -id " + id);
    ASSERT_TRUE(std::regex_search(tree, parent, std::regex("Parent window id: (0x[0-9a-f]+)")));
    const WindowInfo frame = Window(parent[1]);
    EXPECT_EQ(std::tie(frame.x, frame.y, frame.width, frame.height),
              std::tie(window.x, window.y, window.width, window.height));
    EXPECT_EQ(Capture("xprop -id " + id + " _NET_WM_WINDOW_OPACITY"),
              "_NET_WM_WINDOW_OPACITY(CARDINAL) = 2492765332\n");

    // Newest first from the bottom left: after the first answer cell 1 is blue and cell 2, above
    // it, is still silver until the second answer a second later.
    Rgb secondCell{};
    ASSERT_TRUE(PollUntil([&] {
        const std::vector<Rgb> shot = Screenshot(window);
        secondCell = CellColour(shot, 2, 34);
        return CellColour(shot, 2, 38) == kBlue;
    })) << ProgramOutput();
    EXPECT_EQ(secondCell, kSilver);
    EXPECT_TRUE(PollUntil([&] { return CellColour(Screenshot(window), 2, 34) == kBlue; }));

    // The store is written anew at the signal, with the window where the X server has it.
    std::filesystem::remove(StorePath());
    Signal(program_, SIGTERM);
    EXPECT_EQ(ProgramStatus(3s), 0) << ProgramOutput();
    Store stored = ReadStore();
    EXPECT_EQ(stored.size(), 21u);
    EXPECT_EQ(stored["left"], "300");
    EXPECT_EQ(stored["top"], "200");
    EXPECT_EQ(stored["alpha"], "1");
    EXPECT_EQ(stored["interval"], "1000");
    EXPECT_EQ(stored["host"], "\"127.0.0.1\"");
    EXPECT_EQ(stored["minimized"], "0");
}

TEST_F(DesktopTest, StoredMinimizedStartsInTheTrayAndTheWindowReturnsWhenTheTrayGoes) {
    WriteStore({{"minimized", "1"}});
    StartProgram();
    std::vector<unsigned long> icons;
    ASSERT_TRUE(PollUntil([&] { return !(icons = TrayIcons()).empty(); })) << ProgramOutput();
    for (const std::string& id : ProgramWindows()) {
        EXPECT_TRUE(std::ranges::count(icons, std::stoul(id, nullptr, 0)))
            << "window " << id << " is mapped outside the tray";
    }

    Signal(tint2_, SIGTERM);
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << "no window after the tray went away";
    EXPECT_EQ(Window(id).x, 300);

    Signal(program_, SIGTERM);
    EXPECT_EQ(ProgramStatus(3s), 0) << ProgramOutput();
    EXPECT_EQ(ReadStore()["minimized"], "0");
}

TEST_F(DesktopTest, DragDoubleClickAndCloseFromTheMenu) {
    WriteStore({});
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << ProgramOutput();

    // Grab at (30, 20) of the window and move 120 right and 80 up in four steps.
    Capture(
        "xdotool mousemove 330 220 mousedown 1 sleep 0.1 mousemove 360 200 sleep 0.1 "
        "mousemove 390 180 sleep 0.1 mousemove 420 160 sleep 0.1 mousemove 450 140 sleep 0.1 "
        "mouseup 1");
    WindowInfo window;
    ASSERT_TRUE(PollUntil([&] {
        window = Window(id);
        return window.x == 420 && window.y == 120;
    })) << "window at "
        << window.x << "," << window.y;

    for (const int width : {363, 75}) {
        std::this_thread::sleep_for(600ms);  // longer than a double-click: the clicks don't pair
        Capture("xdotool click --repeat 2 --delay 80 1");
        EXPECT_TRUE(PollUntil([&] { return (window = Window(id)).width == width; }))
            << "width " << window.width;
        EXPECT_EQ(window.height, 43);
    }

    const auto menuShown = [] {
        return std::ranges::any_of(ProgramWindows(),
                                   [](const std::string& w) { return Window(w).overrideRedirect; });
    };
    EXPECT_FALSE(menuShown());
    Capture("xdotool click 3");
    EXPECT_TRUE(PollUntil(menuShown)) << "no menu";
    Capture("xdotool key Up sleep 0.1 key Return");  // the last item: "Close KAVREN Nodrel"
    EXPECT_EQ(ProgramStatus(3s), 0) << ProgramOutput();
    Store stored = ReadStore();
    EXPECT_EQ(stored["left"], "420");
    EXPECT_EQ(stored["top"], "120");
    EXPECT_EQ(stored["minimized"], "0");
}

TEST_F(DesktopTest, SigtermEndsAtOnceWhileAProbeWaitsOutItsTimeout) {
    if (geteuid() != 0) GTEST_SKIP() << "a private network namespace needs root";
    if (!OnPath("unshare") || !OnPath("ip")) GTEST_SKIP() << "unshare or ip is not installed";
    // Loopback in a network namespace of its own that answers no echo request.
    WriteStore({{"timeout", "60000"}});
    const auto started = Clock::now();
    StartProgram({"unshare", "-n", "sh", "-c",
                  "ip link set lo up && echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all && "
                  "exec \"$0\""});
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << ProgramOutput();
    std::this_thread::sleep_until(started + 2s);
    EXPECT_EQ(CellColour(Screenshot(Window(id)), 2, 38), kSilver) << "the probe is not waiting";

    Signal(program_, SIGTERM);
    EXPECT_EQ(ProgramStatus(3s), 0) << ProgramOutput();  // at once: 3 s only to tell a hang
    EXPECT_EQ(ProgramOutput().find("Sanitizer"), std::string::npos) << ProgramOutput();
    EXPECT_EQ(ReadStore()["timeout"], "60000");
}
