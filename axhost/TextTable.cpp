#include "TextTable.h"

#include <algorithm>
#include <cstdio>

#include "axcore/MessageText.h"

namespace axhost {
namespace {

std::size_t Utf8Width(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::string FormatNumber(double value, int significantDigits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", significantDigits, value);
  return text;
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& given,
                const std::vector<bool>& rightAligned) {
  // A name from a file may hold a newline or an escape: one row, one line.
  std::vector<std::vector<std::string>> rows = given;
  for (auto& row : rows)
    for (std::string& cell : row) cell = axcore::OneLine(cell);
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (widths.size() <= i) widths.push_back(0);
      widths[i] = std::max(widths[i], Utf8Width(row[i]));
    }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - Utf8Width(row[i]), ' ');
      if (i > 0) line += "  ";
      const bool right = i < rightAligned.size() && rightAligned[i];
      line += right ? pad + row[i] : row[i] + (i + 1 < row.size() ? pad : "");
    }
    out << line << '\n';
  }
}

}  // namespace axhost
