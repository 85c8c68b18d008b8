#include "ControllerDesign.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

struct Lookup {
  const char* name;
  CMC_Parameter** into = nullptr;  // null: a name a drive scale reads
};

// Ordinary lookups of every name, so that the host reports each missing one;
// true when all exist.
bool FindAll(CMC_Setup& setup, std::initializer_list<Lookup> lookups) {
  bool complete = true;
  for (const Lookup& lookup : lookups) {
    CMC_Parameter* parameter = setup.FindParameter(lookup.name);
    if (lookup.into != nullptr) *lookup.into = parameter;
    complete = parameter != nullptr && complete;
  }
  return complete;
}

double Value(const CMC_Parameter* parameter) { return parameter->GetValueInBaseUnit(); }

// A zero "ImaxPS", "Vdc", "EncRes" or loop register makes a scale zero or
// infinite; gains designed with it would be 0 or meaningless, not a design.
bool AllUsable(std::initializer_list<double> scales) {
  for (double scale : scales)
    if (!IsUsableScale(scale)) return false;
  return true;
}

// The speed and position controllers run at the current-loop rate when the
// drive has "PosSpd_in_FastLoop" and it is not 0. Drives without it have no
// such choice, so the lookup is quiet.
bool RunsInFastLoop(const CMC_Setup& setup) {
  const CMC_Parameter* fastLoop = FindParameterQuiet(setup, "PosSpd_in_FastLoop");
  return fastLoop != nullptr && Value(fastLoop) != 0.0;
}

// Sampling period T of the speed and position controllers, and the loop
// register it reads beside "PWMPER" and "DSP_freq".
double ControllerPeriod(const CMC_Setup& setup, bool fastLoop) {
  return fastLoop ? CurrentLoopPeriod(setup) : SpeedLoopPeriod(setup);
}
const char* ControllerPeriodRegister(bool fastLoop) { return fastLoop ? "CLPER" : "SLPER"; }

// All gains or none: a design that gives a gain which is no finite number
// leaves every gain as it was.
int WriteGains(std::initializer_list<std::pair<CMC_Parameter*, double>> gains) {
  for (const auto& [parameter, value] : gains)
    if (!std::isfinite(value)) return 0;
  int written = 1;
  for (const auto& [parameter, value] : gains) written &= parameter->SetValueInBaseUnit(value);
  return written;
}

}  // namespace

int DesignCurrentController(CMC_Setup& setup, ControllerDesignResult* result) {
  CMC_Parameter *connectionType = nullptr, *l = nullptr, *r = nullptr, *kp = nullptr, *ki = nullptr;
  CMC_Parameter *passband = nullptr, *damping = nullptr;
  if (!FindAll(setup, {{"MotorPhaseConnectionType", &connectionType},
                       {"L", &l},
                       {"R", &r},
                       {"Kp_C_scl", &kp},
                       {"Ki_C_scl", &ki},
                       {"PB_C", &passband},
                       {"Dump_C", &damping},
                       {"CLPER"},
                       {"PWMPER"},
                       {"DSP_freq"},
                       {"Vdc"},
                       {"ImaxPS"}}))
    return 0;
  const double tsC = CurrentLoopPeriod(setup);
  const double kV = VoltageCommandScale(setup);
  const double kI = CurrentScale(setup);
  if (!AllUsable({tsC, kV, kI})) return 0;

  ControllerDesignResult design;
  design.passband_rad_s = Value(passband);
  design.damping = Value(damping);
  design.period_s = tsC;
  const double w = design.passband_rad_s;
  const double zeta = design.damping;
  const double tau = Value(l) / Value(r);  // always with the whole R
  const double rPhase = FlagEqualsOne(Value(connectionType)) ? Value(r) / 3.0 : Value(r);
  if (tau > 4.0 * tsC) {
    design.model = ControllerModel::CurrentPolePlacement;
    design.kp = (2.0 * zeta * w * tau - 1.0) * rPhase * kV / kI;
    design.ki = w * w * tau * rPhase * tsC * kV / kI;
  } else {
    // A winding too fast for the loop rate: the proportional gain follows
    // from L/R and Ts_C alone, and the damping has no say.
    design.model = ControllerModel::CurrentFastWinding;
    design.kp = (tau / (2.0 * std::sqrt(2.0) * tsC) - 1.0) * rPhase * kV / kI;
    design.ki = w * rPhase * tsC * kV / kI;
  }
  if (!WriteGains({{kp, design.kp}, {ki, design.ki}})) return 0;
  if (result != nullptr) *result = design;
  return 1;
}

int DesignSpeedController(CMC_Setup& setup, ControllerDesignResult* result) {
  CMC_Parameter *ki = nullptr, *kp = nullptr, *totalMass = nullptr, *kf = nullptr;
  CMC_Parameter *passband = nullptr, *damping = nullptr;
  const bool gainsFound = FindAll(setup, {{"Ki_S_scl", &ki}, {"Kp_S_scl", &kp}});
  const bool fastLoop = RunsInFastLoop(setup);
  const bool inputsFound = FindAll(setup, {{"Mt", &totalMass},
                                           {"PolePitch"},
                                           {"Kf", &kf},
                                           {"PB_S", &passband},
                                           {"Dump_S", &damping},
                                           {ControllerPeriodRegister(fastLoop)},
                                           {"SLPER"},
                                           {"PWMPER"},
                                           {"DSP_freq"},
                                           {"SINCOS_fract"},
                                           {"EncRes"},
                                           {"ImaxPS"}});
  if (!gainsFound || !inputsFound) return 0;
  const double t = ControllerPeriod(setup, fastLoop);
  const double kS = MotorSpeedScale(setup);  // counts per Ts_S, whatever T is
  const double kI = CurrentScale(setup);
  if (!AllUsable({t, kS, kI})) return 0;

  ControllerDesignResult design;
  design.model = ControllerModel::Speed;
  design.passband_rad_s = Value(passband);
  design.damping = Value(damping);
  design.period_s = t;
  const double w = design.passband_rad_s;
  // The mass the force constant accelerates: "Mt" in kilograms, as the total
  // mass test identifies it (force constant x current x time / speed
  // change). The pole pitch is looked up with the other motor data but has
  // no part in it: a mass times a length would leave the loop about
  // sqrt(PolePitch) times the passband asked for.
  const double m = Value(totalMass);
  // Poles at s^2 + 2 zeta w s + w^2; the drive's integral gain is per
  // sampling period, hence the factor T.
  design.ki = w * w * t * m * kI / (kS * Value(kf));
  design.kp = 2.0 * design.damping * w * m * kI / (kS * Value(kf));
  if (!WriteGains({{ki, design.ki}, {kp, design.kp}})) return 0;
  if (result != nullptr) *result = design;
  return 1;
}

int DesignPositionController(CMC_Setup& setup, ControllerDesignResult* result) {
  CMC_Parameter *ki = nullptr, *kp = nullptr, *kd = nullptr, *controlType = nullptr;
  CMC_Parameter *passband = nullptr, *damping = nullptr;
  const bool gainsFound = FindAll(setup, {{"Ki_P_scl", &ki}, {"Kp_P_scl", &kp}, {"Kd_P_scl", &kd}});
  const bool fastLoop = RunsInFastLoop(setup);
  const bool inputsFound = FindAll(setup, {{"PositionControlType", &controlType},
                                           {"PB_P", &passband},
                                           {"Dump_P", &damping},
                                           {ControllerPeriodRegister(fastLoop)},
                                           {"SLPER"},
                                           {"PWMPER"},
                                           {"DSP_freq"},
                                           {"SINCOS_fract"},
                                           {"EncRes"}});
  if (!gainsFound || !inputsFound) return 0;
  const double t = ControllerPeriod(setup, fastLoop);
  const double kS = MotorSpeedScale(setup);
  const double kP = MotorPositionScale(setup);
  if (!AllUsable({t, kP})) return 0;

  ControllerDesignResult design;
  design.passband_rad_s = Value(passband);
  design.damping = Value(damping);
  design.period_s = t;
  const double w = design.passband_rad_s;
  const double zeta = design.damping;
  if (FlagEqualsOne(Value(controlType))) {
    // Around the closed speed loop the plant is an integrator from speed
    // reference to position: a PI places s^2 + 2 zeta w s + w^2.
    // Only this case converts through the speed scale.
    if (!AllUsable({kS})) return 0;
    design.model = ControllerModel::PositionOverSpeedLoop;
    design.ki = w * w * t * kS / kP;
    design.kp = 2.0 * zeta * w * kS / kP;
    design.kd = 0.0;
  } else {
    // The PID drives the current reference of the mass directly and places
    // (s + w)(s^2 + 2 zeta w s + w^2) = s^3 + c s^2 + c w s + w^3 with
    // c = (2 zeta + 1) w; Ki per period carries T, Kd carries 1/T.
    CMC_Parameter *totalMass = nullptr, *kf = nullptr;
    if (!FindAll(setup, {{"Mt", &totalMass}, {"PolePitch"}, {"Kf", &kf}, {"ImaxPS"}})) return 0;
    const double kI = CurrentScale(setup);
    if (!AllUsable({kI})) return 0;
    design.model = ControllerModel::PositionPid;
    // The mass in kilograms, as for the speed loop.
    const double m = Value(totalMass);
    const double c = (2.0 * zeta + 1.0) * w;
    design.ki = w * w * w * t * m * kI / (kP * Value(kf));
    design.kp = c * w * m * kI / (kP * Value(kf));
    design.kd = c * m * kI / (kP * Value(kf) * t);
  }
  if (!WriteGains({{ki, design.ki}, {kp, design.kp}, {kd, design.kd}})) return 0;
  if (result != nullptr) *result = design;
  return 1;
}

double AccelerationFeedForwardFromMass(const CMC_Setup& setup) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  for (const char* name : {"Mt", "Kf"})
    if (FindParameterQuiet(setup, name) == nullptr) return kNaN;
  const double gain = CurrentScale(setup) * setup.GetParameterValueInBaseUnit("Mt") /
                      (setup.GetParameterValueInBaseUnit("Kf") * LoadSpeedScale(setup) * SpeedLoopPeriod(setup));
  return std::isfinite(gain) && gain >= 0.0 ? gain : kNaN;
}
