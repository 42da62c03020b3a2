#pragma once

#include "tables/CellFormat.h"

namespace zeza {

// Colours of the fund list itself.
inline constexpr RgbColor kListBackground = MakeRgb(250, 250, 255);
inline constexpr RgbColor kWatchedBackground = MakeRgb(255, 255, 200);
inline constexpr RgbColor kDefaultRowText = MakeRgb(0, 80, 140);
inline constexpr RgbColor kGridLineColor = MakeRgb(159, 215, 255);

// The one pair of colours of a row; a half that was never set keeps the list's default.
struct RowColors {
    RgbColor background = kListBackground;
    RgbColor text = kDefaultRowText;
};

}  // namespace zeza
