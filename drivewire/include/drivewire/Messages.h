// The messages of the drive-link wire protocol: codes, answer statuses and
// the field encoding, shared by the host's client and the drive's server.
// docs/drive-link-protocol.md is the table a drive's firmware implements.
//
// Fields are little-endian: u8, u16, u32, f64 (IEEE 754 binary64) and str
// (a u8 length, then that many bytes, no terminator). Every request's
// payload starts with the host's clock time (f64, seconds); every answer's
// with a status (u8) and the drive's clock time (f64, seconds), then, for
// status Ok, the answer's fields, else one str, the drive's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivewire/Frame.h"

namespace drivewire {

inline constexpr std::uint16_t kProtocolVersion = 1;

enum Code : std::uint16_t {
  kHello = 0x01,        // u16 version, str host -> u16 version, str product, str firmware, u8 axis, u8 clock mode
  kKeepAlive = 0x02,    // -> (nothing)
  kRestart = 0x03,      // -> (nothing); the axis as after power-on, its clock at the request's time
  kReadVariable = 0x10,   // str name -> f64 value
  kWriteVariable = 0x11,  // str name, f64 value -> (nothing)
  kWriteRegister = 0x12,  // str name, f64 value, u8 flags -> (nothing)
  kSetProgramVariable = 0x13,  // str program, str name, f64 value -> (nothing)
  kGetProgramVariable = 0x14,  // str program, str name -> f64 value
  kStartProgram = 0x15,  // str program, u8 logger, [u32 points, u8 type, u32 step, u8 n, n x str] -> (nothing)
  kStopProgram = 0x16,   // -> (nothing)
  kGetAxisOn = 0x17,     // -> u8 on
  kLogSize = 0x18,       // -> u32 points, u8 values per point
  kLogChunk = 0x19,      // u32 first, u16 count -> count x values x f64
  kStartScope = 0x1A,    // u16 divider, u8 n, n x str -> (nothing)
  kStopScope = 0x1B,     // -> (nothing)
  kBenchAnalogue = 0x30,  // f64 volts -> (nothing)
  kBenchMove = 0x31,      // f64 distance_m, f64 duration_s -> (nothing)
  kPlantText = 0x32,      // u32 offset -> u32 total, then the bytes from offset (at most kMaxTextChunk)
  kWrittenVariables = 0x33,  // -> u8 n, n x str: the drive variables the last program run wrote
  kDriveMessage = 0x80,   // pushed: the drive's unsolicited message, its bytes as they came
};

enum class Status : std::uint8_t {
  Ok = 0,
  Refused = 1,      // the drive could not do it; the str says why
  UnknownCode = 2,  // the drive does not know the message code
  BadPayload = 3,   // the fields do not parse
  AxisInUse = 4,    // another host controls the axis
  NoSuchAxis = 5,   // no drive answers to this axis ID
  NotGreeted = 6,   // a request before the greeting on this connection
};

enum class ClockMode : std::uint8_t { Lockstep = 0, Realtime = 1 };

// kWriteRegister flags.
inline constexpr std::uint8_t kRegisterInteger = 0x01;  // the drive keeps the value rounded to an integer

// A request's time and an answer's status and time take this much before
// the fields.
inline constexpr std::size_t kRequestHead = 8;
inline constexpr std::size_t kAnswerHead = 9;
// The bytes of text one kPlantText answer carries.
inline constexpr std::size_t kMaxTextChunk = kMaxPayload - kAnswerHead - 4;
// The points one kLogChunk answer carries for `values` values per point.
std::size_t LogPointsPerChunk(std::size_t values);

class PayloadWriter {
 public:
  PayloadWriter& U8(std::uint8_t v);
  PayloadWriter& U16(std::uint16_t v);
  PayloadWriter& U32(std::uint32_t v);
  PayloadWriter& F64(double v);
  // Longer texts are cut at 255 bytes (names on a drive are short; a
  // reason is one line).
  PayloadWriter& Str(std::string_view s);
  PayloadWriter& Bytes(std::span<const std::uint8_t> b);
  std::vector<std::uint8_t>& Payload() { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// Reads fields in order; after a read past the end every read fails and
// Ok() is false, so a parser checks once at the end.
class PayloadReader {
 public:
  explicit PayloadReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  double F64();
  std::string Str();
  std::span<const std::uint8_t> Rest();
  bool Ok() const { return m_ok; }
  bool AtEnd() const { return m_ok && m_at == m_bytes.size(); }

 private:
  const std::uint8_t* Take(std::size_t n);
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_at = 0;
  bool m_ok = true;
};

// What a status says to the user when the drive gives no text.
const char* StatusText(Status status);

}  // namespace drivewire
