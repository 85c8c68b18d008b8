// The speed and position controller tuning programs: the drive's own speed
// or position loop follows a reference profile, with the gains, filter
// slots, feed-forward terms, saturations and control error protections its
// registers hold, so that the user sees the response the tuned drive gives.
//
// "Speed_Controller_Tuning_Test": the profile is the speed reference of the
// speed loop (counts per speed-loop period).
// "Position_Controller_Tuning_Test_with_SpdCtrl": the profile is the
// position reference (encoder counts) of the position PI around the speed
// loop; "..._without_SpdCtrl": of the position PID on the current. Each
// runs its loop whatever "ACR" configures: the host picks the program that
// fits the structure it tunes.
//
// The profile: six segments i = 0 to 5 in order, "a<i>" speed-loop periods
// each (16-bit counts; below 0 counts as 0), during which the reference
// grows by "b<i>" every period (16.16 fixed point). The sums are kept in
// whole 1/65536 units, so a profile whose increments add up to 0 comes back
// to exactly 0. The reference of the first speed-loop period is 0, that of
// period p the sum of the increments of periods 0 to p - 1: a cycle of
// T = a0 + ... + a5 periods ends holding the sum of all of them for one
// period more. "MultiC" 0: one cycle, then the program ends and the axis
// goes off; otherwise the cycles follow one another (each starting from
// where the last one left the reference) until the host stops the program.
// The data logger records from the first period of the profile.
//
// Inputs besides the profile:
// - "RefTest", "RIncTest": the voltage and ramp of the preliminary
//   positioning, taken but not needed: the electrical angle reference the
//   positioning set in the drive stays valid as long as the encoder counts;
// - "IlimPS_Test" (converter counts): the test's limit of the current
//   reference, in place of "SATS" (speed loop) or "SATP" (PID); 0 or less:
//   the register's;
// - "LimitSpeed_Test" (counts per speed-loop period; position over the
//   speed loop only): the limit of the speed reference the position loop
//   gives, in place of "SATP"; 0 or less: the register's;
// - "Imax_Prot_Test" (converter counts; 0 or less: none): the program's own
//   over-current protection. A current magnitude beyond it for more than
//   "TIMAXPROT" speed-loop periods ends the run with "test_flag" 0, without
//   a bit in "MER", so that the host still uploads what was recorded.
//
// "test_flag" is 1 from the power-up on (the host checks it while cycles
// repeat) and stays 1 through a run that ends normally or is stopped; 0
// when a current protection ended the run, the program's own or the
// drive's ("IMAXPROT" or a short circuit, which also set "MER" bit 1). Any
// other drive protection (control error, limit switch, ENABLE) turns the
// axis off with its bit in "MER", which says why.
//
// Live variables the host polls and logs (drive units): "Speed_Reference"
// and "Load_Speed" (counts per speed-loop period), "Target_Position" and
// "Load_Position" (encoder counts). The position programs count the
// position from where the mover stands at their start, so "Target_Position"
// is the profile itself and "Load_Position" follows it from 0.
#include <array>

#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

enum class Reference { Speed, PositionOverSpeedLoop, PositionPid };

class ProfileProgram : public TestProgram {
 public:
  explicit ProfileProgram(Reference reference) : m_reference(reference) {}

  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (!m_started) {
      m_started = true;
      if (!PowerUp(c)) return false;
      c.Set("test_flag", 1.0);
      Begin(c);
    } else if (!d.AxisOn()) {
      // A protection of the drive stopped the run.
      if ((d.Mer() & kMerShortCircuit) != 0) c.Set("test_flag", 0.0);
      return false;
    }
    if (m_overCurrent.Trips(d.CurrentMagnitude())) {
      c.Set("test_flag", 0.0);
      return false;
    }
    if (!d.SpeedLoopTick()) return true;  // the loops hold the reference
    if (!m_profileStarted) {
      m_profileStarted = true;
      c.StartLogging();
    } else if (!NextPeriod()) {
      return false;  // one cycle done
    }
    Apply(d);
    return true;
  }

 private:
  static constexpr int kSegments = 6;
  static constexpr const char* kCounts[kSegments] = {"a0", "a1", "a2", "a3", "a4", "a5"};
  static constexpr const char* kIncrements[kSegments] = {"b0", "b1", "b2", "b3", "b4", "b5"};

  void Begin(ProgramContext& c) {
    DriveFirmware& d = c.drive;
    for (int i = 0; i < kSegments; ++i) {
      const auto k = static_cast<std::size_t>(i);
      // Inputs are stored as their types hold them: whole counts of 16
      // bits, increments in whole 1/65536 units of 32 bits.
      m_counts[k] = static_cast<std::int64_t>(std::max(0.0, c.Get(kCounts[i])));
      m_increments[k] = static_cast<std::int64_t>(std::nearbyint(c.Get(kIncrements[i]) * 65536.0));
      m_total += m_counts[k];
    }
    m_multiCycle = c.Get("MultiC") != 0.0;
    m_overCurrent.Arm(c);
    const bool position = m_reference != Reference::Speed;
    d.SetProgramLoopLimits(c.Get("IlimPS_Test"),
                           m_reference == Reference::PositionOverSpeedLoop ? c.Get("LimitSpeed_Test") : 0.0);
    if (position) {
      d.ZeroPositionCounter();
      m_origin = d.Position();
    }
    m_segment = 0;
    m_left = m_counts[0];
    Apply(d);
  }

  // Adds the increment of the period that has just ended; false at the end
  // of a single cycle (or of an empty profile, which has nothing to repeat).
  bool NextPeriod() {
    while (m_left == 0) {
      if (++m_segment == kSegments) {
        if (!m_multiCycle || m_total == 0) return false;
        m_segment = 0;
      }
      m_left = m_counts[static_cast<std::size_t>(m_segment)];
    }
    m_sum += m_increments[static_cast<std::size_t>(m_segment)];
    --m_left;
    return true;
  }

  void Apply(DriveFirmware& d) const {
    const double value = static_cast<double>(m_sum) / 65536.0;
    switch (m_reference) {
      case Reference::Speed:
        d.ApplySpeed(value);
        break;
      case Reference::PositionOverSpeedLoop:
        d.ApplyPosition(m_origin + value, PositionLoop::OverSpeedLoop);
        break;
      case Reference::PositionPid:
        d.ApplyPosition(m_origin + value, PositionLoop::Pid);
        break;
    }
  }

  const Reference m_reference;
  bool m_started = false, m_profileStarted = false, m_multiCycle = false;
  std::array<std::int64_t, kSegments> m_counts{}, m_increments{};
  std::int64_t m_total = 0, m_left = 0, m_sum = 0;  // m_sum in 1/65536 units
  int m_segment = 0;
  double m_origin = 0.0;
  TestCurrentWatch m_overCurrent;
};

}  // namespace

std::unique_ptr<TestProgram> MakeSpeedTuningTest() { return std::make_unique<ProfileProgram>(Reference::Speed); }
std::unique_ptr<TestProgram> MakePositionTuningTestWithSpeedLoop() {
  return std::make_unique<ProfileProgram>(Reference::PositionOverSpeedLoop);
}
std::unique_ptr<TestProgram> MakePositionTuningTestWithoutSpeedLoop() {
  return std::make_unique<ProfileProgram>(Reference::PositionPid);
}

}  // namespace virtualdrive
