#pragma once

// What the dialog tests share: an application object and a way to act inside a modal loop.

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>

namespace nodrel::test {

class DialogTest : public ::testing::Test {
private:
    int argc_ = 1;
    char name_[16] = "ui_dialog_tests";
    char* argv_[2] = {name_, nullptr};

protected:
    QApplication application_{argc_, argv_};
};

// Runs `steps` once the dialog's modal loop runs; returns the dialog's result.
inline int ExecWith(QDialog& dialog, std::function<void()> steps) {
    QTimer::singleShot(0, &dialog, std::move(steps));
    return dialog.exec();
}

}  // namespace nodrel::test
