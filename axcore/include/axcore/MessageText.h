// Text from files and command lines inside the host's one-line messages.
//
// Names, keys and units come from files the user hands us and may hold any
// character: a newline would forge a second "error:" line, an escape would
// reach the terminal. Every such text is shown through these functions, so
// that a message is always exactly one line of printable text.
#pragma once

#include <string>
#include <string_view>

namespace axcore {

// `text` between double quotes with JSON's escapes: \" \\ \n \t \r \b \f and
// \u00XX for the other control characters (C0, DEL and the C1 controls of
// UTF-8); a byte that is not part of valid UTF-8 shows as \xNN.
std::string QuoteForMessage(std::string_view text);

// `text` as it is except for control characters and bytes that are not
// valid UTF-8, escaped as QuoteForMessage does; for paths and for messages
// that already quote what they name.
std::string OneLine(std::string_view text);

// A message of several lines (the system's own texts break lines with
// "\r\n", lists indent with tabs) as one line that reads as text: each line
// break, with the blanks and tabs around it, becomes a blank after a line
// that ends in ':', '.', ',' or ';' and "; " after any other; what is left
// goes through OneLine. The dialogs and the report keep the breaks.
std::string JoinLines(std::string_view text);

}  // namespace axcore
