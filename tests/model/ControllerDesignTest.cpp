// Controller designs on the example motor against the pole-placement
// formulas worked by hand: R 4.2 ohm, L 3.5 mH (tau = 833.3 µs), Kf 25 N/A,
// pole pitch 32 mm, Mt 0.5 kg (m = Mt = 0.5 kg); kV / kI = 1241.174 / 3273.6 =
// 0.379146; Ts_C 50 µs, Ts_S 500 µs; kS = 6400, kP = 12.8e6 counts/m.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "ControllerDesign.h"
#include "EmbeddedExamples.h"
#include "support/TestSetup.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"

namespace {

using std::numbers::pi;
using Design = int (*)(CMC_Setup&, ControllerDesignResult*);

std::unique_ptr<CMC_Setup> Example() {
  auto setup = testing_support::LoadExample();
  // Plain gains: a design's value shows as computed, outside any range.
  for (const char* gain : {"Kp_C_scl", "Ki_C_scl", "Kp_S_scl", "Ki_S_scl", "Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}) {
    setup->FindParameter(gain)->ClearMin();
    setup->FindParameter(gain)->ClearMax();
  }
  return setup;
}

using testing_support::Change;

struct Expected {
  const char* gain;
  double value;
};

TEST(ControllerDesign, GainsOfTheExampleMotor) {
  const struct {
    const char* what;
    std::vector<Change> changes;
    Design design;
    ControllerModel model;
    std::vector<Expected> gains;
  } cases[] = {
      // clang-format off
      // tau > 4 Ts_C, w = 2 pi 1000: Kp = (2 w tau - 1) 4.2 kV/kI = 9.47198 * 1.59241; Ki = w^2 tau 4.2 Ts_C kV/kI.
      {"current", {}, DesignCurrentController, ControllerModel::CurrentPolePlacement,
       {{"Kp_C_scl", 15.0833219}, {"Ki_C_scl", 2.6194187}}},
      // Connection type 1 takes R/3 = 1.4 ohm for the gains but keeps tau.
      {"current, R/3", {{"MotorPhaseConnectionType", 1}}, DesignCurrentController,
       ControllerModel::CurrentPolePlacement, {{"Kp_C_scl", 15.0833219 / 3}, {"Ki_C_scl", 2.6194187 / 3}}},
      // tau = 200 µs = 4 Ts_C exactly is the fast-winding case; with R 1:
      // Kp = (4 / (2 sqrt 2) - 1) kV/kI = 0.414214 * 0.379146; Ki = w Ts_C kV/kI.
      {"current, tau = 4 Ts_C", {{"R", 1}, {"L", 0.0002}}, DesignCurrentController,
       ControllerModel::CurrentFastWinding, {{"Kp_C_scl", 0.1570477}, {"Ki_C_scl", 0.1191124}}},
      // tau < 2 sqrt 2 Ts_C: (0.707107 - 1) * 0.379146, a negative Kp written as computed.
      {"current, negative Kp", {{"R", 1}, {"L", 0.0001}}, DesignCurrentController,
       ControllerModel::CurrentFastWinding, {{"Kp_C_scl", -0.1110495}}},
      // w = 2 pi 100, T = Ts_S: Ki = w^2 T m kI / (kS Kf) = 394784 * 5e-4 * 0.5 * 3273.6 / 160000;
      // Kp = 2 w m kI / (kS Kf). In the fast loop T = Ts_C = Ts_S / 10 while kS keeps Ts_S.
      {"speed", {}, DesignSpeedController, ControllerModel::Speed,
       {{"Ki_S_scl", 2.019321060}, {"Kp_S_scl", 12.85539714}}},
      {"speed, fast loop", {{"PosSpd_in_FastLoop", 1}}, DesignSpeedController, ControllerModel::Speed,
       {{"Ki_S_scl", 0.2019321060}, {"Kp_S_scl", 12.85539714}}},
      {"speed, no fast-loop parameter", {{"PosSpd_in_FastLoop", NAN}}, DesignSpeedController, ControllerModel::Speed,
       {{"Ki_S_scl", 2.019321060}}},
      // The mass is Mt alone: another pole pitch designs the same gains.
      {"speed, another pole pitch", {{"PolePitch", 0.064}}, DesignSpeedController, ControllerModel::Speed,
       {{"Ki_S_scl", 2.019321060}, {"Kp_S_scl", 12.85539714}}},
      // w = 2 pi 20 over the speed loop: Ki = w^2 Ts_S kS / kP = 15791.4 * 5e-4 / 2000; Kp = 2 w / 2000.
      // Over the speed loop no mass data are needed.
      {"position over speed", {{"Mt", NAN}, {"PolePitch", NAN}, {"Kf", NAN}}, DesignPositionController,
       ControllerModel::PositionOverSpeedLoop,
       {{"Ki_P_scl", 0.003947842}, {"Kp_P_scl", 0.1256637}, {"Kd_P_scl", 0}}},
      // PID, c = 3 w = 376.99: Ki = w^3 T m kI / (kP Kf), Kp = c w m kI / (kP Kf), Kd = c m kI / (kP Kf T).
      {"position PID", {{"PositionControlType", 0}}, DesignPositionController, ControllerModel::PositionPid,
       {{"Ki_P_scl", 0.005075107367}, {"Kp_P_scl", 0.2423185273}, {"Kd_P_scl", 3.856619142}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    auto setup = Example();
    // The parameters of the periods are never read: the registers are.
    setup->SetParameterValueInBaseUnit("Ts_C", 1);
    setup->SetParameterValueInBaseUnit("Ts_S", 1);
    for (const Change& change : c.changes) {
      if (std::isnan(change.value))
        setup->RemoveParameter(change.name);  // NAN: not in this setup
      else
        setup->SetParameterValueInBaseUnit(change.name, change.value);
    }
    ControllerDesignResult result;
    axcore::TakeMissingNames();
    EXPECT_EQ(c.design(*setup, &result), 1) << c.what;
    EXPECT_TRUE(axcore::TakeMissingNames().empty()) << c.what;
    EXPECT_EQ(result.model, c.model) << c.what;
    for (const Expected& e : c.gains)
      EXPECT_NEAR(setup->GetParameterValueInBaseUnit(e.gain), e.value, std::fabs(e.value) * 1e-6 + 1e-12)
          << c.what << ": " << e.gain;
  }
}

TEST(ControllerDesign, MissingOrDegenerateDataWriteNoGain) {
  const struct {
    const char* name;
    double value;  // NAN: removed from the setup
    Design design;
    std::vector<const char*> gains;
  } cases[] = {
      {"Dump_S", NAN, DesignSpeedController, {"Kp_S_scl", "Ki_S_scl"}},
      {"R", 0, DesignCurrentController, {"Kp_C_scl", "Ki_C_scl"}},       // tau infinite, R * inf
      {"ImaxPS", 0, DesignCurrentController, {"Kp_C_scl", "Ki_C_scl"}},  // kI infinite: gains would be 0
      {"Kf", 0, DesignSpeedController, {"Kp_S_scl", "Ki_S_scl"}},
      {"EncRes", 0, DesignSpeedController, {"Kp_S_scl", "Ki_S_scl"}},
      {"SLPER", 0, DesignPositionController, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}},
      {"ImaxPS", 0, DesignPositionController, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}},  // with PositionControlType 0
  };
  for (const auto& c : cases) {
    auto setup = Example();
    setup->SetParameterValueInBaseUnit("PositionControlType", 0);
    if (std::isnan(c.value)) {
      setup->RemoveParameter(c.name);
    } else {
      CMC_Parameter* p = setup->FindParameter(c.name);
      p->ClearMin();  // "EncRes" has a lower bound; a damaged file need not
      p->SetValueInBaseUnit(c.value);
    }
    std::vector<double> before;
    for (const char* gain : c.gains) before.push_back(setup->GetParameterValueInBaseUnit(gain));
    EXPECT_EQ(c.design(*setup, nullptr), 0) << c.name;
    for (std::size_t i = 0; i < c.gains.size(); ++i)
      EXPECT_EQ(setup->GetParameterValueInBaseUnit(c.gains[i]), before[i]) << c.name << ": " << c.gains[i];
  }
}

}  // namespace
