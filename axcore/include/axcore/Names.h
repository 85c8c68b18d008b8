// Names of parameters, variables, options and units are compared with ASCII
// case ignored: "isMotori2t" and "isMotorI2t" are one name. Bytes outside
// ASCII (the degree sign, the micro sign) compare as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace axcore {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

struct CaseInsensitiveHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    std::size_t h = 1469598103934665603ull;  // FNV-1a over the lowered bytes
    for (char c : s) {
      h ^= static_cast<unsigned char>(AsciiLower(c));
      h *= 1099511628211ull;
    }
    return h;
  }
};

struct CaseInsensitiveEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return EqualsIgnoreCase(a, b); }
};

template <typename T>
using CaseInsensitiveMap = std::unordered_map<std::string, T, CaseInsensitiveHash, CaseInsensitiveEqual>;

}  // namespace axcore
