#include "virtualdrive/DriveFirmware.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace virtualdrive {
namespace {

constexpr double kInverseSqrt3 = 1.0 / std::numbers::sqrt3;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kRadiansPerAngleStep = kTwoPi / kAngleStepsPerTurn;

// What the drive holds before any setup is loaded: the drive of the example
// setup (40 MHz, 20 kHz PWM, 10-bit converter, 10 A peak, 102 V supply
// sensing) with its factory loop registers.
struct DefaultRegister {
  const char* name;
  double value;
  bool isInteger;
};
constexpr DefaultRegister kDefaults[] = {
    {"DSP_freq", 40e6, true},       {"PWMPER", 1000, true},     {"CLPER", 1, true},
    {"SLPER", 10, true},            {"ADCbits", 10, true},      {"ImaxPS", 10, false},
    {"VdcMaxMeasurable", 102, false}, {"KPI", 30000, true},     {"SFTKPI", 4, true},
    {"KII", 21000, true},           {"SFTKII", 2, true},        {"FILTERQ", 32767, true},
    {"SATID", 2621, true},          {"SATIQ", 2621, true},      {"IMAXPROT", 26189, true},
    {"TIMAXPROT", 20, true},        {"REFTST", 8117, true},     {"RINCTST", 8117, true},
    {"ELRESL", 409600, true},       {"ELRES_FRACT", 0, true},   {"COUNTINGDIR", 0, true},
    {"ERRMAX", 12800, true},        {"TERRMAX", 20, true},      {"SERRMAX", 3200, true},
    {"TSERRMAX", 20, true},         {"PCR", 0x00BF, true},      {"ACR", 0x0700, true},
    {"UPGRADE", 0x0004, true},      {"DIGIN_ACTIVE_LEVEL", 0x8000, true},
    {"KPS", 13500, true},           {"SFTKPS", 0, true},        {"KIS", 2100, true},
    {"SFTKIS", 0, true},            {"KPP", 4100, true},        {"SFTKPP", 0, true},
    {"KIP", 130, true},             {"SFTKIP", 0, true},        {"KDP", 0, true},
    {"SFTKDP", 0, true},            {"KDFP", 16384, true},      {"KFFS", 32767, true},
    {"SFTSFFW", 0, true},           {"KFFA", 20480, true},      {"SFTKFF", 0, true},
    {"SFTAFFW", 5, true},           {"SATS", 9852, true},       {"SATP", 19967, true},
    {"IMAXS", 14435, true},         {"IMAXP", 26367, true},     {"FFL", 0, true},
    {"KFFL", 32767, true},          {"SPDREF_BQ_INI", 0, true}, {"IQREF_BQ_INI", 0, true},
    {"ASPD_BQ_INI", 0, true},
};

// Delay registers at this value switch their protection off.
constexpr double kProtectionOff = 65535.0;

bool IsTimingRegister(std::string_view name) {
  for (const char* timing : {"DSP_freq", "PWMPER", "CLPER", "SLPER"})
    if (axcore::EqualsIgnoreCase(name, timing)) return true;
  return false;
}

// Nearest whole number (ties to even) for |x| below 2^51, by the
// floating-point adder itself: no library call, no integer cast.
double RoundNear(double x) {
  constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
  return (x + kShift) - kShift;
}

// Round half away from zero, in double (no integer cast needed).
double RoundHalfAway(double x) { return std::copysign(std::floor(std::abs(x) + 0.5), x); }

// mantissa * 2^shift / 32767 with the shift taken as a whole number 0..31.
double Gain(double mantissa, double shift) {
  return std::ldexp(mantissa, static_cast<int>(std::clamp(shift, 0.0, 31.0))) / 32767.0;
}

}  // namespace

DriveFirmware::DriveFirmware(Plant& plant)
    : m_plant(plant), m_delayPeriods(plant.Parameters().computation_delay_periods > 0 ? 1 : 0) {
  for (const DefaultRegister& r : kDefaults) m_registers[r.name] = {r.value, r.isInteger};
  m_live = {{"IQ", &m_iq},
            {"ID", &m_id},
            {"Motor_Current", &m_iq},
            {"Current_Reference", &m_iqRef},
            {"Voltage_Reference", &m_uq},
            {"THTST", &m_thtst},
            {"TINCTST", &m_tinctst},
            {"APOS", &m_apos},
            {"APOS_MT", &m_apos},
            {"Motor_Position", &m_apos},
            {"ASPD", &m_speedCounts},
            {"ASPD_MT", &m_speedCounts},
            {"Motor_Speed", &m_speedCounts},
            {"MER", &m_merValue},
            {"IA", &m_ia},
            {"IB", &m_ib},
            {"VDC", &m_vdcReading},
            {"Load_Position", &m_apos},
            {"Load_Speed", &m_speedCounts},
            {"SPDREF", &m_speedReferenceLive},
            {"Speed_Reference", &m_speedReferenceLive},
            {"Motor_Speed_Reference", &m_speedReferenceLive},
            {"TPOS", &m_positionReferenceLive},
            {"Target_Position", &m_positionReferenceLive},
            {"POSERR", &m_positionErrorLive},
            {"AD5", &m_ad5},
            {"Electric_Angle", &m_electricAngle},
            {"Excitation", &m_excitation},
            {"Voltage_Command", &m_uqApplied}};
  for (const char* output : {"var_i1", "var_i2", "var_u2", "var_lf_long", "REFTST_V", "RINCTST_V"})
    m_variables[output] = 0.0;
  Derive();
}

bool DriveFirmware::HasRegister(std::string_view name) const { return m_registers.find(name) != m_registers.end(); }

double DriveFirmware::Register(std::string_view name) const {
  auto it = m_registers.find(name);
  return it == m_registers.end() ? 0.0 : it->second.value;
}

bool DriveFirmware::TimingValid(std::string_view name, double value, std::string& error) const {
  if (!IsTimingRegister(name)) return true;
  auto get = [&](const char* n) { return axcore::EqualsIgnoreCase(name, n) ? value : Register(n); };
  const double period = get("CLPER") * 2.0 * get("PWMPER") / get("DSP_freq");
  const double pwm = 2.0 * get("PWMPER") / get("DSP_freq");
  const double slow = get("SLPER") / get("CLPER");
  // The loop period must be one the drive can run and simulate: 1 µs to 0.1 s.
  if (!(period >= 1e-6 && period <= 0.1 && pwm > 0.0 && slow >= 1.0 && slow <= 1000.0)) {
    error = "the drive refuses " + std::string(name) + " = " + std::to_string(value) +
            ": the current-loop period must lie between 1 µs and 0.1 s and SLPER must be 1 to 1000 times CLPER";
    return false;
  }
  return true;
}

bool DriveFirmware::SetRegister(std::string_view name, double value, bool isInteger, bool create,
                                std::string& error) {
  auto it = m_registers.find(name);
  if (it == m_registers.end() && !create) {
    error = "the drive has no register \"" + std::string(name) + "\"";
    return false;
  }
  if (!std::isfinite(value) || value < -2147483648.0 || value > 4294967295.0) {
    error = "the drive refuses " + std::string(name) + " = " + std::to_string(value) +
            ": not a value of a 32-bit register";
    return false;
  }
  const bool integer = it == m_registers.end() ? isInteger : it->second.isInteger;
  const double stored = integer ? RoundHalfAway(value) : value;
  if (!TimingValid(name, stored, error)) return false;
  if (it == m_registers.end()) {
    m_registers[std::string(name)] = {stored, integer};
  } else {
    it->second.value = stored;
  }
  Derive();
  return true;
}

void DriveFirmware::Derive() {
  const double dsp = Register("DSP_freq"), pwmper = Register("PWMPER");
  const double clper = Register("CLPER"), slper = Register("SLPER");
  m_pwmPeriod_s = 2.0 * pwmper / dsp;
  m_period_s = clper * m_pwmPeriod_s;
  m_slowDivider = static_cast<int>(std::clamp(std::round(slper / clper), 1.0, 1000.0));
  m_plant.SetPeriod(m_period_s, m_pwmPeriod_s);

  const double bits = std::clamp(std::trunc(HasRegister("ADCbits") ? Register("ADCbits") : 10.0), 1.0, 16.0);
  m_adcLsb = std::ldexp(1.0, 16 - static_cast<int>(bits));
  m_adcMax = (std::ldexp(1.0, static_cast<int>(bits)) - 1.0) * m_adcLsb;
  m_inverseLsb = 1.0 / m_adcLsb;
  const double imax = Register("ImaxPS");
  m_currentScale = imax > 0.0 ? m_adcMax / (2.0 * imax) : 0.0;
  const double vdcMax = Register("VdcMaxMeasurable");
  m_supplyScale = vdcMax > 0.0 ? m_adcMax / vdcMax : 0.0;
  // The bridge turns a command into a fraction of the supply it really has.
  m_voltsPerCount = 1.1 * m_plant.Parameters().vdc_V / 65534.0;

  m_kp = Gain(Register("KPI"), Register("SFTKPI"));
  m_ki = Gain(Register("KII"), Register("SFTKII"));
  m_filterQ = std::clamp(HasRegister("FILTERQ") ? Register("FILTERQ") / 32767.0 : 1.0, 0.0, 1.0);
  m_limitQ = std::clamp(32767.0 - (HasRegister("SATIQ") ? Register("SATIQ") : 0.0), 0.0, 32767.0);
  m_limitD = std::clamp(32767.0 - (HasRegister("SATID") ? Register("SATID") : 0.0), 0.0, 32767.0);
  m_overCurrentLimit = HasRegister("IMAXPROT") ? Register("IMAXPROT") : 32767.0;
  // "TIMAXPROT" counts speed-loop periods.
  m_overCurrentPeriods =
      static_cast<long>(std::clamp(Register("TIMAXPROT"), 0.0, 1e6)) * static_cast<long>(m_slowDivider);
  const double elres = Register("ELRESL");
  m_countsPerTurn = elres > 0.0 ? elres : 409600.0;
  m_radiansPerCount = kTwoPi / m_countsPerTurn;
  m_countReversed = Register("COUNTINGDIR") == 1.0;
  m_positionFractionScale = std::ldexp(1.0, static_cast<int>(std::clamp(Register("ELRES_FRACT"), 0.0, 15.0)));
  m_overCurrentOn = RegisterBit("PCR", 0, true);
  const double analogueRange = std::trunc(RegisterOr("AnalogueInputsRange", 20.0));
  m_analogueLow_V = analogueRange == 20.0 ? -10.0 : 0.0;
  m_analogueSpan_V = analogueRange == 20.0 ? 20.0 : analogueRange == 5.0 ? 5.0 : 3.3;
  DeriveMotion();
}

double DriveFirmware::LineCount() const {
  const double raw = static_cast<double>(m_plant.EncoderCount());
  const double counted = m_countReversed ? -raw : raw;
  return std::floor(std::ldexp(counted, -m_plant.Parameters().encoder_interpolation_bits) * m_positionFractionScale);
}

double DriveFirmware::RegisterOr(std::string_view name, double absent) const {
  auto it = m_registers.find(name);
  return it == m_registers.end() ? absent : it->second.value;
}

// Registers hold 32-bit values (SetRegister refuses others), so the cast
// of their whole part is exact.
bool DriveFirmware::RegisterBit(std::string_view name, unsigned bit, bool absent) const {
  auto it = m_registers.find(name);
  if (it == m_registers.end()) return absent;
  const auto word = static_cast<std::uint64_t>(static_cast<std::int64_t>(std::trunc(it->second.value)));
  return ((word >> bit) & 1u) != 0;
}

void DriveFirmware::DeriveMotion() {
  MotionSettings s;
  s.kpSpeed = Gain(Register("KPS"), Register("SFTKPS"));
  s.kiSpeed = Gain(Register("KIS"), Register("SFTKIS"));
  s.kpPosition = Gain(Register("KPP"), Register("SFTKPP"));
  s.kiPosition = Gain(Register("KIP"), Register("SFTKIP"));
  s.kdPosition = Gain(Register("KDP"), Register("SFTKDP"));
  s.derivativeFilter = std::clamp(RegisterOr("KDFP", 32767.0) / 32767.0, 0.0, 1.0);
  // "SpeedForward", ACR bit 14, switches the speed feed-forward on.
  s.speedFeedForward = RegisterBit("ACR", 14, false) ? Gain(Register("KFFS"), Register("SFTSFFW")) : 0.0;
  s.accelerationFeedForward =
      Gain(Register("KFFA"), std::clamp(Register("SFTKFF"), 0.0, 31.0) + std::clamp(Register("SFTAFFW"), 0.0, 31.0));
  s.gravityCurrent = Register("FFL") * RegisterOr("KFFL", 32767.0) / 32767.0;
  auto limit = [&](const char* name) { return std::clamp(32767.0 - Register(name), 0.0, 32767.0); };
  s.speedCurrentLimit = limit("SATS");
  s.speedIntegralLimit = limit("IMAXS");
  s.positionOutputLimit = limit("SATP");
  s.positionIntegralLimit = limit("IMAXP");
  s.programCurrentLimit = m_programCurrentReferenceLimit;
  s.programSpeedLimit = m_programSpeedReferenceLimit;
  m_fastOuterLoops = RegisterBit("UPGRADE", 6, false) || RegisterOr("PosSpd_in_FastLoop", 0.0) != 0.0;
  s.ticksPerSpeedPeriod = m_fastOuterLoops ? static_cast<double>(m_slowDivider) : 1.0;
  for (int slot = 0; slot < kDriveBiquadSlots; ++slot) {
    const std::string prefix = "BQ" + std::to_string(slot + 1);
    auto coefficient = [&](const char* suffix) { return Register(prefix + suffix); };
    s.slots[static_cast<std::size_t>(slot)] = BiquadCoefficientSet::FromRegisters(
        coefficient("B0"), coefficient("B1"), coefficient("B2"), coefficient("A1"), coefficient("A2"),
        coefficient("SF"));
  }
  auto count = [&](const char* name) { return static_cast<int>(std::clamp(Register(name), 0.0, 3.0)); };
  s.speedReferenceSlots = count("SPDREF_BQ_INI");
  s.currentReferenceSlots = count("IQREF_BQ_INI");
  s.speedFeedbackSlots = count("ASPD_BQ_INI");
  m_loops.Configure(s);
  m_configuredPositionLoop = RegisterBit("ACR", 9, true) ? PositionLoop::OverSpeedLoop : PositionLoop::Pid;

  // Control error protections: "ERRMAX" counts, "SERRMAX" counts per
  // speed-loop period, each held beyond its limit for more than "TERRMAX" /
  // "TSERRMAX" speed-loop periods; a delay of 65535 switches it off.
  auto periods = [&](const char* name) {
    const double value = RegisterOr(name, kProtectionOff);
    return value == kProtectionOff ? -1L : static_cast<long>(std::clamp(value, 0.0, kProtectionOff));
  };
  m_positionErrorLimit = RegisterOr("ERRMAX", 32767.0);
  m_positionErrorPeriods = periods("TERRMAX");
  m_speedErrorLimit = RegisterOr("SERRMAX", 32767.0);
  m_speedErrorPeriods = periods("TSERRMAX");
  // "DIGIN_ACTIVE_LEVEL" bits 13 and 14: the level of the positive and the
  // negative limit switch input that means "on the switch" (set: high).
  m_positiveSwitchActiveHigh = RegisterBit("DIGIN_ACTIVE_LEVEL", 13, false);
  m_negativeSwitchActiveHigh = RegisterBit("DIGIN_ACTIVE_LEVEL", 14, false);
}

bool DriveFirmware::ReadVariable(std::string_view name, double& value) const {
  if (auto it = m_live.find(name); it != m_live.end()) {
    value = *it->second;
    return true;
  }
  if (auto it = m_variables.find(name); it != m_variables.end()) {
    value = it->second;
    return true;
  }
  if (auto it = m_registers.find(name); it != m_registers.end()) {
    value = it->second.value;
    return true;
  }
  return false;
}

const double* DriveFirmware::VariableAddress(std::string_view name) {
  if (auto it = m_live.find(name); it != m_live.end()) return it->second;
  if (auto it = m_variables.find(name); it != m_variables.end()) return &it->second;
  if (auto it = m_registers.find(name); it != m_registers.end()) return &it->second.value;
  return nullptr;
}

bool DriveFirmware::WriteVariable(std::string_view name, double value, std::string& error) {
  if (!std::isfinite(value) || value < -2147483648.0 || value > 4294967295.0) {
    error = "the drive refuses " + std::string(name) + " = " + std::to_string(value) +
            ": not a value of a 32-bit variable";
    return false;
  }
  if (m_live.find(name) != m_live.end()) {
    error = "the drive variable \"" + std::string(name) + "\" is computed by the drive and cannot be written";
    return false;
  }
  if (auto it = m_variables.find(name); it != m_variables.end()) {
    it->second = value;
    return true;
  }
  if (HasRegister(name)) return SetRegister(name, value, true, false, error);
  error = "the drive has no variable \"" + std::string(name) + "\"";
  return false;
}

void DriveFirmware::SetOutput(std::string_view name, double value) {
  m_variables[std::string(name)] = value;
  for (const std::string& written : m_written)
    if (axcore::EqualsIgnoreCase(written, name)) return;
  m_written.emplace_back(name);
}

bool DriveFirmware::TurnAxisOn() {
  if (!m_enableInput) Trip(kMerEnableInput);
  if (Mer() != 0) return false;
  if (!m_axisOn) {
    m_integQ = m_integD = m_uq = m_ud = 0.0;
    m_overCurrentCount = 0;
    m_loopsFresh = true;
  }
  m_axisOn = true;
  return true;
}

void DriveFirmware::TurnAxisOff() {
  m_axisOn = false;
  m_mode = LoopMode::Off;
  m_uq = m_ud = m_integQ = m_integD = 0.0;
  m_outAlpha_V = m_outBeta_V = m_nextAlpha_V = m_nextBeta_V = 0.0;
}

void DriveFirmware::Trip(unsigned bit) {
  m_mer |= bit;
  m_merValue = static_cast<double>(Mer());
  TurnAxisOff();
}

void DriveFirmware::ForceMerBits(unsigned bits) {
  m_forcedMer |= bits;
  m_merValue = static_cast<double>(Mer());
  if (bits != 0) TurnAxisOff();
}

void DriveFirmware::ClearProtections() {
  m_mer = 0;
  m_programCurrentLimit = 0.0;
  if (m_programCurrentReferenceLimit != 0.0 || m_programSpeedReferenceLimit != 0.0) SetProgramLoopLimits(0.0, 0.0);
  m_merValue = static_cast<double>(Mer());
  m_aposOrigin = 0.0;
  m_apos = m_positionCount;
  if (m_injection != Injection::None) SetInjection(Injection::None, 0.0);
}

void DriveFirmware::SetInjection(Injection point, double value) {
  m_injection = std::isfinite(value) ? point : Injection::None;
  m_excitation = m_injection == Injection::None ? 0.0 : value;
  m_loops.SetInjection(m_injection == Injection::CurrentReference ? m_excitation : 0.0,
                       m_injection == Injection::SpeedReference ? m_excitation : 0.0);
}

void DriveFirmware::SetProgramLoopLimits(double currentReference_counts, double speedReference_counts) {
  // A value that is no number sets no limit.
  m_programCurrentReferenceLimit = currentReference_counts > 0.0 ? currentReference_counts : 0.0;
  m_programSpeedReferenceLimit = speedReference_counts > 0.0 ? speedReference_counts : 0.0;
  DeriveMotion();
}

void DriveFirmware::ZeroPositionCounter() {
  m_aposOrigin = m_positionCount;
  m_apos = 0.0;
}

void DriveFirmware::SetTestAngle(double angle_steps, double increment_steps_per_period) {
  m_testAngle_steps = std::fmod(angle_steps, kAngleStepsPerTurn);
  m_testIncrement_steps = increment_steps_per_period;
  m_tinctst = increment_steps_per_period;
}

void DriveFirmware::ApplyVoltage(double amplitude_counts) {
  m_mode = LoopMode::Voltage;
  m_voltageAmplitude = std::clamp(amplitude_counts, -32767.0, 32767.0);
}

void DriveFirmware::ApplyCurrent(double iqReference_counts, double idReference_counts) {
  if (m_mode != LoopMode::Current) m_integQ = m_integD = 0.0;
  m_mode = LoopMode::Current;
  m_iqRef = iqReference_counts;
  m_idRef = idReference_counts;
}

void DriveFirmware::ApplySpeed(double speedReference_counts) {
  if (m_mode != LoopMode::Speed) m_loopsFresh = true;
  m_mode = LoopMode::Speed;
  m_angleSource = AngleSource::Encoder;
  m_speedReference = speedReference_counts;
}

void DriveFirmware::ApplyPosition(double positionReference_counts, PositionLoop loop) {
  if (m_mode != LoopMode::Position || loop != m_positionLoop) m_loopsFresh = true;
  m_mode = LoopMode::Position;
  m_positionLoop = loop;
  m_angleSource = AngleSource::Encoder;
  m_positionReference = positionReference_counts;
}

double DriveFirmware::TrueFluxAngle_rad() const {
  return kTwoPi * m_plant.Position_m() / m_plant.Parameters().pole_pitch_m;
}

double DriveFirmware::CurrentMagnitude() const { return std::sqrt(m_iq * m_iq + m_id * m_id); }

inline double DriveFirmware::Quantise(double counts) const {
  const double half = m_adcMax / 2.0;
  return std::clamp(RoundNear(std::clamp(counts, -2.0 * half, 2.0 * half) * m_inverseLsb) * m_adcLsb, -half, half);
}

inline void DriveFirmware::UpdateAngle() {
  if (m_angleSource == AngleSource::Encoder) {
    m_angle_rad = m_radiansPerCount * (m_positionCount - m_angleReferenceCount) + 0.5 * std::numbers::pi;
  } else {
    m_angle_rad = kRadiansPerAngleStep * m_testAngle_steps;
  }
  if (m_angle_rad != m_cachedAngle_rad) {
    m_cos = std::cos(m_angle_rad);
    m_sin = std::sin(m_angle_rad);
    m_cachedAngle_rad = m_angle_rad;
    // The voltage of a period is one step of a staircase whose fundamental
    // lags the angle it was computed at by half an increment, and the bridge
    // holds it `m_delayPeriods` periods after that angle: the currents
    // sampled at the start of the period are referred to that fundamental.
    const double lag = (0.5 + m_delayPeriods) * kRadiansPerAngleStep * m_testIncrement_steps;
    if (m_angleSource == AngleSource::Test && lag != 0.0) {
      m_parkCos = std::cos(m_angle_rad - lag);
      m_parkSin = std::sin(m_angle_rad - lag);
    } else {
      m_parkCos = m_cos;
      m_parkSin = m_sin;
    }
  }
}

void DriveFirmware::Measure() {
  // Converter readings of phases A and B; the drive takes C = -A - B.
  const double fullScale = m_adcMax / 2.0;
  double a_A = 0.0, b_A = 0.0;
  m_plant.SensedCurrents(a_A, b_A);
  m_ia = Quantise(a_A * m_currentScale);
  m_ib = Quantise(b_A * m_currentScale);
  m_ic = -m_ia - m_ib;
  m_vdcReading =
      std::clamp(RoundNear(std::clamp(m_plant.SensedSupply_V() * m_supplyScale, 0.0, 2.0 * m_adcMax) * m_inverseLsb) *
                     m_adcLsb,
                 0.0, m_adcMax);
  const double raw = static_cast<double>(m_plant.EncoderCount());
  m_positionCount = (m_countReversed ? -raw : raw) * m_positionFractionScale;
  m_apos = m_positionCount - m_aposOrigin;
  m_slowTick = ++m_slowCount >= m_slowDivider;
  if (m_slowTick) {
    m_slowCount = 0;
    m_speedCounts = m_positionCount - m_lastSlowPosition;
    m_lastSlowPosition = m_positionCount;
  }

  UpdateAngle();
  const double iAlpha = m_ia, iBeta = (m_ia + 2.0 * m_ib) * kInverseSqrt3;
  m_iq = iAlpha * m_parkCos + iBeta * m_parkSin;
  m_id = iAlpha * m_parkSin - iBeta * m_parkCos;
  m_thtst = m_testAngle_steps;

  if (!m_axisOn) return;
  // Protections. A converter at the end of its range means a short circuit
  // or a current beyond the drive's peak; "IMAXPROT" held for "TIMAXPROT"
  // speed-loop periods is the over-current protection ("PCR" bit 0); both
  // are bit 1. A limit switch input at its active level is bit 6 or 7.
  if (std::abs(m_ia) >= fullScale || std::abs(m_ib) >= fullScale || std::abs(m_ic) >= fullScale) {
    Trip(kMerShortCircuit);
  } else if (const double squared = m_iq * m_iq + m_id * m_id;
             (m_overCurrentOn && squared > m_overCurrentLimit * m_overCurrentLimit) ||
             (m_programCurrentLimit > 0.0 && squared > m_programCurrentLimit * m_programCurrentLimit)) {
    if (++m_overCurrentCount > m_overCurrentPeriods) Trip(kMerShortCircuit);
  } else {
    m_overCurrentCount = 0;
  }
  if (LimitSwitchActive(m_plant.PositiveLimitInputHigh(), m_positiveSwitchActiveHigh)) Trip(kMerPositiveLimit);
  if (LimitSwitchActive(m_plant.NegativeLimitInputHigh(), m_negativeSwitchActiveHigh)) Trip(kMerNegativeLimit);
  if (!m_enableInput) Trip(kMerEnableInput);
}

void DriveFirmware::SampleAnalogueInput() {
  const double countsPerVolt = m_adcMax / m_analogueSpan_V;
  // The supply channel's noise in counts, as volts of this input.
  const double sigma_V = m_plant.Parameters().voltage_noise_V * m_supplyScale / countsPerVolt;
  const double counts = (m_plant.SensedAnalogueInput_V(sigma_V) - m_analogueLow_V) * countsPerVolt;
  m_ad5 = std::clamp(RoundNear(std::clamp(counts, -m_adcMax, 2.0 * m_adcMax) * m_inverseLsb) * m_adcLsb, 0.0, m_adcMax);
}

// The current loop. Once per current-loop period T, on each axis of the
// rotating frame, with currents in converter counts and voltages in
// voltage-command counts:
//
//   e[k] = i_ref[k] - i[k]
//   I[k] = I[k-1] + Ki e[k]               Ki = KII 2^SFTKII / 32767
//   u[k] = Kp e[k] + I[k]                 Kp = KPI 2^SFTKPI / 32767
//   y[k] = y[k-1] + q (u[k] - y[k-1])     q  = FILTERQ / 32767 (32767: y = u)
//
// y[k] is limited to 32767 - SATIQ (q axis) and 32767 - SATID (d axis); the
// integral is held within the same limit so it cannot wind up. The drive
// samples the currents at the start of period k, computes y[k] during it,
// and loads the new duty cycles at the start of period k + 1: the bridge
// holds y[k - d] for the whole period k (zero-order hold), d = 1 the
// computation delay ("computation_delay_periods" of the plant, 0 for an
// ideal drive). On the winding L di/dt + R i = v, with a = exp(-R T / L)
// and, in physical units (K_V voltage-command counts per volt, K_I
// converter counts per ampere), Kp' = Kp K_I / K_V, Ki'' = Ki K_I / K_V
// (per period), the sampled loop is
//
//   i[k+1] = a i[k] + (1 - a) / R v[k],   v[k] = u'[k - d]
//   u'[k]  = Kp' e[k] + Ki'' sum_{j<=k} e[j]
//
// a loop of order 2 + d. For passbands far below 1/T it is the continuous
// PI loop (Kp' s + Ki' ) / (L s^2 + (R + Kp') s + Ki'), Ki' = Ki'' / T,
// that the current controller design places at s^2 + 2 zeta w s + w^2; the
// delay (1.5 T with the hold) takes phase from it as the passband rises.
// One tick of the speed or position loop (the laws are in MotionLoops.h):
// its current reference goes to the current loop on the q axis.
void DriveFirmware::OuterLoopTick() {
  if (m_loopsFresh) {
    m_loops.Reset(m_positionCount, m_mode == LoopMode::Speed ? m_speedReference : 0.0,
                  m_mode == LoopMode::Position ? m_positionReference : m_positionCount);
    m_positionErrorCount = m_speedErrorCount = 0;
    m_integQ = m_integD = 0.0;
    m_loopsFresh = false;
  }
  m_iqRef = m_mode == LoopMode::Speed ? m_loops.SpeedTick(m_speedReference, m_positionCount)
                                      : m_loops.PositionTick(m_positionLoop, m_positionReference, m_positionCount);
  m_idRef = 0.0;
  m_speedReferenceLive = m_loops.SpeedReference();
  // "TPOS" counts from where "APOS" reads 0, as the position does.
  m_positionReferenceLive = m_mode == LoopMode::Position ? m_loops.PositionReference() - m_aposOrigin : 0.0;
  m_positionErrorLive = m_mode == LoopMode::Position ? m_loops.PositionError() : 0.0;
  if (m_slowTick) CheckControlErrors();
}

// Control error protection (bit 3), once per speed-loop period: the
// position error of a position loop, the speed error of a running speed
// loop, each beyond its limit for more than its delay.
void DriveFirmware::CheckControlErrors() {
  auto exceeded = [](bool watched, double error, double limit, long periods, long& count) {
    if (!watched || periods < 0 || std::abs(error) <= limit) {
      count = 0;
      return false;
    }
    return ++count > periods;
  };
  const bool position = m_mode == LoopMode::Position;
  const bool speedLoop = m_mode == LoopMode::Speed || m_positionLoop == PositionLoop::OverSpeedLoop;
  const bool positionTrip =
      exceeded(position, m_loops.PositionError(), m_positionErrorLimit, m_positionErrorPeriods, m_positionErrorCount);
  const bool speedTrip =
      exceeded(speedLoop, m_loops.SpeedError(), m_speedErrorLimit, m_speedErrorPeriods, m_speedErrorCount);
  if (positionTrip || speedTrip) Trip(kMerControlError);
}

void DriveFirmware::Control() {
  const bool outer = m_mode == LoopMode::Speed || m_mode == LoopMode::Position;
  if (m_axisOn && outer && (m_loopsFresh || m_slowTick || m_fastOuterLoops)) OuterLoopTick();
  double computedAlpha_V = 0.0, computedBeta_V = 0.0;
  if (!m_axisOn || m_mode == LoopMode::Off) {
    m_uq = m_ud = m_uqApplied = 0.0;
  } else {
    if (m_mode == LoopMode::Voltage) {
      m_uq = m_voltageAmplitude;
      m_ud = 0.0;
    } else {
      const double eq = m_iqRef - m_iq, ed = m_idRef - m_id;
      m_integQ = std::clamp(m_integQ + m_ki * eq, -m_limitQ, m_limitQ);
      m_integD = std::clamp(m_integD + m_ki * ed, -m_limitD, m_limitD);
      const double uq = m_kp * eq + m_integQ, ud = m_kp * ed + m_integD;
      m_uq = std::clamp(m_uq + m_filterQ * (uq - m_uq), -m_limitQ, m_limitQ);
      m_ud = std::clamp(m_ud + m_filterQ * (ud - m_ud), -m_limitD, m_limitD);
    }
    m_uqApplied = m_injection == Injection::Voltage ? std::clamp(m_uq + m_excitation, -m_limitQ, m_limitQ) : m_uq;
    computedAlpha_V = (m_uqApplied * m_cos + m_ud * m_sin) * m_voltsPerCount;
    computedBeta_V = (m_uqApplied * m_sin - m_ud * m_cos) * m_voltsPerCount;
  }
  if (m_delayPeriods == 0) {
    m_outAlpha_V = computedAlpha_V;
    m_outBeta_V = computedBeta_V;
  } else {
    // The duty cycles computed now are loaded at the next period's start.
    m_outAlpha_V = m_nextAlpha_V;
    m_outBeta_V = m_nextBeta_V;
    m_nextAlpha_V = computedAlpha_V;
    m_nextBeta_V = computedBeta_V;
  }
  if (m_angleSource == AngleSource::Test && m_testIncrement_steps != 0.0) {
    m_testAngle_steps = std::fmod(m_testAngle_steps + m_testIncrement_steps, kAngleStepsPerTurn);
    if (m_testAngle_steps < 0.0) m_testAngle_steps += kAngleStepsPerTurn;
  }
}

}  // namespace virtualdrive
