#include "history_renderer.h"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace nodrel {

namespace {

// Far above any grid the settings can describe sensibly (60 columns of 10 + 5 pixels make 904);
// stored settings are not range-checked, so this keeps an absurd cell size from taking gigabytes.
constexpr int64_t kMaxPicturePixels = int64_t{1} << 24;

constexpr int kCellCount = kGridRows * kGridColumns;

// The colours of failure cells by blink mode: the phase is `phase` for every cell in simple
// order, `phase` + i + j in chess order (alternating along rows and columns, since i + j = 11j +
// r).
struct FailureColours {
    bool Apply = true;  // false: the blink mode colours no failure cell
    int ChessMask = 0;  // 1 in chess order: the cell's own parity takes part
    std::array<uint32_t, 2> ByCellParity{};

    FailureColours(const TRenderSettings& s, int64_t phase) {
        const auto phaseColour = [&](int64_t p) { return (p & 1) != 0 ? s.col4 : s.col3; };
        switch (s.blinkmode) {
            case 1:
                ByCellParity = {s.col3, s.col3};
                break;
            case 2:
                ByCellParity = {phaseColour(phase), phaseColour(phase)};
                break;
            case 3:
                ChessMask = 1;
                ByCellParity = {phaseColour(phase), phaseColour(phase + 1)};
                break;
            default:
                Apply = false;
                break;
        }
    }

    // For cell i in column j; `previous` when the mode colours nothing.
    uint32_t Chosen(int i, int j, uint32_t previous) const {
        return Apply ? ByCellParity[(i + j) & ChessMask] : previous;
    }
};

// Four copies of a pixel, written with one store.
#ifdef __SSE2__
using Quad = __m128i;
Quad MakeQuad(QRgb pixel) {
    return _mm_set1_epi32(static_cast<int>(pixel));
}
void StoreQuad(QRgb* at, Quad quad) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), quad);
}
#else
using Quad = std::array<QRgb, 4>;
Quad MakeQuad(QRgb pixel) {
    return {pixel, pixel, pixel, pixel};
}
void StoreQuad(QRgb* at, const Quad& quad) {
    std::memcpy(at, quad.data(), sizeof quad);
}
#endif

// Fills [from, to) four pixels at a time, running up to three pixels past `to`.
void FillOverrunning(QRgb* line, int from, int to, Quad quad) {
    for (int x = from; x < to; x += 4) StoreQuad(line + x, quad);
}

// Fills pixels [left, right) of a line, clipped to [0, width).
void FillSpan(QRgb* line, int64_t left, int64_t right, int width, QRgb pixel) {
    const int from = static_cast<int>(std::max<int64_t>(left, 0));
    const int to = static_cast<int>(std::min<int64_t>(right, width));
    if (to - from < 4) {
        std::fill(line + std::min(from, to), line + to, pixel);
        return;
    }
    const Quad quad = MakeQuad(pixel);
    FillOverrunning(line, from, to - 4, quad);
    StoreQuad(line + to - 4, quad);
}

// Writes one whole pixel line through a row of cells: the margin, each drawn cell followed by
// its space, and the background after the last drawn column. `rowPixels` holds the row's cells
// from left to right.
void DrawCellLine(QRgb* line, int width, const TRenderSettings& s, int columns,
                  const QRgb* rowPixels, QRgb background) {
    // Cells are a few pixels wide: whole four-pixel stores beat pixel loops, and what they write
    // past a span is overwritten by the next span, as the line is written from left to right.
    const int pitch = s.w + s.ws;
    const Quad space = MakeQuad(background);
    line[0] = background;
    int j = 0;
    for (; j < columns && j * pitch + 1 + pitch + 3 <= width; ++j) {
        const int left = j * pitch + 1;
        FillOverrunning(line, left, left + s.w, MakeQuad(rowPixels[j]));
        FillOverrunning(line, left + s.w, left + pitch, space);
    }
    // Near the end of the line nothing may run past it.
    for (; j < columns; ++j) {
        const int64_t left = int64_t{j} * pitch + 1;
        FillSpan(line, left, left + s.w, width, rowPixels[j]);
        FillSpan(line, left + s.w, left + pitch, width, background);
    }
    FillSpan(line, int64_t{columns} * pitch + 1, width, width, background);
}

}  // namespace

int64_t PictureWidth(const TRenderSettings& settings) {
    return int64_t{kGridColumns} * (settings.w + settings.ws) + 4 - settings.ws;
}

TCellRect CellRect(int index, const TRenderSettings& settings, int32_t surfaceHeight) {
    if (index < 1 || index > kCellCount) return {};
    const int column = (index - 1) / kGridRows;
    const int row = (index - 1) % kGridRows + 1;
    TCellRect rect;
    rect.Left = column * (settings.w + settings.ws) + 1;
    rect.Top = surfaceHeight - row * (settings.h + settings.hs);
    rect.Right = rect.Left + settings.w;
    rect.Bottom = rect.Top + settings.h;
    return rect;
}

QImage ComposeHistory(const TResultHistory& history, const TRenderSettings& settings,
                      QSize panelSize, int32_t surfaceHeight, TColourRegister& colourRegister) {
    const int64_t width = PictureWidth(settings);
    const int64_t height = panelSize.height();
    if (height <= 0 || width * height > kMaxPicturePixels) return {};
    QImage picture(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (picture.isNull()) return {};

    const int columns = settings.modenum == 2 ? kSmallGridColumns : kGridColumns;
    // Cell i = 10j + r, chosen column by column: a cell that no rule colours repeats `colour`.
    // Its pixel is kept by rows, the order of drawing.
    std::array<QRgb, kCellCount> cellPixels;
    const auto keep = [&](int j, int r, uint32_t chosen) {
        cellPixels[(r - 1) * kGridColumns + j] = ToRgb(chosen);
    };
    uint32_t colour = colourRegister.Colour;
    if (settings.viewmode == 1) {
        const int32_t streak = history.FailStreak();
        const FailureColours failure(settings, streak);
        for (int j = 0, i = 1; j < columns; ++j) {
            const int bar = history.SuccessCounts(j + 1);
            for (int r = 1; r <= kGridRows; ++r, ++i) {
                if (bar < r) {
                    colour = settings.col2;
                } else if (streak <= 2) {
                    colour = settings.col1;
                } else {
                    colour = failure.Chosen(i, j, colour);
                }
                keep(j, r, colour);
            }
        }
    } else if (settings.viewmode == 2) {
        // The columns joined end to end list the outcomes newest first, one per cell.
        int stored = 0;
        for (int k = 1; k <= TResultHistory::kStoredColumns; ++k) {
            stored += history.HistoryColumns(k).Length;
        }
        const FailureColours failure(settings, stored);
        const int cells = columns * kGridRows;
        int i = 1;
        int j = 0;
        int r = 1;
        const auto advance = [&] {
            keep(j, r, colour);
            ++i;
            if (++r > kGridRows) {
                r = 1;
                ++j;
            }
        };
        for (int k = 1; k <= TResultHistory::kStoredColumns && i <= cells; ++k) {
            for (const char outcome : history.HistoryColumns(k).Text()) {
                if (i > cells) break;
                // Selected rather than branched on: outcomes follow no pattern a branch predictor
                // could learn.
                const uint32_t failed = failure.Chosen(i, j, colour);
                colour = outcome == TResultHistory::kSuccess ? settings.col1 : failed;
                advance();
            }
        }
        while (i <= cells) {
            colour = settings.col2;
            advance();
        }
    } else {
        cellPixels.fill(ToRgb(colour));
    }

    // Cells never overlap, and all pixel lines of one row of cells are alike: each line is
    // written once, and each row of cells is drawn into its first line and copied to the others,
    // rather than filling the picture and then 600 rectangles.
    const QRgb background = ToRgb(settings.col5);
    uchar* const bits = picture.bits();
    const qsizetype stride = picture.bytesPerLine();
    const int pictureWidth = static_cast<int>(width);
    const auto line = [&](int64_t y) { return reinterpret_cast<QRgb*>(bits + y * stride); };
    const QRgb* backgroundLine = nullptr;
    const auto fillBackground = [&](int64_t from, int64_t to) {
        for (int64_t y = from; y < to; ++y) {
            if (backgroundLine == nullptr) {
                FillSpan(line(y), 0, width, pictureWidth, background);
                backgroundLine = line(y);
            } else {
                std::memcpy(line(y), backgroundLine, width * sizeof(QRgb));
            }
        }
    };
    const int64_t rowPitch = settings.h + settings.hs;
    int64_t next = 0;  // the first line not yet written
    for (int r = kGridRows; r >= 1; --r) {
        // As CellRect has it, in 64 bits so that no surface height can overflow.
        const int64_t rowTop = int64_t{surfaceHeight} - r * rowPitch;
        const int64_t top = std::clamp<int64_t>(rowTop, next, height);
        const int64_t bottom = std::clamp<int64_t>(rowTop + settings.h, top, height);
        if (top == bottom) continue;
        fillBackground(next, top);
        DrawCellLine(line(top), pictureWidth, settings, columns,
                     &cellPixels[(r - 1) * kGridColumns], background);
        for (int64_t y = top + 1; y < bottom; ++y) {
            std::memcpy(line(y), line(top), width * sizeof(QRgb));
        }
        next = bottom;
    }
    fillBackground(next, height);
    colourRegister.Colour = colour;
    return picture;
}

}  // namespace nodrel
