#include "history_renderer.h"

#include <gtest/gtest.h>

#include <string>

namespace nodrel {
namespace {

constexpr uint32_t kSuccessColour = 0x00FF0000;
constexpr uint32_t kEmptyColour = 0x00C0C0C0;
constexpr uint32_t kFailureColour = 0x000000FF;
constexpr uint32_t kBlinkColour = 0x000080FF;
constexpr uint32_t kBackground = 0x00204060;

// Draws the large grid with distinct colours, laid out as the window lays it out.
class Renderer : public ::testing::Test {
protected:
    Renderer() {
        settings.modenum = 1;
        settings.col5 = kBackground;
    }

    int PanelHeight() const { return 10 * (settings.h + settings.hs) - settings.hs + 4; }
    int SurfaceHeight() const { return 10 * (settings.h + settings.hs) + 1; }

    void Compose() {
        const QSize panel(static_cast<int>(PictureWidth(settings)), PanelHeight());
        picture = ComposeHistory(history, settings, panel, SurfaceHeight(), colourRegister);
        ASSERT_FALSE(picture.isNull());
    }

    void Add(const std::string& outcomes) {
        for (const char outcome : outcomes) history.AddResult(outcome == 'S', false);
    }

    // The colour of a cell, checked to be uniform over the whole cell.
    QRgb Cell(int index) const {
        const TCellRect rect = CellRect(index, settings, SurfaceHeight());
        const QRgb first = picture.pixel(rect.Left, rect.Top);
        for (int y = rect.Top; y < rect.Bottom; ++y) {
            for (int x = rect.Left; x < rect.Right; ++x) {
                if (picture.pixel(x, y) != first) return 0;  // never an opaque colour
            }
        }
        return first;
    }

    TResultHistory history;
    TRenderSettings settings;
    TColourRegister colourRegister;
    QImage picture;
};

TEST_F(Renderer, EmptyHistoryIsAllUnknownInBothViews) {
    for (const uint8_t view : {1, 2}) {
        settings.viewmode = view;
        Compose();
        EXPECT_EQ(picture.width(), 60 * (5 + 1) + 4 - 1);
        EXPECT_EQ(picture.height(), PanelHeight());
        for (int i = 1; i <= 600; ++i) ASSERT_EQ(Cell(i), ToRgb(kEmptyColour)) << i;
        EXPECT_EQ(colourRegister.Colour, kEmptyColour);
    }
}

TEST_F(Renderer, OneSuccessFillsTheBottomLeftCell) {
    Add("S");
    settings.viewmode = 2;
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(kSuccessColour));
    for (int i = 2; i <= 600; ++i) ASSERT_EQ(Cell(i), ToRgb(kEmptyColour)) << i;

    settings.viewmode = 1;
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(kSuccessColour));
    EXPECT_EQ(Cell(2), ToRgb(kEmptyColour));
    EXPECT_EQ(Cell(11), ToRgb(kEmptyColour));
}

TEST_F(Renderer, HistoryViewPutsTheNewestOutcomeFirst) {
    Add("FFFFFFFFFFFS");  // eleven failures, then a success: the shift sits between them
    settings.viewmode = 2;
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(kSuccessColour));
    for (int i = 2; i <= 12; ++i) ASSERT_EQ(Cell(i), ToRgb(kFailureColour)) << i;
    EXPECT_EQ(Cell(13), ToRgb(kEmptyColour));
}

TEST_F(Renderer, GraphTurnsToFailureColoursAtTheThirdFailure) {
    settings.viewmode = 1;
    Add("SSSSSSSSSSSSSFF");  // a full column of ten, then 3 successes and 2 failures
    Compose();
    EXPECT_EQ(Cell(3), ToRgb(kSuccessColour));  // the current column's bar, 3 high
    EXPECT_EQ(Cell(4), ToRgb(kEmptyColour));
    EXPECT_EQ(Cell(20), ToRgb(kSuccessColour));  // the full column's bar, 10 high
    Add("F");
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(kFailureColour));
    EXPECT_EQ(Cell(3), ToRgb(kFailureColour));
    EXPECT_EQ(Cell(4), ToRgb(kEmptyColour));
    EXPECT_EQ(Cell(20), ToRgb(kFailureColour));
    EXPECT_EQ(Cell(21), ToRgb(kEmptyColour));
}

TEST_F(Renderer, GraphBlinksWithEachFurtherFailure) {
    settings.viewmode = 1;
    settings.blinkmode = 2;
    Add("SFFF");
    Compose();
    const QRgb before = Cell(1);
    Add("F");
    Compose();
    EXPECT_NE(Cell(1), before);
    EXPECT_TRUE(Cell(1) == ToRgb(kFailureColour) || Cell(1) == ToRgb(kBlinkColour));
    // A redraw without a new outcome keeps the phase.
    const QRgb now = Cell(1);
    Compose();
    EXPECT_EQ(Cell(1), now);
}

TEST_F(Renderer, SimpleOrderFlipsEveryFailureCellWithEveryOutcome) {
    settings.viewmode = 2;
    settings.blinkmode = 2;
    Add("FSF");  // failures in cells 1 and 3
    Compose();
    EXPECT_EQ(Cell(1), Cell(3));
    QRgb previous = Cell(1);
    for (const std::string next : {"S", "S", "F", "S"}) {
        Add(next);
        Compose();
        const int oldestFailure = static_cast<int>(history.HistoryColumns(1).Length);
        EXPECT_NE(Cell(oldestFailure), previous) << "after " << next;
        EXPECT_EQ(Cell(oldestFailure), Cell(oldestFailure - 2));
        previous = Cell(oldestFailure);
    }
}

TEST_F(Renderer, ChessOrderGivesNeighbouringFailuresOppositePhases) {
    settings.viewmode = 2;
    settings.blinkmode = 3;
    Add(std::string(35, 'F'));
    // Failures fill cells `first` to `first` + 34.
    const auto expectChessboard = [this](int first) {
        for (int i = first; i <= first + 34; ++i) {
            const QRgb cell = Cell(i);
            ASSERT_TRUE(cell == ToRgb(kFailureColour) || cell == ToRgb(kBlinkColour)) << i;
            if (i % 10 != 0 && i + 1 <= first + 34) {
                EXPECT_NE(cell, Cell(i + 1)) << i;  // above
            }
            if (i + 10 <= first + 34) {
                EXPECT_NE(cell, Cell(i + 10)) << i;  // to the right
            }
        }
    };
    Compose();
    expectChessboard(1);
    const QRgb first = Cell(1);
    Add("S");  // every failure moves on a cell and the phase flips: cell 2 shows cell 1's colour
    Compose();
    expectChessboard(2);
    EXPECT_EQ(Cell(2), first);
}

TEST_F(Renderer, SmallSizeDrawsTwelveColumnsOnTheFullWidth) {
    settings.modenum = 2;
    Compose();
    EXPECT_EQ(picture.width(), 60 * (5 + 1) + 4 - 1);
    EXPECT_EQ(Cell(120), ToRgb(kEmptyColour));
    EXPECT_EQ(Cell(121), ToRgb(kBackground));
    EXPECT_EQ(Cell(600), ToRgb(kBackground));
}

TEST_F(Renderer, CellsWithoutARuleRepeatThePreviousColour) {
    settings.viewmode = 2;
    settings.blinkmode = 0;
    colourRegister.Colour = 0x00123456;  // left by a previous drawing
    Add("SF");                           // the failure is the newest: cell 1
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(0x00123456));
    EXPECT_EQ(Cell(2), ToRgb(kSuccessColour));

    Add("S");  // now the failure is in cell 2, after a success
    Compose();
    EXPECT_EQ(Cell(2), ToRgb(kSuccessColour));
    EXPECT_EQ(Cell(3), ToRgb(kSuccessColour));
    EXPECT_EQ(colourRegister.Colour, kEmptyColour);

    settings.viewmode = 0;  // no view: every cell keeps the register's colour
    colourRegister.Colour = 0x00654321;
    Compose();
    EXPECT_EQ(Cell(1), ToRgb(0x00654321));
    EXPECT_EQ(Cell(600), ToRgb(0x00654321));
}

TEST_F(Renderer, ZeroSpacesMakeCellsTouch) {
    settings.viewmode = 2;
    Add("S");
    settings.ws = 0;
    settings.hs = 0;
    Compose();
    const TCellRect first = CellRect(1, settings, SurfaceHeight());
    EXPECT_EQ(picture.pixel(first.Right, first.Top), ToRgb(kEmptyColour));     // cell 11
    EXPECT_EQ(picture.pixel(first.Left, first.Top - 1), ToRgb(kEmptyColour));  // cell 2
    EXPECT_EQ(picture.pixel(first.Right - 1, first.Bottom - 1), ToRgb(kSuccessColour));

    settings.ws = 1;
    settings.hs = 1;
    Compose();
    const TCellRect spaced = CellRect(1, settings, SurfaceHeight());
    EXPECT_EQ(picture.pixel(spaced.Right, spaced.Top), ToRgb(kBackground));
    EXPECT_EQ(picture.pixel(spaced.Left, spaced.Top - 1), ToRgb(kBackground));
}

TEST(CellRect, FollowsTheGrid) {
    const TRenderSettings layout;  // 5 x 3 cells with 1-pixel spaces
    constexpr int32_t surface = 41;
    EXPECT_EQ(CellRect(1, layout, surface), (TCellRect{1, 37, 6, 40}));
    EXPECT_EQ(CellRect(2, layout, surface), (TCellRect{1, 33, 6, 36}));
    EXPECT_EQ(CellRect(10, layout, surface), (TCellRect{1, 1, 6, 4}));
    EXPECT_EQ(CellRect(11, layout, surface), (TCellRect{7, 37, 12, 40}));
    EXPECT_EQ(CellRect(600, layout, surface), (TCellRect{355, 1, 360, 4}));
    // Rows are measured from the surface's height, whatever it is.
    EXPECT_EQ(CellRect(1, layout, 50), (TCellRect{1, 46, 6, 49}));
    TRenderSettings wide;
    wide.w = 10;
    wide.h = 7;
    wide.ws = 0;
    wide.hs = 5;
    EXPECT_EQ(CellRect(23, wide, 121), (TCellRect{21, 85, 31, 92}));
    EXPECT_EQ(CellRect(0, layout, surface), TCellRect{});
    EXPECT_EQ(CellRect(601, layout, surface), TCellRect{});
}

TEST_F(Renderer, RedrawAfterAnOutcomeKeepsTheBackground) {
    settings.viewmode = 2;
    Compose();
    const QImage full = picture;
    Add("S");
    Compose();
    // The margins and the spaces between cells look the same as after a full drawing.
    const TCellRect first = CellRect(1, settings, SurfaceHeight());
    for (const QPoint gap : {QPoint(0, 0), QPoint(first.Right, first.Top), QPoint(first.Left, 36),
                             QPoint(picture.width() - 1, picture.height() - 1)}) {
        EXPECT_EQ(picture.pixel(gap), ToRgb(kBackground)) << gap.x() << "," << gap.y();
        EXPECT_EQ(full.pixel(gap), ToRgb(kBackground)) << gap.x() << "," << gap.y();
    }
}

TEST_F(Renderer, ImpossiblePictureLeavesEverythingAlone) {
    settings.w = 65535;
    settings.h = 65535;
    colourRegister.Colour = 0x00ABCDEF;
    EXPECT_TRUE(
        ComposeHistory(history, settings, QSize(100, 655355), 655351, colourRegister).isNull());
    EXPECT_TRUE(
        ComposeHistory(history, TRenderSettings{}, QSize(100, 0), 41, colourRegister).isNull());
    EXPECT_EQ(colourRegister.Colour, 0x00ABCDEFu);
}

}  // namespace
}  // namespace nodrel
