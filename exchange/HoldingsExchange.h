#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zeza {

// The holdings file: GBK text without byte order mark, the header line
// "代码,成本,份数,备注" and then one holding a line, "code,cost,units,remark".
// Lines end with CR LF as written; CR LF or a lone LF end a line when read.
// The remark is all the text after the third comma, so it may hold commas.

struct HoldingLine {
    std::string code;    // GBK, as written (not trimmed)
    double cost = 0;     // invested cost
    double units = 0;    // units held
    std::string remark;  // GBK, to the line end
};

// The header line in GBK, without line end.
const std::string& HoldingsHeader();

// Reads one line (without its line end). False (out unchanged) when it has
// fewer than three commas or when cost or units is not a decimal number.
bool ParseHoldingLine(std::string_view line, HoldingLine& out);

// A holdings file read into holdings. The first line is the header unless it is
// itself a holding; lines that are empty or blank are passed over; any other
// line that is not a holding counts as skipped.
struct HoldingsFileContent {
    std::vector<HoldingLine> holdings;
    int skipped = 0;
};
HoldingsFileContent ParseHoldingsText(std::string_view text);

// The file text for the rows of "SELECT codec,tcost,tcount,remark": the header
// and one line per row, each ended with CR LF. A NULL value is written empty;
// a line break inside a value becomes a blank, so every holding stays one line.
std::string BuildHoldingsText(const std::vector<std::vector<std::string>>& rows);

}  // namespace zeza
