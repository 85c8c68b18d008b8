#include "virtualdrive/DriveScope.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "virtualdrive/DriveFirmware.h"

namespace virtualdrive {
namespace {

void PushLong(std::vector<std::uint16_t>& words, std::uint32_t value) {
  words.push_back(static_cast<std::uint16_t>(value & 0xFFFFu));
  words.push_back(static_cast<std::uint16_t>(value >> 16));
}

// A value in 1/256 of the drive's unit, held to the 32-bit range, as the
// two's complement the frame carries.
std::uint32_t Encode(double value) {
  double scaled = std::nearbyint(value * ScopeSettings::kValueScale);
  if (!(scaled == scaled)) scaled = 0.0;  // a NaN reads as 0
  scaled = std::clamp(scaled, -2147483648.0, 2147483647.0);
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled));
}

}  // namespace

bool DriveScope::Start(const ScopeSettings& settings, DriveFirmware& drive, std::string& error) {
  if (settings.variables.empty() || settings.variables.size() > static_cast<std::size_t>(ScopeSettings::kMaxChannels)) {
    error = "the scope takes 1 to " + std::to_string(ScopeSettings::kMaxChannels) + " variables, not " +
            std::to_string(settings.variables.size());
    return false;
  }
  if (settings.divider < 1 || settings.divider > 1000) {
    error = "the scope's divider must be 1 to 1000 speed-loop periods, not " + std::to_string(settings.divider);
    return false;
  }
  std::vector<const double*> sources;
  for (const std::string& name : settings.variables) {
    const double* source = drive.VariableAddress(name);
    if (source == nullptr) {
      error = "the scope cannot show \"" + name + "\": the drive has no such variable";
      return false;
    }
    sources.push_back(source);
  }
  Stop();
  m_sources = std::move(sources);
  m_divider = settings.divider;
  m_started = true;
  return true;
}

void DriveScope::Stop() {
  m_started = false;
  m_sampled = false;
  m_countdown = 0;
  m_nextIndex = 0;
  m_words.clear();
  m_held = 0;
}

void DriveScope::SpeedLoopTick(double speedLoopPeriod_s) {
  if (!m_started) return;
  if (!m_sampled) {
    m_sampled = true;
    const double period_s = speedLoopPeriod_s * m_divider;
    m_period_ns = static_cast<std::uint32_t>(std::clamp(std::nearbyint(period_s * 1e9), 1.0, 4294967295.0));
    m_frameSamples = std::clamp(static_cast<int>(std::floor(ScopeSettings::kMaxFrameTime_s / period_s + 1e-9)), 1,
                                ScopeSettings::kMaxSamplesPerFrame);
  }
  if (m_countdown > 0) {
    --m_countdown;
    return;
  }
  m_countdown = m_divider - 1;
  if (m_held == 0) m_frameFirst = m_nextIndex;
  for (const double* source : m_sources) PushLong(m_words, Encode(*source));
  ++m_nextIndex;
  if (++m_held >= m_frameSamples) Send();
}

void DriveScope::ProgramEnded() {
  if (!m_started || !m_sampled) return;
  if (m_held > 0) Send();
  Queue(MakeUnsolicitedMessage(kScopeFrameCode, {}));
  Stop();
}

void DriveScope::Send() {
  std::vector<std::uint16_t> payload;
  payload.reserve(ScopeSettings::kHeaderWords + m_words.size());
  PushLong(payload, m_frameFirst);
  PushLong(payload, m_period_ns);
  payload.insert(payload.end(), m_words.begin(), m_words.end());
  Queue(MakeUnsolicitedMessage(kScopeFrameCode, payload));
  m_words.clear();
  m_held = 0;
}

void DriveScope::Queue(UnsolicitedMessage message) {
  if (m_queue.size() >= kQueueFrames) {
    m_queue.pop_front();
    ++m_dropped;
  }
  m_queue.push_back(std::move(message));
}

void DriveScope::Take(std::vector<UnsolicitedMessage>& messages) {
  messages.assign(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
  m_queue.clear();
}

}  // namespace virtualdrive
