#include "private_sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace nodrel::testing {
namespace {

bool AcceptsConnections(const std::filesystem::path& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return connected;
}

}  // namespace

PrivateSoundServer::PrivateSoundServer() {
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "nodrel-pulse-XXXXXX");
    if (!mkdtemp(folderTemplate.data())) {
        failure_ = "cannot make a temporary folder";
        return;
    }
    folder_ = folderTemplate;
    std::error_code error;
    std::filesystem::create_directory(folder_ / "pulse", error);
    const std::string logPath = folder_ / "log";

    // Everything the server reads or writes lives in the private folder; without DISPLAY and a
    // session bus it looks for no desktop.
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {
        "PATH=" + std::string(path ? path : "/usr/bin:/bin"),
        "HOME=" + folder_.string(),
        "XDG_RUNTIME_DIR=" + folder_.string(),
        "XDG_CONFIG_HOME=" + (folder_ / "config").string(),
        "PULSE_RUNTIME_PATH=" + (folder_ / "runtime").string(),
    };
    std::vector<std::string> arguments = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--system=false",
        "--exit-idle-time=-1",
        "--use-pid-file=false",
        "--disallow-exit",
        "--realtime=false",
        "--high-priority=false",
        "--log-target=stderr",
        // Without norewinds an idle null sink renders 2 s of silence ahead and takes up a new
        // stream only after it, which would stretch every play by up to 2 s.
        "-L",
        "module-null-sink sink_name=nodrel_test norewinds=1",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socketPath().string(),
    };
    const auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (std::string& text : texts) result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);

    pid_ = fork();
    if (pid_ < 0) {
        failure_ = "cannot fork";
        return;
    }
    if (pid_ == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!AcceptsConnections(socketPath())) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = WIFEXITED(status) && WEXITSTATUS(status) == 127
                           ? "pulseaudio is not installed"
                           : "pulseaudio did not start: " + LogTail();
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            failure_ = "pulseaudio did not open its socket within 10 s: " + LogTail();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PrivateSoundServer::~PrivateSoundServer() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);  // also ends a stopped server
        waitpid(pid_, nullptr, 0);
    }
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
}

std::string PrivateSoundServer::address() const {
    return "unix:" + socketPath().string();
}

std::string PrivateSoundServer::LogTail() const {
    std::ifstream log(folder_ / "log");
    std::string line;
    std::string lastError = "no error logged";
    while (std::getline(log, line)) {
        if (line.starts_with("E:")) lastError = line;
    }
    return lastError;
}

}  // namespace nodrel::testing
