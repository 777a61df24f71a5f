#include "private_sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace nodrel::testing {
namespace {

bool AcceptsConnections(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected =
        fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return connected;
}

}  // namespace

PrivateSoundServer::PrivateSoundServer() {
    std::string folderTemplate = std::filesystem::temp_directory_path() / "nodrel-pulse-XXXXXX";
    if (!mkdtemp(folderTemplate.data())) {
        failure_ = "cannot make a temporary folder";
        return;
    }
    folder_ = folderTemplate;
    std::filesystem::create_directory(folder_ / "pulse");
    const std::string socketPath = folder_ / "pulse/native";
    const std::string log = folder_ / "log";

    // Everything the server reads or writes lives in the private folder; without DISPLAY and a
    // session bus it looks for no desktop. Without norewinds an idle null sink renders 2 s of
    // silence ahead and takes up a new stream only after it, stretching every play by up to 2 s.
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {"PATH=" + std::string(path ? path : "/usr/bin:/bin"),
                                            "HOME=" + folder_.string(),
                                            "XDG_RUNTIME_DIR=" + folder_.string()};
    std::vector<std::string> arguments;
    std::istringstream flags(
        "pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --use-pid-file=false "
        "--disallow-exit --realtime=false --high-priority=false --log-target=stderr");
    for (std::string flag; flags >> flag;) arguments.push_back(flag);
    arguments.push_back("--load=module-null-sink sink_name=nodrel_test norewinds=1");
    arguments.push_back("--load=module-native-protocol-unix auth-anonymous=1 socket=" + socketPath);
    std::vector<char*> argv, envp;
    for (std::string& word : arguments) argv.push_back(word.data());
    for (std::string& entry : environment) envp.push_back(entry.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int error = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        failure_ = "pulseaudio is not installed";
        return;
    }

    // A server that failed stays unreaped until the destructor.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!AcceptsConnections(socketPath)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::ifstream logged(log);
            failure_ = "pulseaudio did not start within 10 s: " +
                       std::string(std::istreambuf_iterator<char>(logged), {});
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

}  // namespace nodrel::testing
