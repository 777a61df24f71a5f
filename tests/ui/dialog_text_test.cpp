// No label of either dialog clips its text with the common Linux sans-serif fonts.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>

#include "about_box.h"
#include "dialog_test_support.h"
#include "options_dialog.h"

namespace nodrel {
namespace {

class DialogTextTest : public test::DialogTest,
                       public ::testing::WithParamInterface<const char*> {};

void ExpectNoLabelClips(const QDialog& dialog, const QString& family) {
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        const QString name = dialog.objectName() + "/" + label->objectName();
        const QFontMetrics metrics = label->fontMetrics();
        EXPECT_EQ(QFontInfo(label->font()).family(), family) << name.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << name.toStdString();
        EXPECT_LE(metrics.height(), label->height()) << name.toStdString();
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()))
            << name.toStdString();
    }
}

TEST_P(DialogTextTest, EveryLabelHoldsItsText) {
    const QString family = GetParam();
    if (QFontInfo(QFont(family)).family() != family) {
        GTEST_SKIP() << family.toStdString() << " is not installed";
    }
    QApplication::setFont(QFont(family));

    TOptionsDialog options;
    options.Fill({"h", 60000, 60000, 10, 10, 5, 5});
    ExpectNoLabelClips(options, family);
    // Names stay against the track bars they name.
    const QRect timeoutName = options.findChild<QLabel*>("Label1")->geometry();
    EXPECT_EQ(timeoutName.x() + timeoutName.width(), 75);
    EXPECT_EQ(options.findChild<QLabel*>("l1")->x(), 285);

    TAboutBox about([](const QUrl&) { return true; });
    ExpectNoLabelClips(about, family);
    EXPECT_EQ(about.findChild<QLabel*>("Version")->text(), "Version 1.4  (05 Oct 2010)");
    EXPECT_EQ(about.findChild<QLabel*>("ProductName")->font().pixelSize(), 16);
    EXPECT_EQ(about.findChild<QLabel*>("Label3")->font().pixelSize(), 11);
}

INSTANTIATE_TEST_SUITE_P(CommonFonts, DialogTextTest,
                         ::testing::Values("DejaVu Sans", "Noto Sans", "Liberation Sans"),
                         [](const auto& font) {
                             return QString(font.param).remove(' ').toStdString();
                         });

}  // namespace
}  // namespace nodrel
