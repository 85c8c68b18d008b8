// Plain-text output of the host's commands: numbers and aligned tables.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace axhost {

// `value` with `significantDigits` significant digits, as printf's %g.
std::string FormatNumber(double value, int significantDigits);

// Columns padded to their widest cell, two blanks between, counting
// characters rather than bytes ("µs", "°C" are UTF-8). A column marked in
// `rightAligned` is padded on the left; the others on the right, except the
// last column, which is never padded. Control characters in a cell are
// escaped, so that each row is one line.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned = {});

}  // namespace axhost
