#include "Limits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Setup.h"

namespace {

// Largest count of a signed 16-bit register: positions, speeds, errors and
// currents reach the drive as such counts.
constexpr double kMaxCount = 32767.0;
// Largest count of an unsigned 16-bit register: the time registers count
// speed-loop periods.
constexpr double kMaxPeriods = 65535.0;

// Ordinary lookups of every name a row needs, so that the host reports each
// missing one; the row writes nothing unless all were found.
class Lookup {
 public:
  explicit Lookup(const CMC_Setup& setup) : m_setup(setup) {}
  CMC_Parameter* operator()(std::string_view name) {
    CMC_Parameter* p = m_setup.FindParameter(name);
    m_complete = m_complete && p != nullptr;
    return p;
  }
  bool Complete() const { return m_complete; }

 private:
  const CMC_Setup& m_setup;
  bool m_complete = true;
};

// The speed-loop period computed from the registers, when the drive can run
// with it. A missing "SLPER", "PWMPER" or "DSP_freq" (read as 0) gives 0 or
// an infinity, and a negative count is no period: limits built on those would
// pin the times to 0 or open them without end, so the row is skipped.
std::optional<double> SpeedLoopPeriodOf(const CMC_Setup& setup) {
  const double ts = SpeedLoopPeriod(setup);
  if (!std::isfinite(ts) || !(ts > 0.0)) return std::nullopt;
  return ts;
}

// |scale| when it is finite and not 0. An encoder period or a transmission of
// 0 makes a scale infinite or 0; 32767 over that is no limit either.
std::optional<double> MagnitudeOf(double scale) {
  const double magnitude = std::fabs(scale);
  if (!std::isfinite(magnitude) || !(magnitude > 0.0)) return std::nullopt;
  return magnitude;
}

std::optional<double> LoadPositionScaleOf(const CMC_Setup& setup) { return MagnitudeOf(LoadPositionScale(setup)); }
std::optional<double> LoadSpeedScaleOf(const CMC_Setup& setup) { return MagnitudeOf(LoadSpeedScale(setup)); }

// The current scale keeps its sign (the drive's current limits are not
// mirrored by abs()); only a zero or non-finite scale is refused.
std::optional<double> CurrentScaleOf(const CMC_Setup& setup) {
  const double scale = CurrentScale(setup);
  if (!std::isfinite(scale) || scale == 0.0) return std::nullopt;
  return scale;
}

// One bound alone, the other left as it is. The document refuses a
// non-finite bound; the row then reports that it set nothing.
int SetMaximum(CMC_Parameter& p, double maximum) { return p.SetMaxInBaseUnit(maximum); }

// A row whose only bound is a maximum: `name` gets `maximum` when it exists.
int SetMaximumOf(CMC_Setup& setup, std::string_view name, const std::optional<double>& maximum) {
  Lookup find(setup);
  CMC_Parameter* p = find(name);
  if (!find.Complete() || !maximum) return 0;
  return SetMaximum(*p, *maximum);
}

// A row with both bounds fixed: `name` gets [minimum, maximum].
int SetRangeOf(CMC_Setup& setup, std::string_view name, const std::optional<double>& minimum,
               const std::optional<double>& maximum) {
  Lookup find(setup);
  CMC_Parameter* p = find(name);
  if (!find.Complete() || !minimum || !maximum) return 0;
  return SetParameterRange(*p, *minimum, *maximum);
}

std::optional<double> Times(std::optional<double> value, double factor) {
  if (!value) return std::nullopt;
  return *value * factor;
}

// The value truncated toward zero, when it is finite and fits an int: the
// drive reads its mode parameters as integers, and anything else is no mode.
std::optional<int> AsInt(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double truncated = std::trunc(value);
  if (truncated < static_cast<double>(std::numeric_limits<int>::min()) ||
      truncated > static_cast<double>(std::numeric_limits<int>::max()))
    return std::nullopt;
  return static_cast<int>(truncated);
}

// A register value as an integer for its bits: truncated, and only while
// every integer up to it is exact in a double (2^53), so that the bits put
// back are the bits taken out.
std::optional<std::int64_t> AsRegisterBits(double value) {
  constexpr double kExact = 9007199254740992.0;  // 2^53
  if (!std::isfinite(value)) return std::nullopt;
  const double truncated = std::trunc(value);
  if (!(std::fabs(truncated) <= kExact)) return std::nullopt;
  return static_cast<std::int64_t>(truncated);
}

// Each step of the stage runs whatever its neighbours did; the stage reports
// 1 only when every step that applies to this setup set its limits.
struct Outcome {
  int all = 1;
  void operator+=(int result) { all = all != 0 && result != 0 ? 1 : 0; }
};

}  // namespace

// ---------------------------------------------------------------- single rows

int SetEncResLimits(CMC_Setup& setup) {
  // The commutation needs at least one encoder period per pole pitch
  // ("MECRESL" = PolePitch / EncRes).
  Lookup find(setup);
  CMC_Parameter* encRes = find("EncRes");
  const CMC_Parameter* polePitch = find("PolePitch");
  if (!find.Complete()) return 0;
  return SetMaximum(*encRes, polePitch->GetValueInBaseUnit());
}

int SetMaxCurrentLimits(CMC_Setup& setup) {
  // The electric angle controller's current may reach the motor's and the
  // drive's nominal current, whichever is the smaller.
  Lookup find(setup);
  CMC_Parameter* maxCurrent = find("MAX_CURRENT");
  const CMC_Parameter* in = find("In");
  const CMC_Parameter* inPS = find("InPS");
  if (!find.Complete()) return 0;
  return SetParameterRange(*maxCurrent, 0.0, std::min(in->GetValueInBaseUnit(), inPS->GetValueInBaseUnit()));
}

int SetFilterLimits(CMC_Setup& setup) {
  // The reference filter's rate cannot pass the Nyquist rate of the speed loop.
  const auto ts = SpeedLoopPeriodOf(setup);
  return SetMaximumOf(setup, "filter", ts ? std::optional<double>(1.0 / (2.0 * *ts)) : std::nullopt);
}

int SetDeadBandPointLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* point = find("DeadBand_Point");
  const CMC_Parameter* inputsRange = find("AnalogueInputsRange");
  if (!find.Complete()) return 0;
  // The analogue input spans ±10 V on a 20 V input, 0 to 5 V on a 5 V input
  // and 0 to 3.3 V otherwise. The span is read truncated, as the dead band
  // registers read it.
  const double span = std::trunc(inputsRange->GetValueInBaseUnit());
  if (span == 20.0) return SetParameterRange(*point, -10.0, 10.0);
  if (span == 5.0) return SetParameterRange(*point, 0.0, 5.0);
  return SetParameterRange(*point, 0.0, 3.3);
}

int SetDeadBandRangeLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* range = find("DeadBand_Range");
  const CMC_Parameter* point = find("DeadBand_Point");
  if (!find.Complete()) return 0;
  const double low = point->GetMinInBaseUnit();
  const double high = point->GetMaxInBaseUnit();
  double maximum;
  if (IsNewDeadBand(setup)) {
    // The new dead band may be as wide as the whole input range.
    maximum = high - low;
  } else {
    // Otherwise the band around the point may reach no further than the
    // nearer end of the input range.
    const double value = point->GetValueInBaseUnit();
    maximum = std::min(value - low, high - value);
  }
  // An unbounded point gives no finite width and a point outside its range a
  // negative one; SetParameterRange refuses both and leaves the range alone.
  return SetParameterRange(*range, 0.0, maximum);
}

int SetPosMaxLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* posMax = find("POS_max");
  const CMC_Parameter* posMin = find("POS_min");
  if (!find.Complete()) return 0;
  const auto sP = LoadPositionScaleOf(setup);
  if (!sP) return 0;
  return SetParameterRange(*posMax, posMin->GetValueInBaseUnit(), kMaxCount / *sP);
}

int SetPosMinLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* posMin = find("POS_min");
  const CMC_Parameter* posMax = find("POS_max");
  if (!find.Complete()) return 0;
  const auto sP = LoadPositionScaleOf(setup);
  if (!sP) return 0;
  return SetParameterRange(*posMin, -kMaxCount / *sP, posMax->GetValueInBaseUnit());
}

int SetSpdMaxLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* spdMax = find("SPD_max");
  const CMC_Parameter* spdMin = find("SPD_min");
  const CMC_Parameter* limitSpeed = find("Limit_Speed");
  if (!find.Complete()) return 0;
  const auto vS = LoadSpeedScaleOf(setup);
  if (!vS) return 0;
  return SetParameterRange(*spdMax, spdMin->GetValueInBaseUnit(),
                           std::min(limitSpeed->GetValueInBaseUnit(), kMaxCount / *vS));
}

int SetSpdMinLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* spdMin = find("SPD_min");
  const CMC_Parameter* spdMax = find("SPD_max");
  const CMC_Parameter* limitSpeed = find("Limit_Speed");
  if (!find.Complete()) return 0;
  const auto vS = LoadSpeedScaleOf(setup);
  if (!vS) return 0;
  return SetParameterRange(*spdMin, std::max(-limitSpeed->GetValueInBaseUnit(), -kMaxCount / *vS),
                           spdMax->GetValueInBaseUnit());
}

int SetCrtMaxLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* crtMax = find("CRT_max");
  const CMC_Parameter* crtMin = find("CRT_min");
  const CMC_Parameter* imaxM = find("ImaxM");
  const CMC_Parameter* imaxPS = find("ImaxPS");
  if (!find.Complete()) return 0;
  const auto cs = CurrentScaleOf(setup);
  if (!cs) return 0;
  const double peak = std::min(imaxM->GetValueInBaseUnit(), imaxPS->GetValueInBaseUnit());
  return SetParameterRange(*crtMax, crtMin->GetValueInBaseUnit(), std::min(kMaxCount / *cs, peak));
}

int SetCrtMinLimits(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* crtMin = find("CRT_min");
  const CMC_Parameter* crtMax = find("CRT_max");
  const CMC_Parameter* imaxM = find("ImaxM");
  const CMC_Parameter* imaxPS = find("ImaxPS");
  if (!find.Complete()) return 0;
  const auto cs = CurrentScaleOf(setup);
  if (!cs) return 0;
  const double peak = std::min(imaxM->GetValueInBaseUnit(), imaxPS->GetValueInBaseUnit());
  return SetParameterRange(*crtMin, std::max(-kMaxCount / *cs, -peak), crtMax->GetValueInBaseUnit());
}

int SetAnalogueReferenceLimits(CMC_Setup& setup) {
  // Each minimum before its maximum's row reads it back, the dead band point
  // before the band whose width follows from the point's range.
  Outcome outcome;
  outcome += SetFilterLimits(setup);
  outcome += SetDeadBandPointLimits(setup);
  outcome += SetDeadBandRangeLimits(setup);
  outcome += SetPosMaxLimits(setup);
  outcome += SetPosMinLimits(setup);
  outcome += SetSpdMaxLimits(setup);
  outcome += SetSpdMinLimits(setup);
  outcome += SetCrtMaxLimits(setup);
  outcome += SetCrtMinLimits(setup);
  return outcome.all;
}

// ---------------------------------------------------------------- the stage

int SetParameterLimits(CMC_Setup& setup) {
  Outcome outcome;
  const auto ts = SpeedLoopPeriodOf(setup);

  // 1. The encoder period.
  outcome += SetEncResLimits(setup);

  // 2, 3. The control error thresholds are compared in 16-bit counts.
  {
    const auto vS = LoadSpeedScaleOf(setup);
    outcome += SetMaximumOf(setup, "ERR_speed", vS ? std::optional<double>(kMaxCount / *vS) : std::nullopt);
    const auto sP = LoadPositionScaleOf(setup);
    outcome += SetMaximumOf(setup, "ERR_position", sP ? std::optional<double>(kMaxCount / *sP) : std::nullopt);
  }

  // 4. Their delays are counted in speed-loop periods, signed 16 bits.
  outcome += SetMaximumOf(setup, "time_ERR_spd", Times(ts, kMaxCount));
  outcome += SetMaximumOf(setup, "time_ERR_pos", Times(ts, kMaxCount));

  // 5. The passbands the controller design accepts are constants of the drive.
  for (const char* loop : {"PB_C", "PB_S", "PB_P"}) {
    Lookup find(setup);
    CMC_Parameter* pb = find(loop);
    const CMC_Parameter* low = find(std::string(loop) + "_minim");
    const CMC_Parameter* high = find(std::string(loop) + "_maxim");
    outcome += find.Complete() ? SetParameterRange(*pb, low->GetValueInBaseUnit(), high->GetValueInBaseUnit()) : 0;
  }

  // 6 to 8. The reference profile's times are counts of speed-loop periods
  // in unsigned 16-bit registers: at least one period (two for the position
  // accelerations), at most 65535.
  for (const char* name : {"TPP", "TNP"}) outcome += SetRangeOf(setup, name, ts, Times(ts, kMaxPeriods));
  for (const char* name : {"TaPP", "TaNP"}) outcome += SetRangeOf(setup, name, Times(ts, 2.0), Times(ts, kMaxPeriods));
  for (const char* name : {"TPS", "TNS", "TaPS", "TaNS"})
    outcome += SetRangeOf(setup, name, ts, Times(ts, kMaxPeriods));

  // 9. The test position is reached within the shorter acceleration time at
  // a speed of at most 32767 counts per period.
  {
    Lookup find(setup);
    CMC_Parameter* position = find("TestPosition");
    const CMC_Parameter* taPP = find("TaPP");
    const CMC_Parameter* taNP = find("TaNP");
    const auto sP = LoadPositionScaleOf(setup);
    int result = 0;
    if (find.Complete() && ts && sP) {
      const double p = std::min(taPP->GetValueInBaseUnit(), taNP->GetValueInBaseUnit()) / *ts * kMaxCount / *sP;
      result = SetParameterRange(*position, -p, p);
    }
    outcome += result;
  }

  // 10. The test speed stays within both the speed register and the speed
  // limit the user set.
  {
    Lookup find(setup);
    CMC_Parameter* speed = find("TestSpeed");
    const CMC_Parameter* limitSpeed = find("Limit_Speed");
    const auto vS = LoadSpeedScaleOf(setup);
    int result = 0;
    if (find.Complete() && vS) {
      const double s = std::min(kMaxCount / *vS, limitSpeed->GetValueInBaseUnit());
      result = SetParameterRange(*speed, -s, s);
    }
    outcome += result;
  }

  // 11. The angle controller's current, only on a drive that has that controller.
  if (HasAngleController(setup)) outcome += SetMaxCurrentLimits(setup);

  // 12. The analogue reference, only on a drive with that input.
  if (HasAnalogueReference(setup)) outcome += SetAnalogueReferenceLimits(setup);

  // 13. The current reference filters run at the speed-loop rate: their
  // frequencies stop at its Nyquist frequency.
  if (HasCurrentReferenceFilter(setup)) {
    const auto nyquist = ts ? std::optional<double>(0.5 / *ts) : std::nullopt;
    for (const char* filter : {"BQFilterF1", "BQFilterF2"})
      for (const char slot : {'1', '2', '3'}) outcome += SetMaximumOf(setup, std::string(filter) + slot, nyquist);
  }
  return outcome.all;
}

// ---------------------------------------------------------------- options

int SetControlStructureOptions(CMC_Setup& setup) {
  // This motor has its one encoder on the motor, with an index, and is never
  // a step motor: the host may close every loop on that encoder.
  setup.SetOption("IsStepMotor", "0");
  setup.SetOption("IsStepperOpenLoop", "0");
  setup.SetOption("isPositionFeedbackOnLoad", "0");
  setup.SetOption("isPositionFeedbackOnMotor", "1");
  setup.SetOption("isSpeedFeedback", "0");
  setup.SetOption("isIndex", "1");

  Lookup find(setup);
  const CMC_Parameter* controlMode = find("ControlMode");
  const CMC_Parameter* positionControlType = find("PositionControlType");
  if (!find.Complete()) return 0;
  const auto mode = AsInt(controlMode->GetValueInBaseUnit());
  const auto type = AsInt(positionControlType->GetValueInBaseUnit());
  if (!mode || !type) return 0;

  const char* position;
  const char* speed;
  switch (*mode) {
    case 0:  // position control, with its own speed loop when the type is 1
      if (*type != 0 && *type != 1) return 0;
      position = "1";
      speed = *type == 1 ? "1" : "0";
      break;
    case 1:  // speed control
      position = "0";
      speed = "1";
      break;
    case 2:  // torque control
      position = "0";
      speed = "0";
      break;
    default:
      return 0;
  }
  setup.SetOption("IsClosedPosition", position);
  setup.SetOption("IsClosedSpeed", speed);
  setup.SetOption("IsClosedCurrent", "1");
  return 1;
}

// ---------------------------------------------------------------- units

namespace {

struct UnitPair {
  const char* name;
  const char* rotary;
  const char* linear;
};

void SwitchParameters(CMC_Setup& setup, std::initializer_list<UnitPair> pairs, bool rotary) {
  for (const UnitPair& pair : pairs)
    if (CMC_Parameter* p = setup.FindParameter(pair.name)) p->ChangeUnitType(rotary ? pair.rotary : pair.linear);
}

void SwitchVariables(CMC_Setup& setup, std::initializer_list<const char*> names, const char* unit) {
  // Drives differ in the variables they have: an absent one is no fault.
  for (const char* name : names)
    if (CMC_Variable* v = FindVariableQuiet(setup, name)) v->ChangeUnitType(unit);
}

}  // namespace

int SwitchUnitTypes(CMC_Setup& setup) {
  // The load moves linearly or turns, behind a transmission; the motor
  // itself is always linear.
  const bool rotary = setup.GetParameterValueInBaseUnit("TransmissionType") != 0.0;

  SwitchParameters(setup,
                   {{"Load_transmission", "rot", "mm"},
                    {"TestSpeed", "rpm", "m/s"},
                    {"Limit_Speed", "rad/s", "m/s"},
                    {"TestPosition", "rot", "mm"},
                    {"ERR_position", "rot", "mm"},
                    {"ERR_speed", "rad/s", "m/s"}},
                   rotary);
  if (HasAnalogueReference(setup)) {
    SwitchParameters(setup,
                     {{"POS_max", "rot", "mm"},
                      {"POS_min", "rot", "mm"},
                      {"SPD_max", "rpm", "m/s"},
                      {"SPD_min", "rpm", "m/s"}},
                     rotary);
  }
  SwitchParameters(setup, {{"ErefMaxSpeed", "rpm", "m/s"}, {"ErefMaxAcceleration", "rad/s^2", "m/s^2"}}, rotary);
  if (HasFreezeControl(setup)) SwitchParameters(setup, {{"FreezeControl_errband", "rot", "mm"}}, rotary);
  if (HasSoftwareLimitSwitches(setup))
    SwitchParameters(setup, {{"Negative_SWLS", "rot", "mm"}, {"Positive_SWLS", "rot", "mm"}}, rotary);

  SwitchVariables(setup,
                  {"Load_Position", "Target_Position", "Position_Error", "Pulse_Dir_Input_Position", "APOS", "APOS_LD",
                   "CAPPOS", "CPOS", "EREFP", "ERRMAX", "HOMEPOS", "POSERR", "POSINIT", "POSOKLIM", "POSTRIGG1",
                   "POSTRIGG2", "POSTRIGG3", "POSTRIGG4", "TPOS", "TPOSFAST"},
                  rotary ? "rot" : "mm");
  SwitchVariables(setup,
                  {"Load_Speed", "Target_Speed", "Speed_Reference", "Speed_Error", "Pulse_Dir_Input_Speed", "ASPD_LD",
                   "CSPD", "EREFS", "HOMESPD", "SERRMAX", "SPDERR", "SPDREF", "TSPD"},
                  rotary ? "rpm" : "m/s");
  SwitchVariables(setup, {"CACC", "CDEC", "TACC"}, rotary ? "rad/s^2" : "m/s^2");
  SwitchVariables(setup, {"JERK"}, rotary ? "rad/s^3" : "m/s^3");
  // The motor's own position and speed are measured on the linear motor.
  SwitchVariables(setup, {"APOS_MT"}, "mm");
  SwitchVariables(setup, {"ASPD", "ASPD_MT"}, "m/s");
  return 1;
}

// ---------------------------------------------------------------- feedforward

int ApplySpeedFeedforwardRule(CMC_Setup& setup) {
  Lookup find(setup);
  CMC_Parameter* speedForward = find("SpeedForward");
  const CMC_Parameter* controlMode = find("ControlMode");
  const CMC_Parameter* positionControlType = find("PositionControlType");
  CMC_Parameter* acr = find("ACR");
  if (!find.Complete()) return 0;
  const auto mode = AsInt(controlMode->GetValueInBaseUnit());
  const auto type = AsInt(positionControlType->GetValueInBaseUnit());
  const auto bits = AsRegisterBits(acr->GetValueInBaseUnit());
  if (!mode || !type || !bits) return 0;
  // A position loop with a speed loop of its own takes its speed reference
  // from the position controller; every other structure needs the reference's
  // derivative fed forward (ACR bit 14).
  if (*mode == 0 && *type == 1) return 1;
  speedForward->SetValueInInternalUnit(1.0);
  acr->SetValueInBaseUnit(static_cast<double>(*bits | 0x4000));
  return 1;
}
