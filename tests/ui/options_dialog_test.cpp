#include "options_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "dialog_test_support.h"

namespace nodrel {
namespace {

using test::ExecWith;

struct ShownMessage {
    QString text;
    QMessageBox::Icon icon;
    QWidget* parent;
};

// Answers with OK every message box that opens while it lives, keeping what each showed.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        timer_.callOnTimeout([this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown.push_back({box->text(), box->icon(), box->parentWidget()});
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer_.start(10);
    }
    std::vector<ShownMessage> shown;

private:
    QTimer timer_;
};

class OptionsDialogTest : public test::DialogTest {
protected:
    QString Text(const char* label) const { return dialog_.findChild<QLabel*>(label)->text(); }
    QSlider* Slider(const char* name) const { return dialog_.findChild<QSlider*>(name); }
    QPushButton* Button(const char* name) const { return dialog_.findChild<QPushButton*>(name); }
    QLineEdit* Host() const { return dialog_.findChild<QLineEdit*>("eHost"); }

    TOptionsDialog dialog_;
};

TEST_F(OptionsDialogTest, FirstRunValuesFillEveryShowingWithFocusInHostBox) {
    for (int showing = 0; showing < 2; ++showing) {
        dialog_.Fill({"dns.google", 5000, 5000, 5, 3, 1, 1});
        QStringList seen;
        QObject* focused = nullptr;
        ExecWith(dialog_, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog_));
            focused = QApplication::focusWidget();
            seen << Text("l1") << Text("l2") << Host()->text();
            for (const char* slider : {"xW", "xH", "xWS", "xHs"}) {
                seen << QString::number(Slider(slider)->value());
            }
            Button("Button2")->setFocus();
            Button("Button2")->click();
        });
        EXPECT_EQ(seen, QStringList({"5 s.", "5 s.", "dns.google", "5", "3", "1", "1"}));
        EXPECT_EQ(focused, Host()) << "showing " << showing;
    }
}

TEST_F(OptionsDialogTest, SecondsRoundHalfToEvenAndClampAndOkStoresWhatIsShown) {
    const std::pair<int32_t, const char*> cases[] = {
        {2500, "2 s."}, {3500, "4 s."}, {4000, "4 s."}, {90000, "60 s."}, {0, "1 s."}};
    for (const auto& [milliseconds, shown] : cases) {
        dialog_.Fill({"h", milliseconds, milliseconds, 5, 3, 1, 1});
        EXPECT_EQ(Text("l1"), shown) << milliseconds;
        EXPECT_EQ(Text("l2"), shown) << milliseconds;
    }

    dialog_.Fill({"10.0.0.1", 2500, 3500, 50, 0, 9, 2});
    EXPECT_EQ(ExecWith(dialog_, [&] { Button("Button1")->click(); }), QDialog::Accepted);
    const TProbeOptions stored = dialog_.Values();
    EXPECT_EQ(stored.Host, "10.0.0.1");
    EXPECT_EQ(stored.Timeout, 2000);
    EXPECT_EQ(stored.Interval, 4000);
    EXPECT_EQ((std::array{stored.W, stored.H, stored.WS, stored.HS}),
              (std::array<uint16_t, 4>{10, 1, 5, 2}));
}

TEST_F(OptionsDialogTest, ArrowKeysJumpToTheEndsEscapeIsIgnoredEnterPressesOk) {
    dialog_.Fill({"h", 5000, 5000, 5, 3, 1, 1});
    bool openAfterEscape = false;
    const int result = ExecWith(dialog_, [&] {
        QTest::keyClick(Slider("tb2"), Qt::Key_Right);
        QTest::keyClick(Slider("tb1"), Qt::Key_Left);
        QTest::keyClick(Host(), Qt::Key_Escape);
        openAfterEscape = dialog_.isVisible();
        QTest::keyClick(Host(), Qt::Key_Return);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(Text("l2"), "60 s.");
    EXPECT_EQ(Text("l1"), "1 s.");
    EXPECT_EQ(dialog_.Values().Interval, 60000);
    EXPECT_EQ(dialog_.Values().Timeout, 1000);
}

TEST_F(OptionsDialogTest, EmptyHostRefusesOkWithErrorAndCancelClosesSilently) {
    MessageBoxAnswerer answerer;
    dialog_.Fill({"", 7000, 8000, 5, 3, 1, 1});
    bool openAfterOk = false;
    const int result = ExecWith(dialog_, [&] {
        Button("Button1")->click();
        openAfterOk = dialog_.isVisible();
        Button("Button2")->click();
    });
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_EQ(answerer.shown.size(), 1u);
    EXPECT_EQ(answerer.shown[0].text, "Please enter a valid host!");
    EXPECT_EQ(answerer.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.shown[0].parent, &dialog_);
    EXPECT_EQ(Text("l1"), "7 s.");

    // The title-bar close button cancels too, without a message.
    EXPECT_EQ(ExecWith(dialog_, [&] { dialog_.close(); }), QDialog::Rejected);
    EXPECT_EQ(answerer.shown.size(), 1u);
}

TEST_F(OptionsDialogTest, HostOfBlanksIsAcceptedAsTyped) {
    dialog_.Fill({"x", 5000, 5000, 5, 3, 1, 1});
    const int result = ExecWith(dialog_, [&] {
        Host()->clear();
        QTest::keyClicks(Host(), "   ");
        Button("Button1")->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog_.Values().Host, "   ");
}

}  // namespace
}  // namespace nodrel
