// "Initial_Positioning_Test": aligns the mover with the test angle 0 (the
// axis of phase A) and tells the next program the voltage that holds the
// test current there.
//
// In1 (input): the test current, converter counts. The program raises a
// voltage along the angle 0 until the current magnitude reaches In1, lets
// the mover settle into alignment, turns the field a quarter of an
// electrical turn out and back (so that the mover moves whatever its
// starting place) and holds. It then delivers
//   In1       the current magnitude it held (0 when no current could flow);
//             1.2345e100 when the encoder saw no motion: without it the
//             drive cannot set its electrical angle reference;
//   REFTST_V  the voltage amplitude that held In1, voltage-command counts;
//   RINCTST_V the largest voltage change per period it allowed itself, the
//             ramp rate the following programs use.
// Voltage (not current) control: the current loop need not be tuned yet,
// and a regulation of the magnitude alone works with any phase order.
#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

constexpr double kQuarterTurn_steps = kAngleStepsPerTurn / 4.0;

class InitialPositioning : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase != Phase::Start && !d.AxisOn()) return false;  // a protection stopped the run
    const double magnitude = d.CurrentMagnitude();
    if (m_phase != Phase::Start) m_excursion = std::max(m_excursion, std::abs(d.Position() - m_startPosition));
    switch (m_phase) {
      case Phase::Start:
        m_target = c.Get("In1");
        c.Set("In1", kNotDelivered);
        if (!PowerUp(c)) return false;
        if (!(m_target > 0.0)) {
          c.Set("In1", 0.0);
          return false;
        }
        m_startPosition = d.Position();
        m_regulator.limit = d.VoltageLimit();
        // The start voltage of the drive ("REFTST") is reached in 400 periods.
        m_regulator.maxStep = std::max(1.0, Whole(d.Register("REFTST") / 400.0));
        d.SetAngleSource(AngleSource::Test);
        d.SetTestAngle(0.0, 0.0);
        m_phase = Phase::Ramp;
        break;
      case Phase::Ramp:
        if (magnitude >= m_target) {
          m_regulator.ratio = m_regulator.voltage / magnitude;
          Enter(Phase::Settle, c.Periods(0.1));
        } else if (m_regulator.voltage >= m_regulator.limit) {
          // The current cannot be reached: deliver what flows.
          c.Set("In1", std::trunc(magnitude));
          Deliver(c);
          return false;
        } else {
          m_regulator.voltage = std::min(m_regulator.voltage + m_regulator.maxStep, m_regulator.limit);
        }
        break;
      case Phase::Settle:
        m_regulator.Update(m_target, magnitude);
        if (--m_left == 0) Enter(Phase::TurnOut, c.Periods(0.1));
        break;
      case Phase::TurnOut:
      case Phase::TurnBack: {
        m_regulator.Update(m_target, magnitude);
        const double share = 1.0 - static_cast<double>(--m_left) / static_cast<double>(m_length);
        d.SetTestAngle(kQuarterTurn_steps * (m_phase == Phase::TurnOut ? share : 1.0 - share), 0.0);
        if (m_left == 0) Enter(m_phase == Phase::TurnOut ? Phase::HoldOut : Phase::Hold, c.Periods(0.1));
        break;
      }
      case Phase::HoldOut:
        m_regulator.Update(m_target, magnitude);
        if (--m_left == 0) Enter(Phase::TurnBack, c.Periods(0.1));
        break;
      case Phase::Hold:
        m_regulator.Update(m_target, magnitude);
        if (m_left <= c.Periods(0.02)) {
          m_voltageSum += m_regulator.voltage;
          m_magnitudeSum += magnitude;
          ++m_samples;
        }
        if (--m_left == 0) {
          Deliver(c);
          // Less than a sixteenth of an electrical turn seen by the encoder
          // over the whole run: the encoder does not count.
          if (m_excursion < d.CountsPerElectricalTurn() / 16.0) return false;
          d.SetAngleReference();
          c.Set("In1", std::trunc(m_magnitudeSum / static_cast<double>(m_samples)));
          return false;
        }
        break;
    }
    d.ApplyVoltage(m_regulator.voltage);
    return true;
  }

 private:
  enum class Phase { Start, Ramp, Settle, TurnOut, HoldOut, TurnBack, Hold };

  void Enter(Phase phase, std::int64_t periods) {
    m_phase = phase;
    m_left = m_length = periods;
  }
  void Deliver(ProgramContext& c) {
    const double held = m_samples > 0 ? m_voltageSum / static_cast<double>(m_samples) : m_regulator.voltage;
    c.drive.SetOutput("REFTST_V", Whole(held));
    c.drive.SetOutput("RINCTST_V", m_regulator.maxStep);
  }

  Phase m_phase = Phase::Start;
  VoltageRegulator m_regulator;
  double m_target = 0.0;
  std::int64_t m_left = 0, m_length = 1;
  double m_startPosition = 0.0, m_excursion = 0.0;
  double m_voltageSum = 0.0, m_magnitudeSum = 0.0;
  std::int64_t m_samples = 0;
};

}  // namespace

std::unique_ptr<TestProgram> MakeInitialPositioning() { return std::make_unique<InitialPositioning>(); }

}  // namespace virtualdrive
