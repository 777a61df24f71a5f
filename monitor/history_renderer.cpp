#include "history_renderer.h"

#include <algorithm>
#include <array>

namespace nodrel {

namespace {

// Far above any grid the settings can describe sensibly (60 columns of 10 + 5 pixels make 904);
// stored settings are not range-checked, so this keeps an absurd cell size from taking gigabytes.
constexpr int64_t kMaxPicturePixels = int64_t{1} << 24;

constexpr int kCellCount = kGridRows * kGridColumns;
constexpr int kStoredOutcomes = TResultHistory::kStoredColumns * THistoryColumn::kCapacity;

// All stored outcomes, newest first, as the History view reads them.
struct TOutcomeSequence {
    std::array<char, kStoredOutcomes> Outcomes{};
    int Length = 0;

    explicit TOutcomeSequence(const TResultHistory& history) {
        for (int column = 1; column <= TResultHistory::kStoredColumns; ++column) {
            const std::string_view text = history.HistoryColumns(column).Text();
            std::copy(text.begin(), text.end(), Outcomes.begin() + Length);
            Length += static_cast<int>(text.size());
        }
    }
};

bool IsOdd(int64_t value) {
    return (value & 1) != 0;
}

// The colour rules below leave `colour` as it is when no rule applies.

// Failure colour by blink mode; the phase comes from `phase` (simple order) or `phase` + i + j
// (chess order, which alternates along rows and columns).
void FailureColour(const TRenderSettings& s, int64_t phase, int i, int j, uint32_t& colour) {
    switch (s.blinkmode) {
        case 1:
            colour = s.col3;
            break;
        case 2:
            colour = IsOdd(phase) ? s.col4 : s.col3;
            break;
        case 3:
            colour = IsOdd(phase + i + j) ? s.col4 : s.col3;
            break;
        default:
            break;
    }
}

void GraphColour(const TResultHistory& history, const TRenderSettings& s, int i, int j, int r,
                 uint32_t& colour) {
    if (history.SuccessCounts(j + 1) < r) {
        colour = s.col2;
    } else if (history.FailStreak() <= 2) {
        colour = s.col1;
    } else {
        FailureColour(s, history.FailStreak(), i, j, colour);
    }
}

void HistoryColour(const TOutcomeSequence& sequence, const TRenderSettings& s, int i, int j,
                   uint32_t& colour) {
    if (i > sequence.Length) {
        colour = s.col2;
    } else if (sequence.Outcomes[i - 1] == TResultHistory::kSuccess) {
        colour = s.col1;
    } else {
        FailureColour(s, sequence.Length, i, j, colour);
    }
}

// Fills the part of `rect` that lies inside the picture.
void FillClipped(QImage& picture, const TCellRect& rect, QRgb pixel) {
    const int left = std::max(rect.Left, 0);
    const int right = std::min(rect.Right, picture.width());
    const int top = std::max(rect.Top, 0);
    const int bottom = std::min(rect.Bottom, picture.height());
    if (left >= right || top >= bottom) return;
    uchar* const bits = picture.bits();
    const qsizetype stride = picture.bytesPerLine();
    for (int y = top; y < bottom; ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(bits + y * stride);
        std::fill(line + left, line + right, pixel);
    }
}

}  // namespace

QRgb ToRgb(uint32_t colour) {
    return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

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
    picture.fill(ToRgb(settings.col5));

    const TOutcomeSequence sequence(history);
    const int cells = settings.modenum == 2 ? kGridRows * kSmallGridColumns : kCellCount;
    uint32_t colour = colourRegister.Colour;
    for (int i = 1; i <= cells; ++i) {
        const int j = (i - 1) / kGridRows;
        const int r = (i - 1) % kGridRows + 1;
        if (settings.viewmode == 1) {
            GraphColour(history, settings, i, j, r, colour);
        } else if (settings.viewmode == 2) {
            HistoryColour(sequence, settings, i, j, colour);
        }
        FillClipped(picture, CellRect(i, settings, surfaceHeight), ToRgb(colour));
    }
    colourRegister.Colour = colour;
    return picture;
}

}  // namespace nodrel
