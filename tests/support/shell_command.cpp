#include "shell_command.h"

#include <cstdio>
#include <thread>

namespace nodrel::testing {

std::string Capture(const std::string& command) {
    std::string out;
    // A group, so that a redirection inside the command line still reaches the pipe.
    if (FILE* pipe = popen(("{ " + command + "\n} 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    using namespace std::chrono_literals;
    for (const auto end = std::chrono::steady_clock::now() + deadline;
         std::chrono::steady_clock::now() < end;) {
        if (condition()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

}  // namespace nodrel::testing
