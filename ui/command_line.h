#pragma once

// The program's own options; Qt's (-platform and the others) are taken by QApplication.

#include <QString>
#include <QStringList>
#include <optional>

namespace nodrel {

struct TCommandLine {
    // Given: for this run in place of the stored setting (metrics_settings.h); empty turns it off.
    std::optional<QString> MetricsTextfile;
    std::optional<QString> MetricsListen;
};

// Before QApplication is made, which needs a display: prints the help for --help and ends.
void AnswerHelp(int argc, char** argv);

// The options of `arguments`, Qt's own taken out; a mistake is said on standard error and ends
// the program with status 2.
TCommandLine ReadCommandLine(const QStringList& arguments);

}  // namespace nodrel
