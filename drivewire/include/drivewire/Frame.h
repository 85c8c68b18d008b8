// Frames of the drive-link wire protocol (docs/drive-link-protocol.md): how
// requests, answers and the drive's pushed messages cross a byte stream
// (TCP or a serial line). No sockets here: the codec is pure so that both
// ends share it and a fuzzer can feed it anything.
//
// A frame, little-endian:
//   0-1   sync 0xA5 0x5A
//   2-3   n, payload length in bytes, at most kMaxPayload
//   4     axis ID (1-254; 0 addresses the server itself)
//   5     kind: 0 request, 1 answer, 2 pushed by the drive
//   6-7   sequence number
//   8-9   message code
//   10..  payload, n bytes
//   then  CRC-32 (reflected, polynomial 0x04C11DB7, initial and final
//         0xFFFFFFFF) of bytes 2 .. 9 + n
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace drivewire {

inline constexpr std::uint8_t kSync0 = 0xA5;
inline constexpr std::uint8_t kSync1 = 0x5A;
inline constexpr std::size_t kHeaderBytes = 10;
inline constexpr std::size_t kCrcBytes = 4;
// The largest payload: a full scope frame (8 channels x 64 samples x 4
// bytes, its 8-byte header and the 6 bytes of the drive's own message
// header) fits, so does a log chunk of 56 points of 9 values.
inline constexpr std::size_t kMaxPayload = 4096;
inline constexpr std::size_t kMaxFrame = kHeaderBytes + kMaxPayload + kCrcBytes;

enum class Kind : std::uint8_t { Request = 0, Answer = 1, Push = 2 };

struct Frame {
  std::uint8_t axis = 0;
  Kind kind = Kind::Request;
  std::uint16_t sequence = 0;
  std::uint16_t code = 0;
  std::vector<std::uint8_t> payload;
};

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// The bytes of `frame`; a payload longer than kMaxPayload is a programming
// error and yields no bytes.
std::vector<std::uint8_t> Encode(const Frame& frame);

// What a reader refused, by reason.
struct ReaderCounts {
  std::uint64_t frames = 0;      // frames accepted
  std::uint64_t badCrc = 0;      // complete frames whose CRC did not match
  std::uint64_t tooLong = 0;     // headers announcing more than kMaxPayload
  std::uint64_t badKind = 0;     // a kind byte other than 0, 1, 2
  std::uint64_t incomplete = 0;  // frames cut short (Expire)
  std::uint64_t skippedBytes = 0;  // bytes dropped while looking for a sync
  std::uint64_t Refused() const { return badCrc + tooLong + badKind + incomplete; }
};

// Cuts frames out of a byte stream. A header with a bad length or kind, or a
// frame with a bad CRC, is refused and counted, and the search for the next
// sync starts at the byte after the refused sync: a frame that follows a
// damaged one is still found. Never holds more than one frame's bytes.
class FrameReader {
 public:
  // Takes bytes as they arrive; complete frames go to Next.
  void Feed(std::span<const std::uint8_t> bytes);
  // The next accepted frame, oldest first; false when none is waiting.
  bool Next(Frame& frame);
  // The bytes of a frame stopped coming (the line went quiet longer than a
  // frame takes): a frame begun is refused, and the search for a sync
  // starts again at its second byte. A damaged length would otherwise have
  // the reader swallow the frames that follow while it waits for bytes
  // that never come.
  void Expire();
  // Whether part of a frame is waiting for the rest.
  bool Partial() const { return m_start < m_buffer.size(); }
  const ReaderCounts& Counts() const { return m_counts; }

 private:
  void Scan();
  std::vector<std::uint8_t> m_buffer;
  std::size_t m_start = 0;
  std::vector<Frame> m_ready;
  std::size_t m_readyFirst = 0;
  ReaderCounts m_counts;
};

}  // namespace drivewire
