#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>

#include "result_history.h"

namespace nodrel {

// The settings the drawing reads. Colours are 0x00BBGGRR (red in the low byte). The defaults
// are the values of a first start.
struct TRenderSettings {
    uint8_t viewmode = 2;   // 1 Graph view, 2 History view; other values colour no cell
    uint8_t blinkmode = 1;  // 1 off, 2 simple order, 3 chess order; other values colour no failure
    uint8_t modenum = 2;    // 2 draws the 120 cells of 12 columns, anything else all 600
    uint16_t w = 5;         // cell width
    uint16_t h = 3;         // cell height
    uint16_t ws = 1;        // space between columns
    uint16_t hs = 1;        // space between rows
    uint32_t col1 = 0x00FF0000;  // success; the graph's bars
    uint32_t col2 = 0x00C0C0C0;  // no outcome yet; the graph above the bars
    uint32_t col3 = 0x000000FF;  // failure, blink phase 0
    uint32_t col4 = 0x000080FF;  // failure, blink phase 1
    uint32_t col5 = 0x00FFFFFF;  // background
};

// The colour the previous cell was filled with. A cell that no rule colours repeats it, and the
// first cell of a drawing continues from the previous drawing, so the window keeps one register
// for its whole life. It starts at the window's designed colour, red.
struct TColourRegister {
    uint32_t Colour = 0x000000FF;
};

// Picture coordinates of a cell; Right and Bottom are exclusive.
struct TCellRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;

    friend bool operator==(const TCellRect&, const TCellRect&) = default;
};

inline constexpr int kGridRows = 10;
inline constexpr int kGridColumns = 60;
inline constexpr int kSmallGridColumns = 12;

// A 0x00BBGGRR colour as an opaque Qt pixel value.
inline QRgb ToRgb(uint32_t colour) {
    return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}
// And back: a Qt pixel value as a 0x00BBGGRR colour, its alpha dropped.
inline uint32_t FromRgb(QRgb pixel) {
    return uint32_t(qRed(pixel)) | uint32_t(qGreen(pixel)) << 8 | uint32_t(qBlue(pixel)) << 16;
}

// Width of the composed picture: always room for 60 columns plus the margins.
int64_t PictureWidth(const TRenderSettings& settings);

// Rectangle of cell `index` (1..600): columns of ten cells from the left, each filled from the
// bottom up; rows are measured upwards from `surfaceHeight`, the drawing surface's height.
// An empty rectangle for an index outside 1..600.
TCellRect CellRect(int index, const TRenderSettings& settings, int32_t surfaceHeight);

// Composes the complete picture of the history: PictureWidth wide and as high as the panel,
// background `col5` everywhere between and around the cells, so a drawing after an outcome looks
// the same as one after a command. Updates `colourRegister` to the colour of the last cell drawn.
// Returns a null image, leaving the register alone, when the picture cannot be made (a size of
// zero or one too large to hold).
QImage ComposeHistory(const TResultHistory& history, const TRenderSettings& settings,
                      QSize panelSize, int32_t surfaceHeight, TColourRegister& colourRegister);

}  // namespace nodrel
