#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The ledger's whole numbers (fen, hundredths of a unit, ten-thousandths of a NAV, millionths of a
// fee rate) as the texts the ledger's windows show and read. The text is read digit by digit, so
// "0.1" is exactly 10 fen: no binary fraction comes between what is typed and what is stored.
namespace zeza {

// Reads a non-negative decimal text ("12", "12.3", ".5", blanks around it) as a whole number of
// 10^-decimals: with decimals 2, "0.1" gives 10. Digits past the decimals must be zeros. False
// (value unchanged) for anything else, an empty text included, and for numbers beyond 10^15.
bool ParseScaled(std::string_view text, int decimals, int64_t& value);

// value / 10^decimals with exactly decimals digits after the point: 1234 with 2 gives "12.34",
// -5 gives "-0.05".
std::string FormatScaled(int64_t value, int decimals);

// A fee rate in millionths as the percent the user types: 1500 gives "0.15", 12345 "1.2345" (at
// least two decimals, at most four).
std::string FormatRatePercent(int64_t ppm);

}  // namespace zeza
