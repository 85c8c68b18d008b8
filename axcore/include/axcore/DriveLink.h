// The drive link: the one way the host reaches a drive.
//
// Parameters (registers), drive variables, test programs with their user
// variables, the power stage state, the data logger and the drive's
// unsolicited messages all go through this interface. Values cross it in the
// drive's internal units (the integers the drive holds, as doubles); the
// setup document converts them to base units. Every operation returns true
// on success and false on failure with the reason in `error`, one line, for
// the user. Implementations: the virtual drive (virtualdrive/); a real
// transport can be added behind the same interface.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the data logger records while a test program runs.
struct LoggerSettings {
  // Number of points to record.
  int points = 0;
  // 1: one point every `step` speed-loop periods (motion); 2: one point
  // every `step` current-loop periods (electrical transients). Element 0 of a point is its time in seconds
  // from the start of the program.
  int logType = 1;
  // Periods between two points, at least 1.
  int step = 1;
  // Drive variables, in the order of elements 1, 2, ... of each point.
  std::vector<std::string> variables;
};

// A message the drive sends on its own, as the bytes it arrives in:
//   bytes 0-1  the number n of 16-bit words of the payload (little-endian);
//   bytes 2-3  reserved (0);
//   bytes 4-5  the message code (little-endian): kScopeFrameCode for a frame
//              of the scope;
//   bytes 6..  the payload, 2 n bytes.
// A link hands the bytes on as they came: a damaged message may be shorter
// than its word count says, so every reader goes through ScopeFramePayload.
struct UnsolicitedMessage {
  std::vector<std::uint8_t> bytes;
};

inline constexpr std::uint16_t kScopeFrameCode = 0xE900;

// The payload of a scope frame: false (and an empty payload) when the
// message is not a scope frame or is shorter than 6 + 2 n bytes, so that
// such a frame is dropped whole rather than read past its end. Bytes beyond
// the payload are ignored. A frame of 0 words is a frame with an empty
// payload (the scope's end of stream, see ScopeSettings).
inline bool ScopeFramePayload(const UnsolicitedMessage& message, std::span<const std::uint8_t>& payload) {
  payload = {};
  const std::vector<std::uint8_t>& b = message.bytes;
  if (b.size() < 6) return false;
  const std::size_t words = static_cast<std::size_t>(b[0]) | static_cast<std::size_t>(b[1]) << 8;
  const unsigned code = static_cast<unsigned>(b[4]) | static_cast<unsigned>(b[5]) << 8;
  if (code != kScopeFrameCode || b.size() < 6 + 2 * words) return false;
  payload = std::span<const std::uint8_t>(b.data() + 6, 2 * words);
  return true;
}

// A message of `code` carrying `words` (at most 65535 of them; more are cut).
inline UnsolicitedMessage MakeUnsolicitedMessage(std::uint16_t code, std::span<const std::uint16_t> words) {
  const std::size_t n = std::min<std::size_t>(words.size(), 0xFFFF);
  UnsolicitedMessage message;
  message.bytes.reserve(6 + 2 * n);
  for (unsigned v : {static_cast<unsigned>(n), 0u, static_cast<unsigned>(code)}) {
    message.bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    message.bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  for (std::size_t k = 0; k < n; ++k) {
    message.bytes.push_back(static_cast<std::uint8_t>(words[k] & 0xFF));
    message.bytes.push_back(static_cast<std::uint8_t>(words[k] >> 8));
  }
  return message;
}

// What the drive's scope streams while a test program runs. Every
// `divider` speed-loop periods it takes one sample of each variable (in the
// first current-loop period of the speed-loop period, where the data
// logger records), and it sends the samples in scope frames, one frame per 64
// samples or per 10 ms of drive time, whichever comes first. The payload of
// a frame, in 16-bit little-endian words:
//   words 0-1  index of the frame's first sample, counted from 0 at the
//              first sample after the scope started (32 bits, low word
//              first); a jump says that frames were lost on the way;
//   words 2-3  the time between two samples, nanoseconds (32 bits);
//   then each sample in turn, each variable of it in the order given: the
//   value in the drive's units times 256, rounded, as a signed 32-bit
//   integer (low word first), held to the 32-bit range.
// When the program ends the drive sends what it still holds, then a frame
// of no words (end of stream), and stops the scope. A scope started while
// no program runs waits for the next one.
struct ScopeSettings {
  // Drive variables, at most kMaxChannels.
  std::vector<std::string> variables;
  // Speed-loop periods between two samples, 1 to 1000.
  int divider = 1;
  static constexpr int kMaxChannels = 8;
  static constexpr int kMaxSamplesPerFrame = 64;
  static constexpr double kMaxFrameTime_s = 0.010;
  static constexpr int kHeaderWords = 4;
  static constexpr double kValueScale = 256.0;
};

class DriveLink {
 public:
  virtual ~DriveLink() = default;

  // Drive variables by name ("MER", "APOS_MT", "REFTST_V" ...).
  virtual bool ReadVariable(std::string_view name, double& value, std::string& error) = 0;
  virtual bool WriteVariable(std::string_view name, double value, std::string& error) = 0;
  // A register or drive constant by name ("KPI", "SATS" ...).
  virtual bool WriteRegister(std::string_view name, double value, std::string& error) = 0;

  // User variables of a test program, by program name and variable name. The
  // program need not run: inputs are written before it starts, outputs read
  // after it has finished. Unknown programs and variables fail.
  virtual bool SetProgramVariable(std::string_view program, std::string_view name, double value,
                                  std::string& error) = 0;
  virtual bool GetProgramVariable(std::string_view program, std::string_view name, double& value,
                                  std::string& error) = 0;
  // Downloads and starts a test program; with `logger` the data logger
  // records while it runs. Fails when the drive refuses the program.
  virtual bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) = 0;
  // Stops the running test program, if any, and turns the power stage off
  // (the user stopped the test or closed its dialog).
  virtual bool StopProgram(std::string& error) = 0;
  // Whether the power stage is on.
  virtual bool GetAxisOn(bool& on, std::string& error) = 0;
  // The points the logger recorded during the last program run.
  virtual bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) = 0;
  // Unsolicited messages that arrived since the last call, oldest first.
  virtual bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) = 0;
  // Starts the drive's scope streaming `settings` (replacing a scope that
  // streams already) and stops it; the frames come as unsolicited messages.
  // A drive without a scope refuses both.
  virtual bool StartScope(const ScopeSettings& settings, std::string& error) {
    (void)settings;
    error = "the drive has no scope";
    return false;
  }
  virtual bool StopScope(std::string& error) {
    error = "the drive has no scope";
    return false;
  }
};
