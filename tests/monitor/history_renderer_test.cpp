#include "history_renderer.h"

#include <gtest/gtest.h>

#include <string>

namespace nodrel {
namespace {

// The first-start colours as the screen shows them.
constexpr QRgb kBlue = qRgb(0, 0, 255);        // success
constexpr QRgb kSilver = qRgb(192, 192, 192);  // no outcome
constexpr QRgb kRed = qRgb(255, 0, 0);         // failure, blink phase 0
constexpr QRgb kOrange = qRgb(255, 128, 0);    // failure, blink phase 1
constexpr uint32_t kBackground = 0x00204060;
constexpr QRgb kBackgroundPixel = qRgb(0x60, 0x40, 0x20);

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
        for (const char outcome : outcomes) history.AddResult(outcome == 'S');
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
        for (int i = 1; i <= 600; ++i) ASSERT_EQ(Cell(i), kSilver) << i;
        EXPECT_EQ(colourRegister.Colour, 0x00C0C0C0u);
    }
}

TEST_F(Renderer, OneSuccessFillsTheBottomLeftCell) {
    Add("S");
    settings.viewmode = 2;
    Compose();
    EXPECT_EQ(Cell(1), kBlue);
    for (int i = 2; i <= 600; ++i) ASSERT_EQ(Cell(i), kSilver) << i;

    settings.viewmode = 1;
    Compose();
    EXPECT_EQ(Cell(1), kBlue);
    EXPECT_EQ(Cell(2), kSilver);
    EXPECT_EQ(Cell(11), kSilver);
}

TEST_F(Renderer, HistoryViewPutsTheNewestOutcomeFirst) {
    Add("FFFFFFFFFFFS");  // eleven failures, then a success: the shift sits between them
    settings.viewmode = 2;
    Compose();
    EXPECT_EQ(Cell(1), kBlue);
    for (int i = 2; i <= 12; ++i) ASSERT_EQ(Cell(i), kRed) << i;
    EXPECT_EQ(Cell(13), kSilver);
}

TEST_F(Renderer, RightmostColumnIsDrawnInBothViewsOnceTheHistoryIsFull) {
    Add(std::string(615, 'S'));  // the History view's last cells come from the 61st column
    for (const uint8_t view : {1, 2}) {
        settings.viewmode = view;
        Compose();
        EXPECT_EQ(Cell(591), kBlue) << "view " << int(view);
        EXPECT_EQ(Cell(600), kBlue) << "view " << int(view);
    }
}

TEST_F(Renderer, GraphTurnsToFailureColoursAtTheThirdFailure) {
    settings.viewmode = 1;
    Add("SSSSSSSSSSSSSFF");  // a full column of ten, then 3 successes and 2 failures
    Compose();
    EXPECT_EQ(Cell(3), kBlue);  // the current column's bar, 3 high
    EXPECT_EQ(Cell(4), kSilver);
    EXPECT_EQ(Cell(20), kBlue);  // the full column's bar, 10 high
    Add("F");
    Compose();
    EXPECT_EQ(Cell(1), kRed);
    EXPECT_EQ(Cell(3), kRed);
    EXPECT_EQ(Cell(4), kSilver);
    EXPECT_EQ(Cell(20), kRed);
    EXPECT_EQ(Cell(21), kSilver);
}

// Phase 0 shows red (col3), phase 1 orange (col4). The phase is the parity of the failure streak
// in the Graph view and of the number of stored outcomes in the History view; chess order adds
// the cell's number and column.
TEST_F(Renderer, BlinkPhaseOfEachFailureCell) {
    // Graph: bars of 2 (column 0) and 10 (column 1) after a streak of three failures, then four.
    const std::string streak3 = std::string(12, 'S') + "FFF";
    const std::string streak4 = streak3 + "F";
    const std::string twelve(12, 'F');
    struct Case {
        uint8_t view, blink;
        std::string outcomes;
        int cell;
        QRgb shown;
    };
    const Case cases[] = {
        {1, 1, streak3, 11, kRed},    {1, 2, streak3, 1, kOrange},   {1, 2, streak3, 11, kOrange},
        {1, 2, streak4, 1, kRed},     {1, 3, streak3, 1, kRed},      {1, 3, streak3, 2, kOrange},
        {1, 3, streak3, 11, kOrange}, {1, 3, streak4, 1, kOrange},   {2, 1, "FSF", 3, kRed},
        {2, 2, "FSF", 1, kOrange},    {2, 2, "FSF", 3, kOrange},     {2, 2, "FSFS", 2, kRed},
        {2, 3, twelve, 1, kOrange},   {2, 3, twelve, 2, kRed},       {2, 3, twelve, 11, kRed},
        {2, 3, twelve, 12, kOrange},  {2, 3, twelve + "F", 1, kRed},
    };
    for (const Case& c : cases) {
        history.Reset();
        Add(c.outcomes);
        settings.viewmode = c.view;
        settings.blinkmode = c.blink;
        Compose();
        EXPECT_EQ(Cell(c.cell), c.shown) << "view " << int(c.view) << ", blink " << int(c.blink)
                                         << ", " << c.outcomes << ", cell " << c.cell;
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
            ASSERT_TRUE(cell == kRed || cell == kOrange) << i;
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
    EXPECT_EQ(Cell(120), kSilver);
    EXPECT_EQ(Cell(121), kBackgroundPixel);
    EXPECT_EQ(Cell(600), kBackgroundPixel);
}

TEST_F(Renderer, CellsWithoutARuleRepeatThePreviousColour) {
    settings.viewmode = 2;
    settings.blinkmode = 0;
    colourRegister.Colour = 0x00123456;  // left by a previous drawing
    Add("SF");                           // the failure is the newest: cell 1
    Compose();
    EXPECT_EQ(Cell(1), qRgb(0x56, 0x34, 0x12));
    EXPECT_EQ(Cell(2), kBlue);

    Add("S");  // now the failure is in cell 2, after a success
    Compose();
    EXPECT_EQ(Cell(2), kBlue);
    EXPECT_EQ(Cell(3), kBlue);
    EXPECT_EQ(colourRegister.Colour, 0x00C0C0C0u);

    settings.viewmode = 0;  // no view: every cell keeps the register's colour
    colourRegister.Colour = 0x00654321;
    Compose();
    EXPECT_EQ(Cell(1), qRgb(0x21, 0x43, 0x65));
    EXPECT_EQ(Cell(600), qRgb(0x21, 0x43, 0x65));
}

TEST_F(Renderer, ZeroSpacesMakeCellsTouch) {
    settings.viewmode = 2;
    Add("S");
    settings.ws = 0;
    settings.hs = 0;
    Compose();
    const TCellRect first = CellRect(1, settings, SurfaceHeight());
    EXPECT_EQ(picture.pixel(first.Right, first.Top), kSilver);     // cell 11
    EXPECT_EQ(picture.pixel(first.Left, first.Top - 1), kSilver);  // cell 2
    EXPECT_EQ(picture.pixel(first.Right - 1, first.Bottom - 1), kBlue);

    settings.ws = 1;
    settings.hs = 1;
    Compose();
    const TCellRect spaced = CellRect(1, settings, SurfaceHeight());
    EXPECT_EQ(picture.pixel(spaced.Right, spaced.Top), kBackgroundPixel);
    EXPECT_EQ(picture.pixel(spaced.Left, spaced.Top - 1), kBackgroundPixel);
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
        EXPECT_EQ(picture.pixel(gap), kBackgroundPixel) << gap.x() << "," << gap.y();
        EXPECT_EQ(full.pixel(gap), kBackgroundPixel) << gap.x() << "," << gap.y();
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
