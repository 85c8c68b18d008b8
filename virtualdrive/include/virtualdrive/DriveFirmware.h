// The drive's firmware: its registers and variables by name, the sensing
// in converter counts, the current loop, the speed and position loops (see
// MotionLoops.h), the test-angle generator, the protections that set the error register "MER" and turn the power stage
// off, and the encoder interface. Test programs drive it through the
// controls below; the host reaches it only through the drive link.
//
// Units are the drive's own: currents in converter counts (ADCMAX / (2 ImaxPS)
// per ampere), voltages in voltage-command counts (65534 counts are 110 % of
// the supply), electrical angles in steps of 2 pi / 65534, positions in
// encoder counts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/Names.h"
#include "virtualdrive/MotionLoops.h"
#include "virtualdrive/Plant.h"

namespace virtualdrive {

// A user variable that a program could not deliver reads as this value.
inline constexpr double kNotDelivered = 1.2345e100;
// Electrical angle steps per electrical turn.
inline constexpr double kAngleStepsPerTurn = 65534.0;

// Bits of the motion error register "MER" that the protections set.
enum MerBit : unsigned {
  kMerShortCircuit = 1u << 1,   // short circuit / over current
  kMerControlError = 1u << 3,   // position or speed control error
  kMerPositiveLimit = 1u << 6,  // positive limit switch
  kMerNegativeLimit = 1u << 7,  // negative limit switch
  kMerEnableInput = 1u << 15,   // ENABLE input in its disabled state
};

// Where a frequency-response measurement adds its excitation: the q-axis
// voltage command the current loop computes (after its output filter,
// within its limit), the current reference (the speed controller's or the
// position PID's output, after the filter slots, within the loop's limit),
// or the speed reference the position loop over the speed loop gives.
enum class Injection { None, Voltage, CurrentReference, SpeedReference };

enum class LoopMode {
  Off,      // bridge off
  Voltage,  // a voltage vector of a given amplitude along the q axis
  Current,  // the current loop on both axes
  Speed,    // the speed loop sets the q-axis current reference
  Position, // the position loop (with or without the speed loop) does
};

// Where the rotating frame's q axis points.
enum class AngleSource {
  Test,     // the test angle "THTST", advanced by "TINCTST" every period
  Encoder,  // 90 degrees ahead of the mover's flux, from the encoder and the
            // reference the positioning program set
};

class DriveFirmware {
 public:
  explicit DriveFirmware(Plant& plant);

  // --- registers and drive constants. Loop registers are integers: a
  // register write rounds (halves away from zero); constants keep fractions.
  bool HasRegister(std::string_view name) const;
  double Register(std::string_view name) const;  // 0 when absent
  // Adds the register when `create`; false (with the reason) when the value
  // is refused: not finite, outside 32-bit range, or a timing register that
  // would leave the drive without a valid loop period.
  bool SetRegister(std::string_view name, double value, bool isInteger, bool create, std::string& error);

  // --- drive variables: the live ones the loops update, the outputs of the
  // programs, and (as fallback) the registers of the same name.
  bool ReadVariable(std::string_view name, double& value) const;
  // The address of a variable's value, stable while the drive lives, for
  // the data logger; null when there is no such variable.
  const double* VariableAddress(std::string_view name);
  // A write from the host: only to variables that are not live.
  bool WriteVariable(std::string_view name, double value, std::string& error);
  // A program's output; remembered in the list of written variables.
  void SetOutput(std::string_view name, double value);
  const std::vector<std::string>& WrittenVariables() const { return m_written; }
  void ForgetWrittenVariables() { m_written.clear(); }

  // --- timing, from "DSP_freq", "PWMPER", "CLPER", "SLPER".
  double Period_s() const { return m_period_s; }
  double PwmPeriod_s() const { return m_pwmPeriod_s; }
  int SlowLoopDivider() const { return m_slowDivider; }

  // --- one current-loop period, in two halves around the program's step.
  void Measure();
  void Control();

  // --- power stage and error register.
  // Turns the bridge on; refused (false, MER bit set) while the ENABLE
  // input is disabled or a protection bit is set.
  bool TurnAxisOn();
  void TurnAxisOff();
  bool AxisOn() const { return m_axisOn; }
  unsigned Mer() const { return m_mer | m_forcedMer; }
  void ForceMerBits(unsigned bits);
  // A new program starts from a clear error register (the forced bits and
  // the state of the ENABLE input stay), without the last program's own
  // current limit and with "APOS" counting as the encoder does.
  void ClearProtections();
  // "APOS" reads 0 where the motor stands now: a program that shows the
  // counter to the user counts the motion from its start.
  void ZeroPositionCounter();
  // A program's own over-current level (converter counts; 0 or less: none):
  // a current magnitude beyond it for more than "TIMAXPROT" speed-loop
  // periods trips the short-circuit / over-current bit like "IMAXPROT".
  void SetProgramCurrentLimit(double counts) { m_programCurrentLimit = counts; }
  // A program's own limits of what the outer loops give, in place of the
  // registers' saturations: the current reference (converter counts; the
  // speed loop's "SATS", the PID's "SATP") and the speed reference of the
  // position loop over the speed loop (counts per speed-loop period; its
  // "SATP"). 0 or less: the register's. A new program starts without them.
  void SetProgramLoopLimits(double currentReference_counts, double speedReference_counts);
  void SetEnableInput(bool enabled) { m_enableInput = enabled; }

  // --- controls for the programs.
  void SetAngleSource(AngleSource source) { m_angleSource = source; }
  void SetTestAngle(double angle_steps, double increment_steps_per_period);
  void ApplyVoltage(double amplitude_counts);
  void ApplyCurrent(double iqReference_counts, double idReference_counts = 0.0);
  // The outer loops, with the angle from the encoder: a speed reference in
  // counts per speed-loop period, a position reference in encoder counts
  // (fractions allowed). Called every period or only when the reference
  // changes: the loops hold the last one. Entering the mode starts the
  // loops afresh from where the mover is.
  void ApplySpeed(double speedReference_counts);
  void ApplyPosition(double positionReference_counts, PositionLoop loop);
  // The position loop that "ACR" selects: type 1 (bit 9 set) runs the
  // position PI around the speed loop, type 0 the PID on the current.
  PositionLoop ConfiguredPositionLoop() const { return m_configuredPositionLoop; }
  void SetLoopOff() { m_mode = LoopMode::Off; }
  // The excitation at `point` (drive units there), from this period's
  // control on; "Excitation" (live) shows it. A new program starts without.
  void SetInjection(Injection point, double value);
  // Sets the electrical angle reference: the encoder count where the
  // mover's flux points along the test angle 0.
  void SetAngleReference() { m_angleReferenceCount = m_positionCount; }

  // --- measurements of the last Measure(), in drive units.
  double Iq() const { return m_iq; }
  double Id() const { return m_id; }
  double PhaseA() const { return m_ia; }
  double PhaseB() const { return m_ib; }
  double CurrentMagnitude() const;
  double SupplyReading() const { return m_vdcReading; }
  double Position() const { return m_positionCount; }  // encoder counts
  // The lines of the encoder's sine-cosine signals, each with the
  // "ELRES_FRACT" fraction bits (the interpolation adds no lines), counted
  // the way "COUNTINGDIR" says.
  double LineCount() const;
  double CountsPerElectricalTurn() const { return m_countsPerTurn; }
  double VoltageCommand() const { return m_uq; }
  double CurrentScale() const { return m_currentScale; }  // counts per ampere
  double VoltageLimit() const { return m_limitQ; }  // largest q-axis voltage, counts
  double CurrentReference() const { return m_iqRef; }
  // The encoder's speed, counts per speed-loop period, taken at the start
  // of each speed-loop period ("ASPD"); SpeedLoopTick() is true in the
  // period that took it.
  double Speed() const { return m_speedCounts; }
  bool SpeedLoopTick() const { return m_slowTick; }
  // One conversion of the analogue reference input into "AD5": the span of
  // "AnalogueInputsRange" (20: -10 to 10 V, 5: 0 to 5 V, else 0 to 3.3 V;
  // 20 when the drive has no such constant) mapped onto 0..ADCMAX in steps
  // of the converter, clamped at both ends. The converter's noise, which the
  // supply reading shows, is the same number of counts on this input.
  void SampleAnalogueInput();
  const MotionLoops& Loops() const { return m_loops; }
  // The electrical angle of the mover's flux in the drive's alpha-beta
  // frame as the motor really has it (not as the encoder and the angle
  // reference say): what an instrument on the bench sees, against which a
  // program reports the angle it found. No control law may use it.
  double TrueFluxAngle_rad() const;
  // "Electric_Angle", the live variable of the angle found by the motionless
  // start (steps of 65536 per electrical turn); the program that finds it
  // keeps it current.
  void SetElectricAngle(double steps) { m_electricAngle = steps; }

  // The voltage vector the bridge holds this period, volts (alpha, beta).
  double OutputAlpha_V() const { return m_outAlpha_V; }
  double OutputBeta_V() const { return m_outBeta_V; }

 private:
  struct RegisterEntry {
    double value = 0.0;
    bool isInteger = true;
  };
  void Derive();
  bool TimingValid(std::string_view name, double value, std::string& error) const;
  void Trip(unsigned bit);
  double Quantise(double counts) const;
  void UpdateAngle();
  void DeriveMotion();
  bool RegisterBit(std::string_view name, unsigned bit, bool absent) const;
  double RegisterOr(std::string_view name, double absent) const;
  void OuterLoopTick();
  void CheckControlErrors();
  bool LimitSwitchActive(bool inputHigh, bool activeHigh) const { return inputHigh == activeHigh; }

  Plant& m_plant;
  const int m_delayPeriods;  // 0 or 1
  axcore::CaseInsensitiveMap<RegisterEntry> m_registers;
  axcore::CaseInsensitiveMap<double> m_variables;  // program outputs and host-written variables
  axcore::CaseInsensitiveMap<double*> m_live;      // names of the live variables
  std::vector<std::string> m_written;

  // Derived from the registers.
  double m_period_s = 50e-6, m_pwmPeriod_s = 50e-6;
  int m_slowDivider = 10;
  double m_adcMax = 65472.0, m_adcLsb = 64.0, m_inverseLsb = 1.0 / 64.0, m_currentScale = 3273.6, m_supplyScale = 641.9;
  double m_voltsPerCount = 0.0;
  double m_kp = 0.0, m_ki = 0.0, m_filterQ = 1.0, m_limitQ = 32767.0, m_limitD = 32767.0;
  double m_overCurrentLimit = 32767.0, m_programCurrentLimit = 0.0;
  double m_programCurrentReferenceLimit = 0.0, m_programSpeedReferenceLimit = 0.0;
  double m_analogueLow_V = -10.0, m_analogueSpan_V = 20.0;
  bool m_overCurrentOn = true;  // "PCR" bit 0
  long m_overCurrentPeriods = 200;
  double m_countsPerTurn = 409600.0, m_radiansPerCount = 1.5339807878856412e-5;
  bool m_countReversed = false;
  double m_positionFractionScale = 1.0;
  bool m_fastOuterLoops = false;
  PositionLoop m_configuredPositionLoop = PositionLoop::OverSpeedLoop;
  double m_positionErrorLimit = 32767.0, m_speedErrorLimit = 32767.0;
  long m_positionErrorPeriods = -1, m_speedErrorPeriods = -1;  // -1: the protection is off
  bool m_positiveSwitchActiveHigh = false, m_negativeSwitchActiveHigh = false;

  // State.
  bool m_axisOn = false;
  bool m_enableInput = true;
  unsigned m_mer = 0, m_forcedMer = 0;
  double m_merValue = 0.0;
  LoopMode m_mode = LoopMode::Off;
  AngleSource m_angleSource = AngleSource::Test;
  double m_testAngle_steps = 0.0, m_testIncrement_steps = 0.0;
  double m_angle_rad = 0.0, m_cos = 1.0, m_sin = 0.0, m_cachedAngle_rad = 0.0;
  double m_parkCos = 1.0, m_parkSin = 0.0;
  double m_ia = 0, m_ib = 0, m_ic = 0, m_iq = 0, m_id = 0;
  double m_vdcReading = 0.0;
  double m_positionCount = 0.0, m_angleReferenceCount = 0.0;
  double m_aposOrigin = 0.0;  // where "APOS" reads 0
  double m_voltageAmplitude = 0.0;
  double m_iqRef = 0, m_idRef = 0, m_integQ = 0, m_integD = 0, m_uq = 0, m_ud = 0;
  long m_overCurrentCount = 0;
  MotionLoops m_loops;
  PositionLoop m_positionLoop = PositionLoop::OverSpeedLoop;
  double m_speedReference = 0.0, m_positionReference = 0.0;
  bool m_loopsFresh = true;  // the next outer tick starts them afresh
  bool m_slowTick = false;   // this period begins a speed-loop period
  long m_positionErrorCount = 0, m_speedErrorCount = 0;
  // The voltage the bridge holds this period, and the one computed this
  // period that it will hold in the next (one period of computation delay).
  double m_outAlpha_V = 0.0, m_outBeta_V = 0.0;
  double m_nextAlpha_V = 0.0, m_nextBeta_V = 0.0;
  // Live variable storage.
  double m_thtst = 0, m_tinctst = 0, m_apos = 0, m_speedCounts = 0, m_lastSlowPosition = 0, m_ad5 = 0;
  double m_speedReferenceLive = 0, m_positionReferenceLive = 0, m_positionErrorLive = 0;
  double m_electricAngle = 0;
  long m_slowCount = 0;
  // The excitation of a frequency-response measurement and the voltage
  // command with it ("Voltage_Command").
  Injection m_injection = Injection::None;
  double m_excitation = 0.0, m_uqApplied = 0.0;
};

}  // namespace virtualdrive
