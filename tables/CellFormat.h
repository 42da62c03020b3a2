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

// Exactly what printf's "%0.*f" writes for value, with "%+0.*f" when plusIfPositive
// and value is above 0. Values too large for a short cell are written in full.
std::string FormatFixed(double value, int decimals, bool plusIfPositive = false);

// The number the database hands over as text for a stored real: SQLite writes
// it with 15 significant digits, and that text is what a cell is read from.
double RealAsText(double stored);

// FormatFixed(RealAsText(stored), ...), computed without the text where it cannot matter.
std::string FormatStoredReal(double stored, int decimals, bool plusIfPositive = false);

}  // namespace zeza
