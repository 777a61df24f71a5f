// What the Options dialog's track bars put into the window: the Graph view's bars as the window
// shows them, and the values the store keeps.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "fake_echo_platform.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

class OptionsLayoutTest : public testing::WindowTest {
protected:
    // Opens "Options...", lets `steps` work the open dialog, then presses OK.
    template <typename Steps>
    void ApplyOptions(TFloatingWindow& window, Steps steps) {
        QTimer::singleShot(0, &window, [steps] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            ASSERT_EQ(dialog->objectName(), "Form2");
            steps(*dialog);
            dialog->findChild<QPushButton*>("Button1")->click();
        });
        window.WindowMenu().findChild<QAction*>("N24")->trigger();
    }
};

constexpr QRgb kFrame = qRgb(0, 0, 0);
constexpr QRgb kBackground = qRgb(255, 255, 255);
constexpr QRgb kBar = qRgb(0, 0, 255);
constexpr QRgb kAboveBar = qRgb(192, 192, 192);

bool IsCell(QRgb pixel) {
    return pixel == kBar || pixel == kAboveBar;
}

// Spans [begin, end) of cells, neither background nor frame, along a line of `image`.
using Spans = std::vector<std::pair<int, int>>;
Spans SpansAcross(const QImage& image, int y) {
    Spans spans;
    for (int x = 1; x < image.width() - 1; ++x) {
        if (!IsCell(image.pixel(x, y))) continue;
        if (spans.empty() || spans.back().second != x) spans.push_back({x, x});
        spans.back().second = x + 1;
    }
    return spans;
}
Spans SpansDown(const QImage& image, int x) {
    Spans spans;
    for (int y = 1; y < image.height() - 1; ++y) {
        if (!IsCell(image.pixel(x, y))) continue;
        if (spans.empty() || spans.back().second != y) spans.push_back({y, y});
        spans.back().second = y + 1;
    }
    return spans;
}

// Where `shown` first differs from `expected`, as a user would point at it; empty when alike.
std::string FirstDifference(const QImage& shown, const QImage& expected) {
    if (shown.size() != expected.size()) {
        return "window " + std::to_string(shown.width()) + " x " + std::to_string(shown.height());
    }
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (shown.pixel(x, y) == expected.pixel(x, y)) continue;
            return "(" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                   QColor(shown.pixel(x, y)).name().toStdString() + ", not " +
                   QColor(expected.pixel(x, y)).name().toStdString();
        }
    }
    return {};
}

// Every cell size and space the dialog offers, set through its track bars, on the large grid:
// column j (from 0) of the 60 shows w pixels from x = 2 + j * (w + ws) of the window; its ten
// cells, h lines each, stand from y = 2 at the top, one every h + hs lines; a 1-pixel frame and a
// 1-pixel margin surround them (at the bottom as the space between rows makes it). The bar, as many
// cells as the column's successes from the bottom, is blue, the rest of the column silver, all else
// the background.
TEST_F(OptionsLayoutTest, GraphBarsStandWhereEveryCellSizeAndSpacePutsThem) {
    testing::StoreValues values = testing::CompleteStore();
    values["viewmode"] = 1u;
    values["modenum"] = 1u;
    ASSERT_TRUE(testing::WriteStore(values));
    // The worker outlives the window and goes on probing: its echo service must stay.
    auto& echo = *new testing::FakeEchoPlatform;
    TFloatingWindow window(echo);
    ASSERT_FALSE(window.StartError());
    window.show();
    // Bars of ten and a shorter one, then a pause long enough for the rest of the case.
    window.Settings().SetInterval(0);
    ASSERT_TRUE(ServeUntil([&] { return window.History().StoredOutcomes() >= 23; }));
    window.Settings().SetInterval(60000);

    struct Corner {
        int w, h, ws, hs;
        QSize size;
        // Touching cells make one span.
        Spans firstAndLastBar;    // across the bottom line of the bottom cells
        Spans topAndBottomCells;  // down the first column's first pixel column
    };
    const Corner corners[] = {
        {1, 1, 0, 0, {64, 14}, {{2, 62}, {2, 62}}, {{2, 12}, {2, 12}}},
        {5, 3, 1, 1, {363, 43}, {{2, 7}, {356, 361}}, {{2, 5}, {38, 41}}},
        {10, 10, 5, 5, {899, 149}, {{2, 12}, {887, 897}}, {{2, 12}, {137, 147}}},
        {10, 1, 0, 5, {604, 59}, {{2, 602}, {2, 602}}, {{2, 3}, {56, 57}}},
        {1, 10, 5, 0, {359, 104}, {{2, 3}, {356, 357}}, {{2, 102}, {2, 102}}},
    };
    int checked = 0;
    for (int w = 1; w <= 10; ++w) {
        for (int h = 1; h <= 10; ++h) {
            for (int ws = 0; ws <= 5; ++ws) {
                for (int hs = 0; hs <= 5; ++hs) {
                    ApplyOptions(window, [=](QDialog& dialog) {
                        for (const auto& [name, value] :
                             {std::pair{"xW", w}, {"xH", h}, {"xWS", ws}, {"xHs", hs}}) {
                            dialog.findChild<QSlider*>(name)->setValue(value);
                        }
                    });
                    const QImage shown =
                        window.grab().toImage().convertToFormat(QImage::Format_RGB32);
                    QImage expected(60 * (w + ws) - ws + 4, 10 * (h + hs) - hs + 4,
                                    QImage::Format_RGB32);
                    expected.fill(kFrame);
                    // The surface is 10 * (h + hs) + 1 lines high from y = 1: with no space
                    // between rows the frame shows a second line below it, with more than one
                    // the surface hides the frame's bottom line.
                    for (int y = 1; y < std::min(expected.height(), 10 * (h + hs) + 2); ++y) {
                        for (int x = 1; x < expected.width() - 1; ++x) {
                            expected.setPixel(x, y, kBackground);
                        }
                    }
                    for (int j = 0; j < 60; ++j) {
                        const int bar = window.History().SuccessCounts(j + 1);
                        for (int row = 1; row <= 10; ++row) {
                            const int top = 2 + (10 - row) * (h + hs);
                            for (int y = top; y < top + h; ++y) {
                                for (int x = 2 + j * (w + ws); x < 2 + j * (w + ws) + w; ++x) {
                                    expected.setPixel(x, y, row <= bar ? kBar : kAboveBar);
                                }
                            }
                        }
                    }
                    ASSERT_EQ(FirstDifference(shown, expected), "")
                        << w << " x " << h << ", spaces " << ws << " x " << hs;
                    for (const Corner& corner : corners) {
                        if (std::tie(corner.w, corner.h, corner.ws, corner.hs) !=
                            std::tie(w, h, ws, hs)) {
                            continue;
                        }
                        ++checked;
                        EXPECT_EQ(window.size(), corner.size);
                        const Spans across = SpansAcross(shown, shown.height() - 3);
                        EXPECT_EQ((Spans{across.front(), across.back()}), corner.firstAndLastBar)
                            << w << " x " << h << ", spaces " << ws << " x " << hs;
                        const Spans down = SpansDown(shown, 2);
                        EXPECT_EQ((Spans{down.front(), down.back()}), corner.topAndBottomCells)
                            << w << " x " << h << ", spaces " << ws << " x " << hs;
                        // The second column's bar is full: blue from its bottom to its top.
                        EXPECT_EQ(shown.pixel(2 + w + ws, shown.height() - 3), kBar);
                        EXPECT_EQ(shown.pixel(2 + w + ws, 2), kBar);
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 5);
}

// Each track bar's ends, reached with Home and End as a user would, are what the store keeps.
TEST_F(OptionsLayoutTest, TrackBarEndsReachTheStore) {
    ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
    TFloatingWindow window(*new testing::FakeEchoPlatform);
    window.show();
    for (const auto& [key, stored] :
         {std::pair{Qt::Key_End,
                    QStringList{"\"timeout\"=dword:0000ea60", "\"interval\"=dword:0000ea60",
                                "\"w\"=dword:0000000a", "\"h\"=dword:0000000a",
                                "\"ws\"=dword:00000005", "\"hs\"=dword:00000005"}},
          {Qt::Key_Home, QStringList{"\"timeout\"=dword:000003e8", "\"interval\"=dword:000003e8",
                                     "\"w\"=dword:00000001", "\"h\"=dword:00000001",
                                     "\"ws\"=dword:00000000", "\"hs\"=dword:00000000"}}}) {
        ApplyOptions(window, [key](QDialog& dialog) {
            for (const char* name : {"tb1", "tb2", "xW", "xWS", "xH", "xHs"}) {
                QTest::keyClick(dialog.findChild<QSlider*>(name), key);
            }
        });
        window.Save();
        const QString store = ReadStore();
        for (const QString& value : stored)
            EXPECT_TRUE(store.contains(value)) << value.toStdString();
    }
}

}  // namespace
}  // namespace nodrel
