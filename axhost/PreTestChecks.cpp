#include "PreTestChecks.h"

#include <cmath>

#include "CommissionRecord.h"
#include "FeatureProbes.h"
#include "LoopResponse.h"
#include "Scales.h"
#include "axcore/Diagnostics.h"
#include "axcore/Setup.h"

namespace axhost {
namespace {

// Enough current-loop periods for the peak of any loop worth tuning.
constexpr int kStepSamples = 400;

std::optional<double> Quiet(const CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = FindParameterQuiet(setup, name);
  if (p == nullptr) return std::nullopt;
  return p->GetValueInBaseUnit();
}

std::optional<CurrentLoopFinding> CheckCurrentLoop(const CMC_Setup& setup) {
  SampledLoopResponse response;
  if (!PredictCurrentLoop(setup, 1, kStepSamples, response)) return std::nullopt;
  if (response.stable && !(response.overshoot > kCurrentLoopOvershootLimit)) return std::nullopt;
  CurrentLoopFinding finding;
  finding.stable = response.stable;
  finding.overshoot = response.overshoot;
  finding.kp = *Quiet(setup, "Kp_C_scl");
  finding.ki = *Quiet(setup, "Ki_C_scl");
  finding.r_ohm = *Quiet(setup, "R");
  finding.l_H = *Quiet(setup, "L");
  return finding;
}

// The speed limit of `test` and the motor metres per second in one unit of
// it: "TestMaxSpeed" is the motor's speed, "TestSpeed" and "Limit_Speed"
// the load's, turned into the motor's through the transmission.
struct SpeedBound {
  const char* parameter;
  double motorPerUnit;
};
std::optional<SpeedBound> SpeedBoundOf(const CMC_Setup& setup, MotionTest test) {
  const auto loadToMotor = [&]() { return LoadSpeedScale(setup) / MotorSpeedScale(setup); };
  switch (test) {
    case MotionTest::TotalMass: return SpeedBound{"TestMaxSpeed", 1.0};
    case MotionTest::SpeedTuning: return SpeedBound{"TestSpeed", loadToMotor()};
    // The speed loop under the position loop is held to "Limit_Speed"; the
    // position PID has no speed limit of its own.
    case MotionTest::PositionTuning:
      if (Quiet(setup, "PositionControlType") == 1.0) return SpeedBound{"Limit_Speed", loadToMotor()};
      return std::nullopt;
    default: return std::nullopt;
  }
}

std::optional<SupplySpeedFinding> CheckSupplySpeed(const CMC_Setup& setup, MotionTest test,
                                                   std::optional<double> measuredSupply_V) {
  const auto bound = SpeedBoundOf(setup, test);
  if (!bound) return std::nullopt;
  const CMC_Parameter* limit = FindParameterQuiet(setup, bound->parameter);
  const auto vdc = Quiet(setup, "Vdc"), r = Quiet(setup, "R"), current = Quiet(setup, "TestCurrent"),
             kf = Quiet(setup, "Kf");
  if (limit == nullptr || !vdc || !r || !current || !kf) return std::nullopt;
  SupplySpeedFinding finding;
  finding.parameter = bound->parameter;
  finding.unit = limit->GetUnit();
  finding.speed = std::abs(limit->GetValueInBaseUnit());
  finding.supply_V = measuredSupply_V.value_or(*vdc);
  finding.winding_V = WindingVoltageLimit(finding.supply_V, Quiet(setup, "SATIQ").value_or(0.0));
  finding.current_A = std::abs(*current);
  finding.rPhase_ohm = PhaseResistance(setup);
  finding.forceConstant = *kf;
  const double motorPerUnit = std::abs(bound->motorPerUnit);
  const double allowed_m_s =
      SupplySpeedLimit(finding.winding_V, finding.rPhase_ohm, finding.current_A, finding.forceConstant);
  finding.allowed = allowed_m_s / motorPerUnit;
  for (double x : {finding.speed, finding.winding_V, finding.rPhase_ohm, finding.forceConstant, motorPerUnit,
                   finding.allowed})
    if (!std::isfinite(x)) return std::nullopt;
  if (!(finding.forceConstant > 0.0 && motorPerUnit > 0.0) || finding.speed <= finding.allowed) return std::nullopt;
  return finding;
}

std::optional<SupplyFinding> CheckSupply(const CMC_Setup& setup, std::optional<double> measuredSupply_V) {
  const auto vdc = Quiet(setup, "Vdc");
  if (!vdc || !measuredSupply_V || !(*measuredSupply_V > 0.0)) return std::nullopt;
  if (!(std::abs(*vdc - *measuredSupply_V) > kSupplyTolerance * *measuredSupply_V)) return std::nullopt;
  return SupplyFinding{*vdc, *measuredSupply_V};
}

}  // namespace

double PhaseResistance(const CMC_Setup& setup) {
  const double r = Quiet(setup, "R").value_or(0.0);
  return Quiet(setup, "MotorPhaseConnectionType") == 1.0 ? r / 3.0 : r;
}

double WindingVoltageLimit(double supply_V, double satiq) {
  const double counts = 32767.0 - std::fmax(satiq, 0.0);
  return counts * 1.1 * supply_V / 65534.0;
}

double SupplySpeedLimit(double winding_V, double rPhase_ohm, double current_A, double forceConstant) {
  return (winding_V - rPhase_ohm * current_A) / (2.0 / 3.0 * forceConstant);
}

PreTestFindings CheckBeforeTest(const CMC_Setup& setup, MotionTest test, bool gainsDesigned,
                                std::optional<double> measuredSupply_V) {
  // A name the setup lacks leaves its check out; it is no error of the setup.
  axcore::QuietLookup quiet;
  PreTestFindings findings;
  if (!(test == MotionTest::CurrentTuning && gainsDesigned)) findings.currentLoop = CheckCurrentLoop(setup);
  findings.speed = CheckSupplySpeed(setup, test, measuredSupply_V);
  findings.supply = CheckSupply(setup, measuredSupply_V);
  return findings;
}

std::vector<std::string> PreTestWarnings(const PreTestFindings& findings) {
  std::vector<std::string> lines;
  if (const auto& loop = findings.currentLoop) {
    const std::string how = loop->stable ? "overshoots a step by " + ShortNumber(loop->overshoot * 100.0) +
                                               " % (more than " +
                                               ShortNumber(kCurrentLoopOvershootLimit * 100.0) + " %)"
                                         : std::string("is unstable");
    lines.push_back("the current loop with the setup's gains (Kp_C_scl " + ShortNumber(loop->kp) + ", Ki_C_scl " +
                    ShortNumber(loop->ki) + ") on its winding (R " + ShortNumber(loop->r_ohm) + " ohm, L " +
                    ShortNumber(loop->l_H * 1e3) + " mH) " + how +
                    " as the drive runs it: tune the current controller first (axhost tune current)");
  }
  if (const auto& speed = findings.speed) {
    const std::string head = speed->parameter + " " + ShortNumber(speed->speed) + " " + speed->unit +
                             " is above what the supply can drive the motor at";
    const std::string ir = "TestCurrent " + ShortNumber(speed->current_A) + " A through R " +
                           ShortNumber(speed->rPhase_ohm) + " ohm takes " +
                           ShortNumber(speed->current_A * speed->rPhase_ohm) + " V of the " +
                           ShortNumber(speed->winding_V) + " V a " + ShortNumber(speed->supply_V) +
                           " V supply puts on the winding";
    if (speed->allowed > 0.0)
      lines.push_back(head + ": " + ShortNumber(speed->allowed) + " " + speed->unit + " (" + ir +
                      "; the back-EMF of Kf " + ShortNumber(speed->forceConstant) + " N/A takes " +
                      ShortNumber(2.0 / 3.0 * speed->forceConstant) + " V per m/s of the rest)");
    else
      lines.push_back(head + ", and at any speed: " + ir + "; lower TestCurrent");
  }
  if (const auto& supply = findings.supply) {
    lines.push_back("the setup's supply voltage Vdc " + ShortNumber(supply->setup_V) + " V differs from the " +
                    ShortNumber(supply->measured_V) + " V the drive measures by " +
                    ShortNumber(std::abs(supply->setup_V - supply->measured_V) / supply->measured_V * 100.0) +
                    " % (more than " + ShortNumber(kSupplyTolerance * 100.0) +
                    " %): the current loop's gains were designed for another voltage (Tune designs them for Vdc); "
                    "measure it (axhost test supply-voltage) and tune the current controller again");
  }
  return lines;
}

}  // namespace axhost
