// The controller tuning programs.
#include "ProgramSupport.h"

namespace virtualdrive {
namespace {

// "Current_Controller_Tuning_Test": a step of the current reference from 0
// to "In1" (converter counts) on the q axis of the test frame at angle 0,
// the axis along which the positioning program aligned the mover's flux, so
// the step makes no force. The current loop runs with the drive's "KPI",
// "SFTKPI", "KII", "SFTKII", "FILTERQ" (see DriveFirmware::Control). The
// logger records from the start of the run; the step comes after a tenth
// of the recording and holds to its end (50 ms in all without a logger).
// A current magnitude above "Imax_Prot_Test" (when positive) stops the run
// with "test_flag" 0; a full run gives "test_flag" 1.
class CurrentTuningTest : public TestProgram {
 public:
  bool Step(ProgramContext& c) override {
    DriveFirmware& d = c.drive;
    if (m_period == 0) {
      if (!PowerUp(c)) return false;
      m_step = c.Get("In1");
      m_protection = c.Get("Imax_Prot_Test");
      m_total = MeasuringPeriods(c, c.Periods(0.05));
      m_stepAt = std::max<std::int64_t>(1, m_total / 10);
      d.SetAngleSource(AngleSource::Test);
      d.SetTestAngle(0.0, 0.0);
      c.StartLogging();
    } else if (!d.AxisOn()) {
      return false;
    }
    if (m_protection > 0.0 && d.CurrentMagnitude() > m_protection) {
      c.Set("test_flag", 0.0);
      return false;
    }
    if (m_period >= m_total) {
      c.Set("test_flag", 1.0);
      return false;
    }
    d.ApplyCurrent(m_period >= m_stepAt ? m_step : 0.0, 0.0);
    ++m_period;
    return true;
  }

 private:
  std::int64_t m_period = 0, m_total = 1, m_stepAt = 1;
  double m_step = 0.0, m_protection = 0.0;
};

}  // namespace

std::unique_ptr<TestProgram> MakeCurrentTuningTest() { return std::make_unique<CurrentTuningTest>(); }

}  // namespace virtualdrive
