// "Frequency_Response_Test": the drive runs one of its loops with the gains,
// filter slots and limits its registers hold, and adds a pseudo-random
// binary sequence (PRBS) where the loop's controller hands its output on:
//
// - "Loop" 0, the current loop: to the q-axis voltage command, the current
//   reference 0 on the q axis of the test frame at angle 0 (where the
//   preliminary positioning aligned the mover's flux, so the current makes
//   no force and the mover stands); one tick every current-loop period;
// - "Loop" 1, the speed loop: to the current reference, the speed
//   reference 0; the loop's integral holds the mover near where it started
//   (it is the integral of the position error), the travel check below
//   makes sure; one tick every speed-loop period;
// - "Loop" 2, the position loop "ACR" configures: to the speed reference
//   (position loop over the speed loop) or the current reference (the
//   PID), the position reference where the mover stood.
//
// Why a PRBS: the excitation of a drive is bounded by its peak (the test
// current, the travel), and a binary sequence has crest factor 1, the most
// power for that peak; a maximum-length sequence of 2^n - 1 bits is white
// over the whole band up to the loop's Nyquist frequency (one bit a tick)
// or up to about 0.44 / bit time with longer bits, periodic (the host
// averages whole periods, so there is no leakage), and a shift register
// makes it in a few instructions a tick. A chirp puts its power at one
// frequency at a time and a multisine needs a table or trigonometry every
// tick for a crest factor of 1.4 at best.
//
// Inputs:
// - "Amplitude" (16.16, drive units at the injection point: voltage-command
//   counts, converter counts, counts per speed-loop period): each bit adds
//   +Amplitude or -Amplitude;
// - "Register_Bits" n (5 to 20) and "Bit_Ticks" (1 to 1000, ticks a bit is
//   held): a period of (2^n - 1) Bit_Ticks ticks;
// - "Settle_Ticks": ticks of excitation before the data logger starts (the
//   loop reaches its periodic steady state), "Measure_Ticks" ticks after;
// - "Travel_Limit" (encoder counts; 0 or less: none): the run ends with
//   "test_flag" -2 when the mover gets further than that from its start;
// - "IlimPS_Test" (converter counts; 0 or less: the register's): the limit
//   of the current reference in place of "SATS" (speed loop) or "SATP"
//   (PID), as the tuning tests take it;
// - "Imax_Prot_Test" (converter counts; 0 or less: none): the program's own
//   over-current protection, as in the tuning tests.
//
// Outputs: "test_flag" 1 after a full run, 0 when a current protection
// ended it, -2 when the travel did, -3 when an input is out of range (the
// axis goes off at once); "Travel_Used" the furthest the mover got from
// its start (encoder counts). The logger records at the tick rate from the
// first tick after Settle_Ticks: "Excitation", the signal at the injection
// point with it ("Voltage_Command", "Current_Reference",
// "Speed_Reference"), and the loop's measurement ("IQ", "Load_Speed",
// "Load_Position").
#include <array>

#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

// Galois feedback masks of maximum-length shift registers of 5 to 20 bits
// (each checked for its full period 2^n - 1 by the drive's tests).
constexpr std::array<std::uint32_t, 16> kPrbsMasks = {0x14,   0x30,   0x60,   0xB8,    0x110,   0x240,   0x500,   0x829,
                                                      0x100D, 0x2015, 0x6000, 0xD008, 0x12000, 0x20400, 0x40023, 0x90000};
constexpr int kFewestBits = 5, kMostBits = 20;

class FrequencyResponseTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (!m_started) {
      m_started = true;
      if (!PowerUp(c)) return false;
      c.Set("test_flag", 1.0);
      if (!Begin(c)) {
        c.Set("test_flag", -3.0);
        return false;
      }
    } else if (!d.AxisOn()) {
      if ((d.Mer() & kMerShortCircuit) != 0) c.Set("test_flag", 0.0);
      return false;
    }
    if (m_overCurrent.Trips(d.CurrentMagnitude())) {
      c.Set("test_flag", 0.0);
      return false;
    }
    m_travel = std::max(m_travel, std::abs(d.Position() - m_start));
    c.Set("Travel_Used", Whole(m_travel));
    if (m_travelLimit > 0.0 && m_travel > m_travelLimit) {
      c.Set("test_flag", -2.0);
      return false;
    }
    if (m_loop != 0 && !d.SpeedLoopTick()) return true;  // the loops hold the excitation
    if (m_tick == m_settle) c.StartLogging();
    if (m_tick >= m_settle + m_measure) return false;
    if (m_tick % m_bitTicks == 0) NextBit();
    d.SetInjection(m_point, m_high ? m_amplitude : -m_amplitude);
    ++m_tick;
    return true;
  }

 private:
  bool Begin(ProgramContext& c) {
    DriveFirmware& d = c.drive;
    const double loop = c.Get("Loop"), bits = c.Get("Register_Bits"), bitTicks = c.Get("Bit_Ticks");
    const double settle = c.Get("Settle_Ticks"), measure = c.Get("Measure_Ticks");
    m_amplitude = c.Get("Amplitude");
    if (!(loop == 0.0 || loop == 1.0 || loop == 2.0) || !(bits >= kFewestBits && bits <= kMostBits) ||
        !(bitTicks >= 1.0 && bitTicks <= 1000.0) || !(settle >= 0.0 && settle <= 1e7) ||
        !(measure >= 1.0 && measure <= 1e7) || !(m_amplitude > 0.0))
      return false;
    m_loop = static_cast<int>(loop);
    m_mask = kPrbsMasks[static_cast<std::size_t>(bits) - kFewestBits];
    m_bitTicks = static_cast<std::int64_t>(bitTicks);
    m_settle = static_cast<std::int64_t>(settle);
    m_measure = static_cast<std::int64_t>(measure);
    m_travelLimit = c.Get("Travel_Limit");
    m_overCurrent.Arm(c);
    d.ZeroPositionCounter();
    m_start = d.Position();
    switch (m_loop) {
      case 0:
        m_point = Injection::Voltage;
        d.SetAngleSource(AngleSource::Test);
        d.SetTestAngle(0.0, 0.0);
        d.ApplyCurrent(0.0, 0.0);
        break;
      case 1:
        m_point = Injection::CurrentReference;
        d.SetProgramLoopLimits(c.Get("IlimPS_Test"), 0.0);
        d.ApplySpeed(0.0);
        break;
      default: {
        const PositionLoop loopType = d.ConfiguredPositionLoop();
        m_point = loopType == PositionLoop::OverSpeedLoop ? Injection::SpeedReference : Injection::CurrentReference;
        d.SetProgramLoopLimits(loopType == PositionLoop::Pid ? c.Get("IlimPS_Test") : 0.0, 0.0);
        d.ApplyPosition(m_start, loopType);
        break;
      }
    }
    return true;
  }

  void NextBit() {
    const bool out = (m_register & 1u) != 0;
    m_register >>= 1;
    if (out) m_register ^= m_mask;
    m_high = out;
  }

  bool m_started = false, m_high = false;
  int m_loop = 1;
  Injection m_point = Injection::None;
  std::uint32_t m_mask = 0x240, m_register = 1;
  std::int64_t m_bitTicks = 1, m_settle = 0, m_measure = 1, m_tick = 0;
  double m_amplitude = 0.0, m_start = 0.0, m_travel = 0.0, m_travelLimit = 0.0;
  TestCurrentWatch m_overCurrent;
};

}  // namespace

std::unique_ptr<TestProgram> MakeFrequencyResponseTest() { return std::make_unique<FrequencyResponseTest>(); }

}  // namespace virtualdrive
