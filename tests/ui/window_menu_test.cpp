#include <gtest/gtest.h>

#include <QColorDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "support/paint_counter.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

class WindowMenuTest : public testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
        window_ = std::make_unique<TFloatingWindow>();
        window_->show();
    }

    QAction* Item(const char* name) { return window_->WindowMenu().findChild<QAction*>(name); }

    // Answers the colour dialog once it is open: with `colour`, or a cancel when it is invalid.
    // Notes the colour it opened at.
    void AnswerColourDialog(QColor colour) {
        QTimer::singleShot(0, window_.get(), [this, colour] {
            auto* dialog = window_->findChild<QColorDialog*>("CD");
            ASSERT_TRUE(dialog->isVisible());
            openedAt_ = dialog->currentColor();
            if (!colour.isValid()) return dialog->reject();
            dialog->setCurrentColor(colour);
            dialog->accept();
        });
    }

    QRgb SurfacePixel(int x, int y) {
        return window_->findChild<TDrawingSurface*>("Image1")->Picture().pixel(x, y);
    }

    std::unique_ptr<TFloatingWindow> window_;
    QColor openedAt_;
};

// The menu as it shows, one line per item: its caption or "-" for a separator, its mark ("[x]"
// or "[ ]", "(o)" or "( )" for one of a group), "bold" and "off" (disabled); a submenu's items
// follow it, indented.
QStringList Shown(const QMenu& menu) {
    QStringList lines;
    for (const QAction* item : menu.actions()) {
        QString line = item->isSeparator() ? QStringLiteral("-") : item->text();
        if (item->isCheckable()) {
            const bool group = item->actionGroup() != nullptr;
            line += item->isChecked() ? (group ? " (o)" : " [x]") : (group ? " ( )" : " [ ]");
        }
        if (item->font().bold()) line += " bold";
        if (!item->isEnabled()) line += " off";
        lines << line;
        if (item->menu()) {
            for (const QString& sub : Shown(*item->menu())) lines << "  " + sub;
        }
    }
    return lines;
}

// Opened, the menus show every item in its place with the stored marks; with no notification
// area, the window cannot be hidden in it.
TEST_F(WindowMenuTest, TheMenusShowEveryItemWithTheStoredMarks) {
    QMenu& menu = window_->WindowMenu();
    menu.popup(window_->pos());
    ASSERT_TRUE(ServeUntil([&] { return menu.isVisible(); }));
    const QStringList expected = {
        "About KAVREN Nodrel...",
        "-",
        "Sounds [ ]",
        "Notifications [x]",
        "Start at login [ ]",
        "Blink mode",
        "  Off (o)",
        "  Simple order ( )",
        "  Chess order ( )",
        "Colors",
        "  Border",
        "  Background",
        "  -",
        "  Unknown / Graph Mode ",
        "  Succesefull Ping",
        "  Failed Ping",
        "  Failed Ping (Blink Mode)",
        "Transparent [ ]",
        "-",
        "Switch size bold",
        "-",
        "View Mode: Graph ( )",
        "View Mode: History (o)",
        "-",
        "Journal...",
        "Options...",
        "Minimize to SystemTray off",
        "-",
        "Close KAVREN Nodrel",
    };
    EXPECT_EQ(Shown(menu), expected);
    menu.close();
    EXPECT_EQ(Shown(window_->TrayMenu()),
              QStringList({"Show Floating Window bold", "Journal...", "Close KAVREN Nodrel"}));
}

TEST_F(WindowMenuTest, RadioItemsExcludeOnlyTheirOwnGroup) {
    Item("N22")->trigger();
    Item("N5")->trigger();
    EXPECT_TRUE(Item("N7")->isChecked());
    EXPECT_TRUE(Item("N9")->isChecked());

    Item("N6")->trigger();
    Item("N11")->trigger();
    Item("N11")->trigger();  // choosing the marked item again keeps it marked
    EXPECT_EQ(window_->Settings().Mode(ModeByte::View), 1);
    EXPECT_EQ(window_->Settings().Mode(ModeByte::Blink), 3);
    EXPECT_TRUE(Item("N6")->isChecked());
    EXPECT_FALSE(Item("N7")->isChecked());
    EXPECT_TRUE(Item("N11")->isChecked());
    EXPECT_FALSE(Item("N9")->isChecked() || Item("N10")->isChecked());
    EXPECT_TRUE(Item("N22")->isChecked() && Item("N5")->isChecked());
    EXPECT_DOUBLE_EQ(window_->windowOpacity(), 148.0 / 255.0);

    Item("N7")->trigger();
    Item("N5")->trigger();
    EXPECT_TRUE(Item("N7")->isChecked() && !Item("N6")->isChecked());
    EXPECT_EQ(window_->windowOpacity(), 1.0);
}

TEST_F(WindowMenuTest, ColourCommandsStoreRedBlueGreenAndRedraw) {
    // The background shows in the surface's left margin.
    EXPECT_EQ(SurfacePixel(0, 5), qRgb(255, 255, 255));
    AnswerColourDialog(QColor(0x12, 0x34, 0x56));
    Item("N15")->trigger();
    EXPECT_EQ(window_->Settings().Colour(ColourSlot::Background), 0x00563412u);
    EXPECT_EQ(SurfacePixel(0, 5), qRgb(0x12, 0x34, 0x56));

    AnswerColourDialog(QColor());
    Item("N18")->trigger();
    EXPECT_EQ(openedAt_, QColor(0, 0, 255));  // the stored blue
    EXPECT_EQ(window_->Settings().Colour(ColourSlot::Success), 0x00FF0000u);

    // The frame takes its colour at once and no picture is composed for it.
    const qint64 picture = window_->findChild<TDrawingSurface*>("Image1")->Picture().cacheKey();
    testing::PaintCounter framePaints;
    window_->findChild<QWidget*>("Panel2")->installEventFilter(&framePaints);
    AnswerColourDialog(QColor(0, 128, 0));
    Item("N14")->trigger();
    EXPECT_EQ(window_->Settings().FrameColour(), 0x00008000u);
    EXPECT_EQ(window_->findChild<TDrawingSurface*>("Image1")->Picture().cacheKey(), picture);
    EXPECT_TRUE(ServeUntil([&] { return framePaints.paints > 0; }));
    EXPECT_EQ(window_->grab().toImage().pixel(0, 0), qRgb(0, 128, 0));
}

// Both the drawing surface and the frame's 1-pixel edge around it take the mouse.
TEST_F(WindowMenuTest, TheLeftButtonDragsAndADoubleClickSwitchesTheSize) {
    for (const auto& [name, press] :
         {std::pair{"Image1", QPoint(12, 4)}, {"Panel2", QPoint(0, 9)}}) {
        SCOPED_TRACE(name);
        auto* control = window_->findChild<QWidget*>(name);
        const QPoint start = window_->pos();
        const auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
            const QPoint global = control->mapToGlobal(local);
            QMouseEvent event(type, local, global,
                              buttons & Qt::LeftButton ? Qt::LeftButton : Qt::RightButton, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(control, &event);
        };
        send(QEvent::MouseButtonPress, press, Qt::RightButton);
        send(QEvent::MouseMove, {40, 30}, Qt::RightButton);
        EXPECT_EQ(window_->pos(), start);

        // The press point stays under the mouse.
        send(QEvent::MouseButtonPress, press, Qt::LeftButton);
        send(QEvent::MouseMove, press + QPoint(30, 20), Qt::LeftButton);
        EXPECT_EQ(window_->pos(), start + QPoint(30, 20));
        // The window has moved under the mouse since.
        send(QEvent::MouseMove, press + QPoint(-5, 2), Qt::LeftButton);
        EXPECT_EQ(window_->pos(), start + QPoint(25, 22));

        send(QEvent::MouseButtonDblClick, press, Qt::LeftButton);
        EXPECT_EQ(window_->size(), QSize(363, 43));
        send(QEvent::MouseButtonDblClick, press, Qt::LeftButton);
        EXPECT_EQ(window_->size(), QSize(75, 43));
    }
}

TEST_F(WindowMenuTest, OptionsAppliedOnOkRebuildTheWindowAndBothDialogsAreMadeOnce) {
    struct Entry {
        const char* host;
        int cells;  // width, height and the pause in seconds
        const char* button;
        const char* title;
        QSize size;
    };
    // Each OK shows its cells at once; Cancel leaves what the OK before it set.
    for (const auto& [host, cells, button, title, size] :
         {Entry{"127.0.0.2", 10, "Button1", "KAVREN Nodrel - 127.0.0.2", {135, 113}},
          Entry{"127.0.0.3", 7, "Button1", "KAVREN Nodrel - 127.0.0.3", {99, 83}},
          Entry{"127.0.0.9", 1, "Button2", "KAVREN Nodrel - 127.0.0.3", {99, 83}}}) {
        QTimer::singleShot(0, window_.get(), [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_EQ(dialog->objectName(), "Form2");
            dialog->findChild<QLineEdit*>("eHost")->setText(host);
            for (const char* slider : {"xW", "xH", "tb2"}) {
                dialog->findChild<QSlider*>(slider)->setValue(cells);
            }
            dialog->findChild<QPushButton*>(button)->click();
        });
        Item("N24")->trigger();
        EXPECT_EQ(window_->windowTitle(), title) << host;
        EXPECT_EQ(window_->size(), size) << host;
    }
    EXPECT_EQ(window_->Settings().Interval(), 7000);
    EXPECT_EQ(window_->Settings().Timeout(), 5000);

    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, window_.get(), [] { QApplication::activeModalWidget()->close(); });
        Item("N27")->trigger();
    }
    int aboutBoxes = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        aboutBoxes += widget->objectName() == "AboutBox";
    }
    EXPECT_EQ(aboutBoxes, 1);
}

}  // namespace
}  // namespace nodrel
