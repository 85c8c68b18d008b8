#include "virtualdrive/MotionLoops.h"

#include <algorithm>
#include <cmath>

namespace virtualdrive {
namespace {

double Saturate(double x, double limit) { return std::clamp(x, -limit, limit); }

// A program's own limit, when it set one, takes the register's place.
double LimitOf(double registerLimit, double programLimit) {
  return programLimit > 0.0 ? std::min(programLimit, 32767.0) : registerLimit;
}

}  // namespace

BiquadCoefficientSet BiquadCoefficientSet::FromRegisters(double b0, double b1, double b2, double a1, double a2,
                                                         double sf) {
  const double scale = sf / 2147483648.0;  // SF / 2^31
  return {b0 * scale, b1 * scale, b2 * scale, a1 * scale, a2 * scale};
}

void BiquadChain::Configure(const BiquadCoefficientSet* first, int count) {
  m_count = std::clamp(count, 0, kDriveBiquadSlots);
  for (int k = 0; k < m_count; ++k) m_slots[static_cast<std::size_t>(k)] = first[k];
}

double BiquadChain::Filter(double x) {
  for (int k = 0; k < m_count; ++k) {
    const BiquadCoefficientSet& c = m_slots[static_cast<std::size_t>(k)];
    State& s = m_state[static_cast<std::size_t>(k)];
    const double y = c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2;
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = y;
    x = y;
  }
  return x;
}

void MotionLoops::Configure(const MotionSettings& settings) {
  m_s = settings;
  // Slots are taken in the order speed reference, current reference, speed
  // feedback, each location's share consecutive, never beyond slot 3.
  const int speedReference = std::clamp(m_s.speedReferenceSlots, 0, kDriveBiquadSlots);
  const int currentReference = std::clamp(m_s.currentReferenceSlots, 0, kDriveBiquadSlots - speedReference);
  const int speedFeedback =
      std::clamp(m_s.speedFeedbackSlots, 0, kDriveBiquadSlots - speedReference - currentReference);
  m_speedReferenceFilter.Configure(m_s.slots.data(), speedReference);
  m_currentReferenceFilter.Configure(m_s.slots.data() + speedReference, currentReference);
  m_speedFeedbackFilter.Configure(m_s.slots.data() + speedReference + currentReference, speedFeedback);
}

void MotionLoops::Reset(double position_counts, double speedReference, double positionReference_counts) {
  m_speedReferenceFilter.Reset();
  m_currentReferenceFilter.Reset();
  m_speedFeedbackFilter.Reset();
  m_lastPosition = position_counts;
  m_speed = 0.0;
  m_speedIntegral = m_positionIntegral = m_derivative = 0.0;
  m_speedReference = m_lastSpeedReference = speedReference;
  m_positionReference = m_lastPositionReference = positionReference_counts;
  m_positionError = m_lastPositionError = positionReference_counts - position_counts;
  m_referenceSpeed = 0.0;
}

void MotionLoops::Measure(double position_counts) {
  m_speed = m_s.ticksPerSpeedPeriod * (position_counts - m_lastPosition);
  m_lastPosition = position_counts;
}

double MotionLoops::Finish(double control, double acceleration, double limit) {
  return Saturate(m_currentReferenceFilter.Filter(control) + m_s.accelerationFeedForward * acceleration +
                      m_s.gravityCurrent + m_currentInjection,
                  limit);
}

double MotionLoops::SpeedLaw(double speedReference, double acceleration) {
  m_speedReference = speedReference;
  const double error = speedReference - m_speedFeedbackFilter.Filter(m_speed);
  m_speedIntegral = Saturate(m_speedIntegral + m_s.kiSpeed * error, m_s.speedIntegralLimit);
  return Finish(m_s.kpSpeed * error + m_speedIntegral, acceleration,
                LimitOf(m_s.speedCurrentLimit, m_s.programCurrentLimit));
}

double MotionLoops::SpeedTick(double speedReference, double position_counts) {
  Measure(position_counts);
  const double acceleration = m_s.ticksPerSpeedPeriod * (speedReference - m_lastSpeedReference);
  m_lastSpeedReference = speedReference;
  return SpeedLaw(speedReference, acceleration);
}

double MotionLoops::PositionTick(PositionLoop loop, double positionReference_counts, double position_counts) {
  Measure(position_counts);
  const double referenceSpeed = m_s.ticksPerSpeedPeriod * (positionReference_counts - m_lastPositionReference);
  const double acceleration = m_s.ticksPerSpeedPeriod * (referenceSpeed - m_referenceSpeed);
  m_lastPositionReference = m_positionReference = positionReference_counts;
  m_referenceSpeed = referenceSpeed;

  m_positionError = positionReference_counts - position_counts;
  m_positionIntegral = Saturate(m_positionIntegral + m_s.kiPosition * m_positionError, m_s.positionIntegralLimit);
  const double proportionalIntegral = m_s.kpPosition * m_positionError + m_positionIntegral;
  if (loop == PositionLoop::OverSpeedLoop) {
    m_lastPositionError = m_positionError;
    const double speedReference =
        Saturate(m_speedReferenceFilter.Filter(proportionalIntegral) + m_s.speedFeedForward * referenceSpeed +
                     m_speedInjection,
                 LimitOf(m_s.positionOutputLimit, m_s.programSpeedLimit));
    m_lastSpeedReference = speedReference;
    return SpeedLaw(speedReference, acceleration);
  }
  m_derivative += m_s.derivativeFilter * ((m_positionError - m_lastPositionError) - m_derivative);
  m_lastPositionError = m_positionError;
  m_speedReference = referenceSpeed;  // what the speed error protection compares with
  return Finish(proportionalIntegral + m_s.kdPosition * m_derivative, acceleration,
                LimitOf(m_s.positionOutputLimit, m_s.programCurrentLimit));
}

}  // namespace virtualdrive
