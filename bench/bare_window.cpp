// The yardstick for the whole-program measurements: the least Qt 6 program of the same kind as
// KAVREN Nodrel, a frameless 75 x 43 window above all others, without a taskbar button, that
// paints once. Prints "painted" at its first paint.

#include <QApplication>
#include <QPainter>
#include <QWidget>
#include <cstdio>

namespace {

class BareWindow : public QWidget {
public:
    BareWindow() : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
        setWindowTitle(QStringLiteral("Bare window"));
        setGeometry(20, 20, 75, 43);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(0xC0, 0xC0, 0xC0));
        if (!painted_) {
            painted_ = true;
            std::puts("painted");
            std::fflush(stdout);
        }
    }

private:
    bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    BareWindow window;
    window.show();
    return QApplication::exec();
}
