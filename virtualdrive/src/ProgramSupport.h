// Pieces the test programs share.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "virtualdrive/DriveFirmware.h"
#include "virtualdrive/TestProgram.h"

namespace virtualdrive {

// Slow integral regulation of a voltage amplitude until a measured current
// reaches its target. The correction per period is `gain` times the
// current error turned into volts with the winding's ratio of voltage to
// current (known from a previous run or from the end of a ramp), and at
// most `maxStep` counts: a loop 1 / gain periods slow. On a winding of
// electrical time constant tau periods it is damped by 1 / (2 sqrt(gain
// tau)): the default hundredth settles without overshoot up to tau of
// about 25 periods and rings on slower windings; a program that needs a
// settled current on any winding takes a smaller gain.
struct VoltageRegulator {
  double voltage = 0.0;
  double ratio = 1.0;    // voltage counts per current count
  double maxStep = 1.0;  // counts per period
  double limit = 32767.0;
  double gain = 0.01;    // per period

  void Update(double target, double measured) {
    const double step = std::clamp(gain * ratio * (target - measured), -maxStep, maxStep);
    voltage = std::clamp(voltage + step, 0.0, limit);
  }
};

// A test program's own over-current protection: the current above the
// program's "Imax_Prot_Test" for more than "TIMAXPROT" speed-loop periods
// stops the run (a profile that asks more than the test allows).
struct TestCurrentWatch {
  double limit = 0.0;  // converter counts; 0 or less: off
  std::int64_t periods = 0, count = 0;

  void Arm(ProgramContext& context) {
    limit = context.Get("Imax_Prot_Test");
    periods = static_cast<std::int64_t>(std::clamp(context.drive.Register("TIMAXPROT"), 0.0, 1e6)) *
              static_cast<std::int64_t>(context.drive.SlowLoopDivider());
  }
  // Once per current-loop period: true when the protection trips.
  bool Trips(double currentMagnitude) {
    if (!(limit > 0.0 && currentMagnitude > limit)) {
      count = 0;
      return false;
    }
    return ++count > periods;
  }
};

// Turns the axis on and reports the program as started; false when the
// drive refused (its error register says why).
inline bool PowerUp(ProgramContext& context) {
  context.Set("STARTED", 1.0);
  return context.drive.TurnAxisOn();
}

// Whole counts, as the drive stores its variables.
inline double Whole(double value) { return std::nearbyint(value); }

// A measuring phase runs as long as the armed logger needs, or `fallback`
// periods without one; never more than 30 simulated seconds.
inline std::int64_t MeasuringPeriods(const ProgramContext& context, std::int64_t fallback) {
  const std::int64_t wanted = context.LoggerArmed() ? context.LoggerSpanPeriods() + 1 : fallback;
  return std::min(wanted, context.Periods(30.0));
}

}  // namespace virtualdrive
