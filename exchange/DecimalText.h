#pragma once

#include <string>
#include <string_view>

namespace zeza {

// The numbers of a holding (cost and units) as text: typed into the holding
// editor, and carried in the holdings file. Locale-independent, so a comma
// never stands in for the decimal point.

// Reads text that is exactly one decimal number: an optional sign, digits with
// an optional point, an optional exponent, optionally between blanks. False
// (value unchanged) for anything else, an empty text included, and for numbers
// out of the range of a double.
bool ParseDecimal(std::string_view text, double& value);

// The shortest form with up to 15 significant digits ("%.15g"): 0, 2.5, 1000.5, 1e+20.
std::string FormatDecimal15(double value);

// Fixed with four decimals ("%0.4f"): 1000.12 gives 1000.1200.
std::string FormatFixed4(double value);

}  // namespace zeza
