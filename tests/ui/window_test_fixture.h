#pragma once

// A window test's surroundings: a QApplication, and a settings store of its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "floating_window.h"
#include "support/test_store.h"

namespace nodrel::testing {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configHome_.isValid());
        qputenv("XDG_CONFIG_HOME", configHome_.path().toLocal8Bit());
    }

    QString StorePath() const { return configHome_.path() + "/KAVREN/Nodrel.reg"; }

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

    static bool Marked(TFloatingWindow& window, const char* item) {
        return window.WindowMenu().findChild<QAction*>(item)->isChecked();
    }

    // A pixel of the tray icon's fill, clear of its emblem.
    static QRgb TrayPixel(TFloatingWindow& window) {
        return window.TrayIcon().icon().pixmap(16, 16).toImage().pixel(4, 12);
    }

    int argc_ = 1;
    char name_[7] = "nodrel";
    char* argv_[2] = {name_, nullptr};
    QApplication application_{argc_, argv_};
    QTemporaryDir configHome_;
};

}  // namespace nodrel::testing
