#include "drivewire/Frame.h"

#include <array>

namespace drivewire {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) c = kCrcTable[(c ^ b) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> Encode(const Frame& frame) {
  if (frame.payload.size() > kMaxPayload) return {};
  const std::size_t n = frame.payload.size();
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kHeaderBytes + n + kCrcBytes);
  auto word = [&](unsigned v) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  };
  bytes.push_back(kSync0);
  bytes.push_back(kSync1);
  word(static_cast<unsigned>(n));
  bytes.push_back(frame.axis);
  bytes.push_back(static_cast<std::uint8_t>(frame.kind));
  word(frame.sequence);
  word(frame.code);
  bytes.insert(bytes.end(), frame.payload.begin(), frame.payload.end());
  const std::uint32_t crc = Crc32(std::span<const std::uint8_t>(bytes).subspan(2));
  word(crc & 0xFFFFu);
  word(crc >> 16);
  return bytes;
}

void FrameReader::Feed(std::span<const std::uint8_t> bytes) {
  // Bytes already scanned are dropped before new ones are kept, so the
  // buffer holds at most one frame and what arrived with it.
  if (m_start > 0) {
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
    m_start = 0;
  }
  m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
  Scan();
}

void FrameReader::Scan() {
  for (;;) {
    // Look for the sync.
    std::size_t i = m_start;
    while (i < m_buffer.size() && !(m_buffer[i] == kSync0 && (i + 1 == m_buffer.size() || m_buffer[i + 1] == kSync1)))
      ++i;
    m_counts.skippedBytes += i - m_start;
    m_start = i;
    if (m_buffer.size() - m_start < kHeaderBytes) return;
    const std::uint8_t* h = m_buffer.data() + m_start;
    const std::size_t n = Word(h + 2);
    if (n > kMaxPayload) {
      ++m_counts.tooLong;
      ++m_start;
      continue;
    }
    if (h[5] > static_cast<std::uint8_t>(Kind::Push)) {
      ++m_counts.badKind;
      ++m_start;
      continue;
    }
    const std::size_t total = kHeaderBytes + n + kCrcBytes;
    if (m_buffer.size() - m_start < total) return;
    const std::uint32_t crc = static_cast<std::uint32_t>(Word(h + kHeaderBytes + n)) |
                              static_cast<std::uint32_t>(Word(h + kHeaderBytes + n + 2)) << 16;
    if (Crc32(std::span<const std::uint8_t>(h + 2, kHeaderBytes - 2 + n)) != crc) {
      ++m_counts.badCrc;
      ++m_start;
      continue;
    }
    Frame frame;
    frame.axis = h[4];
    frame.kind = static_cast<Kind>(h[5]);
    frame.sequence = Word(h + 6);
    frame.code = Word(h + 8);
    frame.payload.assign(h + kHeaderBytes, h + kHeaderBytes + n);
    if (m_readyFirst == m_ready.size()) {
      m_ready.clear();
      m_readyFirst = 0;
    }
    m_ready.push_back(std::move(frame));
    ++m_counts.frames;
    m_start += total;
  }
}

void FrameReader::Expire() {
  if (!Partial()) return;
  ++m_counts.incomplete;
  ++m_start;
  Scan();
}

bool FrameReader::Next(Frame& frame) {
  if (m_readyFirst == m_ready.size()) return false;
  frame = std::move(m_ready[m_readyFirst++]);
  return true;
}

}  // namespace drivewire
