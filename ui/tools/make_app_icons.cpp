// Writes the application icon at every size the desktop's icon theme asks for, drawn by the
// same code as the notification-area images: <folder>/<N>x<N>/apps/<name>.png.
//   make_app_icons <folder> <name> <size>...

#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "program_icon.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <folder> <name> <size>...\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString path = apps + '/' + name + QStringLiteral(".png");
        if (size <= 0 || !QDir().mkpath(apps) || !nodrel::DrawTrayTile(1, size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
