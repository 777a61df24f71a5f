#pragma once

// A window test's surroundings: a QApplication, and a settings store of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <map>

#include "floating_window.h"

namespace nodrel::testing {

using Values = std::map<QString, QString>;

// A store as a previous run would have left it: first-run values, probing 127.0.0.1 every second.
inline Values StoredValues() {
    return {{"left", "dword:00000064"},      {"top", "dword:00000064"},
            {"viewmode", "dword:00000002"},  {"modenum", "dword:00000002"},
            {"blinkmode", "dword:00000001"}, {"col1", "dword:00ff0000"},
            {"col2", "dword:00c0c0c0"},      {"col3", "dword:000000ff"},
            {"col4", "dword:000080ff"},      {"col5", "dword:00ffffff"},
            {"col6", "dword:00000000"},      {"sound", "dword:00000000"},
            {"timeout", "dword:00001388"},   {"host", "\"127.0.0.1\""},
            {"interval", "dword:000003e8"},  {"alpha", "dword:00000000"},
            {"w", "dword:00000005"},         {"h", "dword:00000003"},
            {"ws", "dword:00000001"},        {"hs", "dword:00000001"},
            {"minimized", "dword:00000000"}};
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configHome_.isValid());
        qputenv("XDG_CONFIG_HOME", configHome_.path().toLocal8Bit());
    }

    QString StorePath() const { return configHome_.path() + "/KAVREN/Nodrel.reg"; }

    void WriteStore(const Values& values) {
        QDir().mkpath(configHome_.path() + "/KAVREN");
        QFile file(StorePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QString text =
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\n";
        for (const auto& [name, value] : values) text += "\"" + name + "\"=" + value + "\n";
        file.write(text.toUtf8());
    }

    QString ReadStore() const {
        QFile file(StorePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Serves events until `done` holds or five seconds have passed.
    static bool ServeUntil(const std::function<bool()>& done) {
        const QDeadlineTimer deadline(5000);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    static QRgb CellOne(TFloatingWindow& window) {
        const auto* surface = window.findChild<TDrawingSurface*>("Image1");
        // The bottom-left cell: 5 x 3 pixels from (1, 37) of the surface.
        return surface->Picture().pixel(3, 38);
    }

    int argc_ = 1;
    char name_[7] = "nodrel";
    char* argv_[2] = {name_, nullptr};
    QApplication application_{argc_, argv_};
    QTemporaryDir configHome_;
};

}  // namespace nodrel::testing
