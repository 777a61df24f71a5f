#include "autostart_entry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/shell_command.h"

namespace nodrel::platform {
namespace {

using testing::Capture;
using testing::PollUntil;

// A program whose path holds what an Exec line must quote (a space, a backslash, a double quote,
// a backquote, a dollar sign) gets an entry that desktop-file-validate accepts and that a
// desktop's launcher (GLib's, as GNOME's and Xfce's sessions use) starts: that very file.
TEST(AutostartEntryTest, AnEntryStartsItsProgramWhateverItsPathHolds) {
    const std::string missing =
        Capture("for t in desktop-file-validate gio; do command -v $t >/dev/null || echo $t; done");
    if (!missing.empty()) GTEST_SKIP() << "not installed: " << missing;
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    const QString folder = home.path() + "/a b\\c\"d`e$f";
    const QString program = folder + "/nodrel";
    const QString started = home.path() + "/started";
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile script(program);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\nprintf %s \"$0\" > '" + started + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const AutostartEntry entry(QStringLiteral("example.kavren.Nodrel"), program);
    ASSERT_EQ(entry.Write(), std::nullopt);
    const std::string path = entry.Path().toStdString();
    EXPECT_EQ(Capture("desktop-file-validate '" + path + "' 2>&1 && echo valid"), "valid\n");
    Capture("gio launch '" + path + "'");
    ASSERT_TRUE(PollUntil([&] { return QFile::exists(started); }));
    EXPECT_EQ(Capture("cat '" + started.toStdString() + "'"), program.toStdString());
}

}  // namespace
}  // namespace nodrel::platform
