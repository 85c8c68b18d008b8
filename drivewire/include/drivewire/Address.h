// Where a drive is, as --drive names it over a wire:
//   tcp:HOST:PORT[/AXIS]          a drive (or axdrive) on the network
//   serial:DEVICE[:BAUD][/AXIS]   a drive on a serial line (RS-232, RS-485)
// AXIS is the drive's axis ID, 1 to 254 (default 1); BAUD defaults to
// 115200. A serial DEVICE may itself end in "/DIGITS" (/dev/pts/3): the
// last "/DIGITS" is the axis only when a BAUD is given or DEVICE without it
// is not an existing file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace drivewire {

struct Address {
  enum class Transport { Tcp, Serial };
  Transport transport = Transport::Tcp;
  std::string host;    // tcp
  std::uint16_t port = 0;
  std::string device;  // serial
  unsigned baud = 115200;
  std::uint8_t axis = 1;
};

// True when `spec` starts with "tcp:" or "serial:" (a wire, rather than a
// drive in process).
bool IsWireSpec(const std::string& spec);
// The address, or nothing with the reason in `error` (one line that does
// not repeat `spec`).
std::optional<Address> ParseAddress(const std::string& spec, std::string& error);

}  // namespace drivewire
