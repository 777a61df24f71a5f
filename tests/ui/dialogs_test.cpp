// The options dialog and the About box, driven as a user drives them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <array>
#include <ostream>

#include "about_box.h"
#include "options_dialog.h"

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace nodrel {
namespace {

class DialogTest : public ::testing::Test {
    int argc_ = 1;
    char name_[16] = "ui_dialog_tests";
    char* argv_[2] = {name_, nullptr};

protected:
    QApplication application_{argc_, argv_};
};

// Runs `steps` once the dialog's modal loop runs; returns the dialog's result. The steps end by
// closing the dialog: one they leave open fails at once rather than waiting for a user.
template <typename Steps>
int ExecWith(QDialog& dialog, Steps steps) {
    QTimer::singleShot(0, &dialog, [&dialog, steps] {
        steps();
        if (dialog.isVisible()) {
            ADD_FAILURE() << "the steps left the dialog open";
            dialog.hide();
        }
    });
    return dialog.exec();
}

class OptionsDialogTest : public DialogTest {
protected:
    QString Text(const char* label) const { return dialog_.findChild<QLabel*>(label)->text(); }
    QSlider* Slider(const char* name) const { return dialog_.findChild<QSlider*>(name); }
    void Click(const char* button) { dialog_.findChild<QPushButton*>(button)->click(); }
    QLineEdit* Host() const { return dialog_.findChild<QLineEdit*>("eHost"); }

    TOptionsDialog dialog_;
};

TEST_F(OptionsDialogTest, FirstRunValuesFillEveryShowingWithFocusInHostBox) {
    for (int showing = 0; showing < 2; ++showing) {
        dialog_.Fill({"dns.google", 5000, 5000, 5, 3, 1, 1});
        QStringList seen;
        ExecWith(dialog_, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog_));
            EXPECT_EQ(QApplication::focusWidget(), Host()) << "showing " << showing;
            seen << Text("l1") << Text("l2") << Host()->text();
            for (const char* slider : {"xW", "xH", "xWS", "xHs"}) {
                seen << QString::number(Slider(slider)->value());
            }
            dialog_.findChild<QPushButton*>("Button2")->setFocus();
            Click("Button2");
        });
        EXPECT_EQ(seen, QStringList({"5 s.", "5 s.", "dns.google", "5", "3", "1", "1"}));
    }
}

TEST_F(OptionsDialogTest, SecondsRoundHalfToEvenAndClampAndOkStoresWhatIsShown) {
    for (const auto& [milliseconds, shown] :
         {std::pair{2500, "2 s."}, {3500, "4 s."}, {4000, "4 s."}, {90000, "60 s."}, {0, "1 s."}}) {
        dialog_.Fill({"h", milliseconds, milliseconds, 5, 3, 1, 1});
        EXPECT_EQ(Text("l1") + Text("l2"), QString(shown) + shown) << milliseconds;
    }
    dialog_.Fill({"10.0.0.1", 2500, 3500, 50, 0, 9, 2});
    EXPECT_EQ(ExecWith(dialog_, [&] { Click("Button1"); }), QDialog::Accepted);
    const TProbeOptions stored = dialog_.Values();
    EXPECT_EQ(stored.Host, "10.0.0.1");
    EXPECT_EQ(stored.Timeout, 2000);
    EXPECT_EQ(stored.Interval, 4000);
    EXPECT_EQ((std::array{stored.W, stored.H, stored.WS, stored.HS}),
              (std::array<uint16_t, 4>{10, 1, 5, 2}));
}

TEST_F(OptionsDialogTest, ArrowKeysJumpToTheEndsEscapeIsIgnoredEnterPressesOk) {
    dialog_.Fill({"h", 5000, 5000, 5, 3, 1, 1});
    const int result = ExecWith(dialog_, [&] {
        QTest::keyClick(Slider("tb2"), Qt::Key_Right);
        QTest::keyClick(Slider("tb1"), Qt::Key_Left);
        QTest::keyClick(Host(), Qt::Key_Escape);
        EXPECT_TRUE(dialog_.isVisible());
        QTest::keyClick(Host(), Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(Text("l1") + Text("l2"), "1 s.60 s.");
    EXPECT_EQ(dialog_.Values().Timeout, 1000);
    EXPECT_EQ(dialog_.Values().Interval, 60000);
}

// Each track bar as a user finds it: Home and End reach its ends, one arrow press from inside
// reaches an end too, Page Up and Page Down move nothing; OK hands on what the ends show.
TEST_F(OptionsDialogTest, EveryTrackBarsEndsAndSteps) {
    struct Bar {
        const char* name;
        int lowest, inside, highest;
    };
    const Bar bars[] = {{"tb1", 1, 30, 60}, {"tb2", 1, 30, 60}, {"xW", 1, 5, 10},
                        {"xWS", 0, 2, 5},   {"xH", 1, 5, 10},   {"xHs", 0, 2, 5}};
    const auto press = [&](const Bar& bar, Qt::Key key) {
        QSlider* slider = Slider(bar.name);
        slider->setValue(bar.inside);
        QTest::keyClick(slider, key);
        return slider->value();
    };
    // Timeout and pause in milliseconds, then width, space width, height, space height.
    const std::array lowestValues{1000, 1000, 1, 0, 1, 0};
    const std::array highestValues{60000, 60000, 10, 5, 10, 5};
    for (const auto& ends : {std::pair{Qt::Key_Home, Qt::Key_End}, {Qt::Key_Left, Qt::Key_Right}}) {
        dialog_.Fill({"h", 30000, 30000, 5, 5, 2, 2});
        QStringList shown;
        const int result = ExecWith(dialog_, [&] {
            for (const Bar& bar : bars) {
                EXPECT_EQ(press(bar, Qt::Key_PageUp), bar.inside) << bar.name;
                EXPECT_EQ(press(bar, Qt::Key_PageDown), bar.inside) << bar.name;
                EXPECT_EQ(press(bar, ends.first), bar.lowest) << bar.name;
            }
            shown << Text("l1") << Text("l2");
            Click("Button1");
        });
        ASSERT_EQ(result, QDialog::Accepted);
        const TProbeOptions lowest = dialog_.Values();
        EXPECT_EQ((std::array<int, 6>{lowest.Timeout, lowest.Interval, lowest.W, lowest.WS,
                                      lowest.H, lowest.HS}),
                  lowestValues);

        ExecWith(dialog_, [&] {
            for (const Bar& bar : bars) EXPECT_EQ(press(bar, ends.second), bar.highest) << bar.name;
            shown << Text("l1") << Text("l2");
            Click("Button1");
        });
        const TProbeOptions highest = dialog_.Values();
        EXPECT_EQ((std::array<int, 6>{highest.Timeout, highest.Interval, highest.W, highest.WS,
                                      highest.H, highest.HS}),
                  highestValues);
        EXPECT_EQ(shown, QStringList({"1 s.", "1 s.", "60 s.", "60 s."}));
    }
}

TEST_F(OptionsDialogTest, EmptyHostIsRefusedWithAnErrorBlanksAreAcceptedAsTyped) {
    QStringList messages;  // every message box is answered with OK and noted
    QTimer answerer;
    answerer.callOnTimeout([&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            EXPECT_EQ(box->parentWidget(), &dialog_);
            messages << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answerer.start(10);

    dialog_.Fill({"", 7000, 8000, 5, 3, 1, 1});
    const int refused = ExecWith(dialog_, [&] {
        Click("Button1");
        EXPECT_TRUE(dialog_.isVisible());
        EXPECT_EQ(Text("l1"), "7 s.");
        Click("Button2");
    });
    EXPECT_EQ(refused, QDialog::Rejected);
    EXPECT_EQ(messages, QStringList{"Please enter a valid host!"});
    // The title-bar close button cancels too, silently.
    EXPECT_EQ(ExecWith(dialog_, [&] { dialog_.close(); }), QDialog::Rejected);

    const int accepted = ExecWith(dialog_, [&] {
        QTest::keyClicks(Host(), "   ");
        Click("Button1");
    });
    EXPECT_EQ(accepted, QDialog::Accepted);
    EXPECT_EQ(dialog_.Values().Host, "   ");
    EXPECT_EQ(messages.size(), 1);
}

class AboutBoxTest : public DialogTest {};

QIcon SolidIcon(Qt::GlobalColor colour) {
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
        EXPECT_EQ(shown.pixelColor(16, 16), QColor(255, 0, 0)) << "showing " << showing;
    }
}

TEST_F(AboutBoxTest, LinksGoToTheOpenerAndAFailureLeavesTheBoxOpen) {
    QStringList opened;
    TAboutBox box([&](const QUrl& url) {
        opened << QString::fromLatin1(url.toEncoded());
        return false;
    });
    const int result = ExecWith(box, [&] {
        QTest::mouseClick(box.findChild<QLabel*>("Image2"), Qt::LeftButton);
        QTest::mouseClick(box.findChild<QLabel*>("Label4"), Qt::LeftButton);
        QTest::mouseClick(box.findChild<QLabel*>("Label4"), Qt::RightButton);
        EXPECT_TRUE(box.isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), &box);
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(opened, QStringList({"https://kavren.example/",
                                   "mailto:nodrel@kavren.example?subject=KAVREN%20Nodrel"}));
}

// No label of either dialog clips its text with the common Linux sans-serif fonts.
class DialogTextTest : public DialogTest, public ::testing::WithParamInterface<const char*> {};

void ExpectNoLabelClips(const QDialog& dialog, const QString& family) {
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        const std::string name = (dialog.objectName() + "/" + label->objectName()).toStdString();
        const QFontMetrics metrics = label->fontMetrics();
        EXPECT_EQ(QFontInfo(label->font()).family(), family) << name;
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << name;
        EXPECT_LE(metrics.height(), label->height()) << name;
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry())) << name;
    }
}

TEST_P(DialogTextTest, EveryLabelHoldsItsText) {
    const QString family = GetParam();
    if (QFontInfo(QFont(family)).family() != family) {
        GTEST_SKIP() << GetParam() << " is not installed";
    }
    QApplication::setFont(QFont(family));

    TOptionsDialog options;
    options.Fill({"h", 60000, 60000, 10, 10, 5, 5});
    ExpectNoLabelClips(options, family);
    // A track bar's name keeps its right edge against the bar; values start right of it.
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
