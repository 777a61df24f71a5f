#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "program.h"

namespace {

// A Wayland client can neither place its window nor keep it above others; XWayland can. The
// user's own choice of platform, by environment or argument, stands.
void PreferXcbOnWayland(int argc, char** argv) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return;
        }
    }
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

}  // namespace

int main(int argc, char** argv) {
    nodrel::AnswerHelp(argc, argv);
    PreferXcbOnWayland(argc, argv);
    QApplication application(argc, argv);
    const int status = nodrel::RunFirstProgram(nodrel::ReadCommandLine(application.arguments()));
    // The settings are saved by now. The worker may be in the middle of a probe or waiting for
    // the window: it is never waited for, and ending here, without tearing down what it might
    // still touch, lets it end with the process.
    std::fflush(nullptr);
    std::_Exit(status);
}
