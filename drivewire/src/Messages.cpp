#include "drivewire/Messages.h"

#include <bit>
#include <cstring>

namespace drivewire {

std::size_t LogPointsPerChunk(std::size_t values) {
  if (values == 0) return 0;
  return (kMaxPayload - kAnswerHead) / (values * sizeof(double));
}

PayloadWriter& PayloadWriter::U8(std::uint8_t v) {
  m_bytes.push_back(v);
  return *this;
}
PayloadWriter& PayloadWriter::U16(std::uint16_t v) {
  m_bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
  m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  return *this;
}
PayloadWriter& PayloadWriter::U32(std::uint32_t v) {
  U16(static_cast<std::uint16_t>(v & 0xFFFF));
  return U16(static_cast<std::uint16_t>(v >> 16));
}
PayloadWriter& PayloadWriter::F64(double v) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  U32(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
  return U32(static_cast<std::uint32_t>(bits >> 32));
}
PayloadWriter& PayloadWriter::Str(std::string_view s) {
  const std::size_t n = s.size() > 255 ? 255 : s.size();
  U8(static_cast<std::uint8_t>(n));
  m_bytes.insert(m_bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
  return *this;
}
PayloadWriter& PayloadWriter::Bytes(std::span<const std::uint8_t> b) {
  m_bytes.insert(m_bytes.end(), b.begin(), b.end());
  return *this;
}

const std::uint8_t* PayloadReader::Take(std::size_t n) {
  if (!m_ok || m_bytes.size() - m_at < n) {
    m_ok = false;
    return nullptr;
  }
  const std::uint8_t* p = m_bytes.data() + m_at;
  m_at += n;
  return p;
}
std::uint8_t PayloadReader::U8() {
  const std::uint8_t* p = Take(1);
  return p != nullptr ? p[0] : 0;
}
std::uint16_t PayloadReader::U16() {
  const std::uint8_t* p = Take(2);
  return p != nullptr ? static_cast<std::uint16_t>(p[0] | p[1] << 8) : 0;
}
std::uint32_t PayloadReader::U32() {
  const std::uint32_t low = U16();
  const std::uint32_t high = U16();
  return low | high << 16;
}
double PayloadReader::F64() {
  const std::uint64_t low = U32();
  const std::uint64_t high = U32();
  return std::bit_cast<double>(low | high << 32);
}
std::string PayloadReader::Str() {
  const std::size_t n = U8();
  const std::uint8_t* p = Take(n);
  return p != nullptr ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}
std::span<const std::uint8_t> PayloadReader::Rest() {
  if (!m_ok) return {};
  std::span<const std::uint8_t> rest = m_bytes.subspan(m_at);
  m_at = m_bytes.size();
  return rest;
}

const char* StatusText(Status status) {
  switch (status) {
    case Status::Ok: return "done";
    case Status::Refused: return "the drive refused it";
    case Status::UnknownCode: return "the drive does not know this message";
    case Status::BadPayload: return "the drive could not read the message";
    case Status::AxisInUse: return "the axis is in use by another host";
    case Status::NoSuchAxis: return "no drive answers to this axis";
    case Status::NotGreeted: return "the drive was not greeted";
  }
  return "the drive answered with an unknown status";
}

}  // namespace drivewire
