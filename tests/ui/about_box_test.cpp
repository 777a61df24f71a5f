#include "about_box.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "dialog_test_support.h"

namespace nodrel {
namespace {

using test::ExecWith;

class AboutBoxTest : public test::DialogTest {};

QIcon SolidIcon(const QColor& colour) {
    QPixmap pixmap(32, 32);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

TEST_F(AboutBoxTest, IconIsCopiedOnceWhenTheBoxIsCreated) {
    QApplication::setWindowIcon(SolidIcon(Qt::red));
    TAboutBox box([](const QUrl&) { return true; });
    QApplication::setWindowIcon(SolidIcon(Qt::green));
    for (int showing = 0; showing < 2; ++showing) {
        ExecWith(box, [&] { box.findChild<QPushButton*>("OKButton")->click(); });
        const QImage shown = box.findChild<QLabel*>("ProgramIcon")->pixmap().toImage();
        EXPECT_EQ(shown.pixelColor(16, 16), QColor(Qt::red)) << "showing " << showing;
    }
}

TEST_F(AboutBoxTest, LinksGoToTheOpenerAndAFailureLeavesTheBoxOpen) {
    QList<QUrl> opened;
    TAboutBox box([&](const QUrl& url) {
        opened << url;
        return false;
    });
    bool openAfterLinks = false;
    QWidget* modalAfterLinks = nullptr;
    const int result = ExecWith(box, [&] {
        QTest::mouseClick(box.findChild<QLabel*>("Image2"), Qt::LeftButton);
        QTest::mouseClick(box.findChild<QLabel*>("Label4"), Qt::LeftButton);
        QTest::mouseClick(box.findChild<QLabel*>("Label4"), Qt::RightButton);
        openAfterLinks = box.isVisible();
        modalAfterLinks = QApplication::activeModalWidget();
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_TRUE(openAfterLinks);
    EXPECT_EQ(modalAfterLinks, &box);
    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toEncoded(), "https://kavren.example/");
    EXPECT_EQ(opened[1].toEncoded(), "mailto:nodrel@kavren.example?subject=KAVREN%20Nodrel");
}

}  // namespace
}  // namespace nodrel
