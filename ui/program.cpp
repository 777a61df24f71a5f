#include "program.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>

#include "floating_window.h"
#include "termination_signals.h"
#include "tray_images.h"

namespace nodrel {

namespace {

const QString kNoPingHandle = QStringLiteral("Unable to get ping handle");
// Names the installed launcher and icon, so docks and task switchers match the window to them.
const QString kApplicationId = QStringLiteral("example.kavren.Nodrel");

void ReportStartError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    ErrorBoxText(message), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("StartError"));
    if (message == kNoPingHandle) {
        box.setInformativeText(
            QStringLiteral(
                "Allow ICMP for users: sysctl net.ipv4.ping_group_range=\"0 2147483647\"\n"
                "or let the program open raw sockets: setcap cap_net_raw+ep %1")
                .arg(QCoreApplication::applicationFilePath()));
    }
    box.exec();
}

}  // namespace

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

int RunProgram(platform::EchoPlatform& echoPlatform) {
    QGuiApplication::setApplicationDisplayName(QStringLiteral("KAVREN Nodrel"));
    // Hiding to the notification area closes no window; only "Close KAVREN Nodrel" ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(kApplicationId);
    // The installed icon where the theme has it, else the same design drawn here (only then).
    QIcon applicationIcon = QIcon::fromTheme(kApplicationId);
    if (applicationIcon.isNull()) applicationIcon = DrawTrayImage(1);
    QApplication::setWindowIcon(applicationIcon);

    TFloatingWindow window(echoPlatform);
    if (window.StartError()) {
        ReportStartError(*window.StartError());
        return 1;
    }
    // The end of the desktop session, or a signal to end, closes the window as the menu does,
    // so the settings are saved.
    platform::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &platform::TerminationSignals::Received, &window,
                     &QWidget::close);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, &QWidget::close);

    if (window.StartsShown()) window.show();
    return QApplication::exec();
}

}  // namespace nodrel
