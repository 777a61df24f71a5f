#include "program.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSessionManager>
#include <QTextDocument>
#include <QtMath>

#include "floating_window.h"
#include "termination_signals.h"
#include "tray_images.h"

namespace nodrel {

namespace {

const QString kApplicationTitle = QStringLiteral("KAVREN Nodrel");
const QString kNoPingHandle = QStringLiteral("Unable to get ping handle");
// Names the installed launcher and icon, so docks and task switchers match the window to them.
const QString kApplicationId = QStringLiteral("example.kavren.Nodrel");

void ReportStartError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, ErrorBoxText(message),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("StartError"));
    if (message == kNoPingHandle) {
        // Each command on a line of its own, unbroken, to be copied whole.
        box.setInformativeText(
            QStringLiteral("Allow ICMP for users:"
                           "<pre>sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"</pre>"
                           "or let the program open raw sockets:"
                           "<pre>sudo setcap cap_net_raw+ep %1</pre>")
                .arg(QCoreApplication::applicationFilePath().toHtmlEscaped()));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        // The box narrows its texts to wrap them; a command must not be cut instead.
        if (auto* advice = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            QTextDocument laidOut;
            laidOut.setDefaultFont(advice->font());
            laidOut.setHtml(advice->text());
            advice->setMinimumWidth(qCeil(laidOut.idealWidth()));
        }
    }
    box.exec();
}

}  // namespace

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

int RunProgram(platform::EchoPlatform& echoPlatform) {
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
    // so the settings are saved. A session manager asks for the data also for a session save
    // that ends nothing: then the settings are saved and the program runs on.
    platform::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &platform::TerminationSignals::Received, &window,
                     &QWidget::close);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, &QWidget::close);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window] { SaveSettings(window); });

    if (window.StartsShown()) window.show();
    return QApplication::exec();
}

}  // namespace nodrel
