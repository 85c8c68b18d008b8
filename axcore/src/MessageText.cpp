#include "axcore/MessageText.h"

#include <cstdio>

namespace axcore {
namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4) return 0;  // a continuation byte, or a lead that never starts a character
  const unsigned min = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  unsigned code = lead & (0x7Fu >> length);
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

std::string Hex(const char* format, unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Escape(std::string_view text, bool quoting) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
      out += Hex("\\x%02x", c);
      ++i;
      continue;
    }
    if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      out += Hex("\\u%04x", static_cast<unsigned char>(text[i + 1]));  // a C1 control, U+0080 to U+009F
    } else if (length > 1) {
      out.append(text.substr(i, length));
    } else if (quoting && (c == '"' || c == '\\')) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
    } else {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default: out += Hex("\\u%04x", c);
      }
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string QuoteForMessage(std::string_view text) { return '"' + Escape(text, true) + '"'; }

std::string OneLine(std::string_view text) { return Escape(text, false); }

std::string JoinLines(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  auto lineBreak = [](char c) { return c == '\n' || c == '\r'; };
  std::string joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (!lineBreak(text[i])) {
      joined += text[i++];
      continue;
    }
    while (i < text.size() && (lineBreak(text[i]) || blank(text[i]))) ++i;
    while (!joined.empty() && blank(joined.back())) joined.pop_back();
    if (joined.empty() || i == text.size()) continue;  // breaks at either end go
    const char last = joined.back();
    joined += (last == ':' || last == '.' || last == ',' || last == ';') ? " " : "; ";
  }
  return OneLine(joined);
}

}  // namespace axcore
