// The programs that identify the motor and its wiring: phase connection,
// supply voltage, resistance, inductance, encoder resolution and direction.
// Each works in the test frame, at the angle where the positioning program
// left the mover (0) unless it turns the field itself.
#include <numbers>

#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

// Base of the programs that run a fixed sequence of timed phases.
class PhasedProgram : public TestProgram {
 protected:
  void Enter(int phase, std::int64_t periods) {
    m_phase = phase;
    m_left = periods;
  }
  // Counts the current phase down; true on its last period.
  bool PhaseEnds() { return --m_left <= 0; }

  int m_phase = 0;
  std::int64_t m_left = 0;
};

// "Motor_Phase_Connection_Test": the voltage "RefTest" (the one that held
// the test current in the positioning run) along phase A, held open-loop;
// after 40 ms the currents of phases A and B, averaged over 20 ms, go to
// "var_i1" and "var_i2" (converter counts). A sound star or delta winding
// answers A = I, B = -I/2; an open lead or crossed phases answer otherwise.
class PhaseConnectionTest : public PhasedProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase == 0) {
      if (!PowerUp(c)) return false;
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, 0.0);
      d.ApplyVoltage(c.Get("RefTest"));
      Enter(1, c.Periods(0.04));
      return true;
    }
    if (!d.AxisOn()) return false;
    if (m_phase == 1) {
      if (PhaseEnds()) Enter(2, m_samples = c.Periods(0.02));
      return true;
    }
    m_sumA += d.PhaseA();
    m_sumB += d.PhaseB();
    if (!PhaseEnds()) return true;
    d.SetOutput("var_i1", Whole(m_sumA / static_cast<double>(m_samples)));
    d.SetOutput("var_i2", Whole(m_sumB / static_cast<double>(m_samples)));
    return false;
  }

 private:
  double m_sumA = 0.0, m_sumB = 0.0;
  std::int64_t m_samples = 1;
};

// "VDC_Detection_Test": 256 readings of the supply voltage converter,
// averaged into "var_u2" (converter counts). The power stage stays off, so
// "STARTED" is set only when the reading is there.
class VdcDetection : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    m_sum += c.drive.SupplyReading();
    if (++m_samples < kSamples) return true;
    c.drive.SetOutput("var_u2", Whole(m_sum / kSamples));
    c.Set("STARTED", 1.0);
    return false;
  }

 private:
  static constexpr int kSamples = 256;
  double m_sum = 0.0;
  int m_samples = 0;
};

// "Ident_R_or_Rs": a steady current "In1" along the aligned axis. The
// voltage starts at "RefTest" and is regulated (at most "RIncTest" counts a
// period) for at least 250 ms and until the mover has stood still for
// 150 ms, then held; after 10 ms more the logger records (the test logs
// "IQ") while the supply is read. Delivers "var_i1", the held voltage
// (counts), and "var_u2", the mean supply reading (counts). Two runs at two
// currents give the resistance from the differences, free of the bridge's
// constant dead-time drop.
//
// Only a steady current in a mover at rest gives the resistance:
// - The current lies along the axis the positioning aligned the mover
//   with, but friction leaves the mover a few electrical degrees off (more
//   at a lower current than the positioning used), and a low-resistance
//   winding brakes the mover so hard (its back-EMF drives a large current)
//   that it is still creeping into alignment when the positioning ends. A
//   mover moving at an angle to the current takes mechanical power from
//   it: its back-EMF has a part along the current, which the regulated
//   voltage covers and which would read as resistance (several per cent at
//   0.5 ohm). Hence the wait for standstill (at most 5 s; a mover that never
//   stops is measured as it is).
// - The regulation takes a thousandth of the error a period, a loop 50 ms
//   slow and well damped on windings up to L/R = 25 ms (the usual
//   hundredth rings on such a winding and leaves its current swinging).
//   The start voltage already held about this current, so the loop only
//   trims it.
// - Standstill for 150 ms lets the current settle after the last motion on
//   windings up to L/R = 30 ms.
class ResistanceTest : public PhasedProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase == 0) {
      if (!PowerUp(c)) return false;
      m_target = c.Get("In1");
      const double start = c.Get("RefTest");
      m_regulator.voltage = std::max(0.0, start);
      m_regulator.ratio = start > 0.0 && m_target > 0.0 ? start / m_target : 1.0;
      m_regulator.maxStep = std::max(1.0, std::abs(c.Get("RIncTest")));
      m_regulator.limit = d.VoltageLimit();
      m_regulator.gain = 0.001;
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, 0.0);
      m_stillFor = c.Periods(0.15);
      m_longest = c.Periods(5.0);
      m_position = d.Position();
      Enter(1, c.Periods(0.25));
    } else {
      if (!d.AxisOn()) return false;
      if (m_phase == 1) {
        m_regulator.Update(m_target, d.Iq());
        if (d.Position() != m_position) {
          m_position = d.Position();
          m_still = 0;
        } else {
          ++m_still;
        }
        const bool regulated = PhaseEnds();
        if ((regulated && m_still >= m_stillFor) || --m_longest <= 0) Enter(2, c.Periods(0.01));
      } else if (m_phase == 2) {
        if (PhaseEnds()) {
          c.StartLogging();
          Enter(3, MeasuringPeriods(c, c.Periods(0.02)));
        }
      } else {
        m_supplySum += d.SupplyReading();
        ++m_supplySamples;
        if (PhaseEnds()) {
          d.SetOutput("var_i1", Whole(m_regulator.voltage));
          d.SetOutput("var_u2", Whole(m_supplySum / static_cast<double>(m_supplySamples)));
          return false;
        }
      }
    }
    d.ApplyVoltage(m_regulator.voltage);
    return true;
  }

 private:
  VoltageRegulator m_regulator;
  double m_target = 0.0;
  // Standstill: periods the encoder count has not changed, and how many
  // make it; the periods left before measuring without it.
  double m_position = 0.0;
  std::int64_t m_still = 0, m_stillFor = 1, m_longest = 1;
  double m_supplySum = 0.0;
  std::int64_t m_supplySamples = 0;
};

// "Ident_L_or_Tau_el": a voltage vector turning at 1/32 of the current-loop
// rate (the angle advances "TINCTST" steps a period), its amplitude raised
// until the current amplitude reaches "In1", then held; after 20 ms the
// logger records (the test logs "IQ" and "ID"). In the turning test frame
// the current is steady: "IQ" is its part in phase with the voltage, "ID"
// the part lagging 90 degrees, ID / |i|^2 = omega L / |V|. Delivers
// "var_i1", the voltage amplitude (counts), and "TINCTST".
class InductanceTest : public PhasedProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase == 0) {
      if (!PowerUp(c)) return false;
      m_target = c.Get("In1");
      m_limit = d.VoltageLimit();
      m_step = std::max(1.0, Whole(m_limit / 2000.0));
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, kIncrement_steps);
      d.SetOutput("TINCTST", kIncrement_steps);
      Enter(1, 0);
    } else {
      if (!d.AxisOn()) return false;
      if (m_phase == 1) {
        if (d.CurrentMagnitude() >= m_target || m_amplitude >= m_limit) {
          Enter(2, c.Periods(0.02));
        } else {
          m_amplitude = std::min(m_amplitude + m_step, m_limit);
        }
      } else if (m_phase == 2) {
        if (PhaseEnds()) {
          c.StartLogging();
          Enter(3, MeasuringPeriods(c, c.Periods(0.05)));
        }
      } else if (PhaseEnds()) {
        d.SetOutput("var_i1", Whole(m_amplitude));
        return false;
      }
    }
    d.ApplyVoltage(m_amplitude);
    return true;
  }

 private:
  static constexpr double kIncrement_steps = 2048.0;  // 65534 / 32, rounded
  double m_target = 0.0, m_limit = 0.0, m_step = 1.0, m_amplitude = 0.0;
};

// "Encoder_Resolution_And_Direction_Test": the voltage "RefTest" along the
// aligned axis for 50 ms, then the field turned at one electrical turn a
// second (the mover follows one pole pitch per turn): an eighth of a turn
// to get the mover going, the "PolesPairs" measured turns and an eighth
// more, then held 100 ms. "var_lf_long" counts the encoder lines, each with
// the "ELRES_FRACT" fraction bits, from the moment the field enters the
// measured turns, and keeps the count it had when they end. Friction makes
// the mover lag the field, but by the same distance all through the steady
// motion, so the count is that of exactly PolesPairs pole pitches: positive
// when the encoder counts the way the field turns, negative when one of
// them is reversed, about zero when the encoder or the motor does not
// follow.
class EncoderResolutionTest : public PhasedProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_phase == 0) {
      if (!PowerUp(c)) return false;
      m_turns = std::clamp(std::trunc(c.Get("PolesPairs")), 1.0, 100.0);
      d.SetOutput("var_lf_long", 0.0);
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, 0.0);
      d.ApplyVoltage(c.Get("RefTest"));
      Enter(1, c.Periods(0.05));
      return true;
    }
    if (!d.AxisOn()) return false;
    if (m_phase == 1) {
      if (PhaseEnds()) {
        // Whole periods a turn, so that the measured turns begin and end
        // at the same electrical angle.
        m_perTurn = c.Periods(1.0);
        m_from = std::max<std::int64_t>(1, m_perTurn / 8);
        m_to = m_from + static_cast<std::int64_t>(m_turns) * m_perTurn;
        m_elapsed = 0;
        Enter(2, m_to + m_from);
      }
      return true;
    }
    if (m_phase == 2) {
      // The count taken now is the motion under the angle of the period
      // before: the same at both ends of the measured turns.
      ++m_elapsed;
      if (m_elapsed == m_from) m_start = d.LineCount();
      if (m_elapsed > m_from && m_elapsed <= m_to) d.SetOutput("var_lf_long", d.LineCount() - m_start);
      d.SetTestAngle(static_cast<double>(m_elapsed) / static_cast<double>(m_perTurn) * kAngleStepsPerTurn, 0.0);
      if (PhaseEnds()) Enter(3, c.Periods(0.1));
      return true;
    }
    return !PhaseEnds();
  }

 private:
  double m_turns = 1.0, m_start = 0.0;
  std::int64_t m_perTurn = 1, m_from = 1, m_to = 1, m_elapsed = 0;
};

}  // namespace

std::unique_ptr<TestProgram> MakePhaseConnectionTest() { return std::make_unique<PhaseConnectionTest>(); }
std::unique_ptr<TestProgram> MakeVdcDetection() { return std::make_unique<VdcDetection>(); }
std::unique_ptr<TestProgram> MakeResistanceTest() { return std::make_unique<ResistanceTest>(); }
std::unique_ptr<TestProgram> MakeInductanceTest() { return std::make_unique<InductanceTest>(); }
std::unique_ptr<TestProgram> MakeEncoderResolutionTest() { return std::make_unique<EncoderResolutionTest>(); }

}  // namespace virtualdrive
