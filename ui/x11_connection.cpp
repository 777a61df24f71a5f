#include "x11_connection.h"

#include <QtGui/qguiapplication_platform.h>

#include <QGuiApplication>

namespace nodrel {

xcb_connection_t* X11Connection() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

}  // namespace nodrel
