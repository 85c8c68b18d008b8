#include "drivewire/Address.h"

#include <charconv>
#include <filesystem>

namespace drivewire {
namespace {

// A whole decimal number from `min` to `max`.
bool Number(const std::string& text, unsigned long min, unsigned long max, unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= min && value <= max;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool IsWireSpec(const std::string& spec) { return spec.rfind("tcp:", 0) == 0 || spec.rfind("serial:", 0) == 0; }

std::optional<Address> ParseAddress(const std::string& spec, std::string& error) {
  Address address;
  std::string rest;
  bool axisGiven = false;
  unsigned long value = 0;
  auto takeAxis = [&](std::string& text, bool always) {
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos || !AllDigits(text.substr(slash + 1))) return true;
    if (!always) {
      std::error_code ec;
      if (std::filesystem::exists(text, ec)) return true;
    }
    if (!Number(text.substr(slash + 1), 1, 254, value)) {
      error = "the axis ID goes from 1 to 254";
      return false;
    }
    address.axis = static_cast<std::uint8_t>(value);
    axisGiven = true;
    text.resize(slash);
    return true;
  };
  if (spec.rfind("tcp:", 0) == 0) {
    rest = spec.substr(4);
    if (!takeAxis(rest, true)) return std::nullopt;
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      error = "not tcp:HOST:PORT[/AXIS]";
      return std::nullopt;
    }
    if (!Number(rest.substr(colon + 1), 1, 65535, value)) {
      error = "the port goes from 1 to 65535";
      return std::nullopt;
    }
    address.host = rest.substr(0, colon);
    address.port = static_cast<std::uint16_t>(value);
    return address;
  }
  if (spec.rfind("serial:", 0) == 0) {
    address.transport = Address::Transport::Serial;
    rest = spec.substr(7);
    // "DEVICE:BAUD/AXIS": the axis after a baud is always the axis.
    const std::size_t colon = rest.rfind(':');
    const bool baudGiven = colon != std::string::npos && colon > 0 &&
                           AllDigits(rest.substr(colon + 1, rest.find('/', colon) - colon - 1));
    if (!takeAxis(rest, baudGiven)) return std::nullopt;
    if (baudGiven) {
      if (!Number(rest.substr(colon + 1), 50, 4000000, value)) {
        error = "the baud rate goes from 50 to 4000000";
        return std::nullopt;
      }
      address.baud = static_cast<unsigned>(value);
      rest.resize(colon);
    }
    if (rest.empty()) {
      error = "not serial:DEVICE[:BAUD][/AXIS]";
      return std::nullopt;
    }
    address.device = rest;
    (void)axisGiven;
    return address;
  }
  error = "not a wire (tcp:HOST:PORT[/AXIS] or serial:DEVICE[:BAUD][/AXIS])";
  return std::nullopt;
}

}  // namespace drivewire
