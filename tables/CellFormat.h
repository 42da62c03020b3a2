#pragma once

#include <cstdint>
#include <string>

namespace zeza {

// A 24-bit colour 0xRRGGBB (the layout of QRgb without alpha).
using RgbColor = std::uint32_t;

constexpr RgbColor MakeRgb(int r, int g, int b) {
    return (static_cast<RgbColor>(r & 0xFF) << 16) | (static_cast<RgbColor>(g & 0xFF) << 8) |
           static_cast<RgbColor>(b & 0xFF);
}

// Row text colours chosen by the views: rises and profits red; falls, zero
// changes and losses green.
inline constexpr RgbColor kRiseColor = MakeRgb(255, 0, 0);
inline constexpr RgbColor kFallColor = MakeRgb(0, 153, 0);

// A number text as atof reads it: text that is not a number gives 0.
double ParseNumber(const char* text);

// value with the given number of decimals ("%0.4f", "%0.2f"). Values too large
// for a short cell are written out in full rather than cut.
std::string FormatFixed(double value, int decimals);

// A change: "%+0.4f" when above 0, otherwise "%0.4f"; rise is set accordingly.
std::string FormatSignedChange(double value, bool& rise);

}  // namespace zeza
