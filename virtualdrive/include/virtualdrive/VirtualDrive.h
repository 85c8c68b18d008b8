// A simulated drive and linear motor behind the drive link.
//
// The drive advances in current-loop periods computed from its own
// "DSP_freq", "PWMPER", "CLPER" and "SLPER". Given a clock, every drive-link
// call first advances the simulation to the clock's time; AdvanceTo moves
// it explicitly. No wall clock is read and no thread is started: a whole
// test runs deterministically as fast as the simulation computes.
//
// Each period: the firmware samples the sensors (and its protections act),
// the running test program takes its step, the firmware's loops compute the
// voltage, the plant holds it for the period, the data logger records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/Clock.h"
#include "axcore/DriveLink.h"
#include "axcore/Names.h"
#include "virtualdrive/DataLogger.h"
#include "virtualdrive/DriveFirmware.h"
#include "virtualdrive/DriveScope.h"
#include "virtualdrive/Plant.h"
#include "virtualdrive/PlantFile.h"
#include "virtualdrive/TestProgram.h"

class CMC_Setup;

namespace virtualdrive {

class VirtualDrive : public DriveLink {
 public:
  explicit VirtualDrive(const PlantParameters& plant = ExamplePlant(), const Clock* clock = nullptr);
  ~VirtualDrive() override;

  // --- the drive link (values in the drive's internal units).
  bool ReadVariable(std::string_view name, double& value, std::string& error) override;
  bool WriteVariable(std::string_view name, double value, std::string& error) override;
  bool WriteRegister(std::string_view name, double value, std::string& error) override;
  bool SetProgramVariable(std::string_view program, std::string_view name, double value,
                          std::string& error) override;
  bool GetProgramVariable(std::string_view program, std::string_view name, double& value,
                          std::string& error) override;
  bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) override;
  bool StopProgram(std::string& error) override;
  bool GetAxisOn(bool& on, std::string& error) override;
  bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) override;
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) override;
  // The scope (DriveScope.h): frames while a program runs, taken with
  // TakeUnsolicitedMessages.
  bool StartScope(const ScopeSettings& settings, std::string& error) override;
  bool StopScope(std::string& error) override;

  // Copies every register and constant of the setup (base value, which for
  // registers is the internal value) into the drive, adding the names the
  // drive does not have yet. False, with the first refused value, when the
  // link is lost or a value is refused; the other values are still loaded.
  bool LoadSetup(const CMC_Setup& setup, std::string* error = nullptr);
  // One value of a setup as LoadSetup loads it (a drive served over a wire
  // is loaded one register at a time): `integer` keeps it rounded, as a
  // register or an integer constant is.
  bool LoadRegister(std::string_view name, double value, bool integer, std::string& error);

  // Runs the simulation up to `time_s` (whole periods); earlier times and
  // non-finite values do nothing.
  void AdvanceTo(double time_s);
  double Now_s() const;
  bool ProgramRunning() const { return m_running != nullptr; }

  // --- fault injection.
  // Every drive-link call fails, as when the cable is pulled.
  void InjectLostLink(bool lost) { m_linkLost = lost; }
  // The drive refuses every program download.
  void InjectRefusedProgramLoad(bool refused) { m_refuseLoads = refused; }
  // Sets bits of "MER" that stay set (the axis goes off at once).
  void InjectMerBits(unsigned bits);
  // A motor lead that is not connected: 0 A, 1 B, 2 C; -1 none.
  void InjectOpenPhase(int lead) { m_plant.Faults().openLead = lead; }
  void InjectSwappedPhases(bool swapped) { m_plant.Faults().swappedPhases = swapped; }
  void InjectReversedEncoder(bool reversed) { m_plant.Faults().encoderReversed = reversed; }
  void InjectMissingEncoder(bool missing) { m_plant.Faults().encoderMissing = missing; }
  // The drive's ENABLE input; while disabled the power stage stays off and
  // "MER" bit 15 is set.
  void SetEnableInput(bool enabled) { m_firmware.SetEnableInput(enabled); }

  // --- the bench: what a person does at the drive and the motor. Both act
  // from the drive's present time (the clock's, when it has one); a value
  // that is not finite is ignored.
  // The voltage at the analogue reference input.
  void SetAnalogueInput_V(double volts);
  // The user pushes the mover by `distance_m` (signed) at a steady speed
  // over `duration_s`; see Plant::MoveByHand.
  void MoveByHand(double distance_m, double duration_s);

  // --- for tools and tests.
  const Plant& GetPlant() const { return m_plant; }
  DriveFirmware& Firmware() { return m_firmware; }
  // Scope frames the drive dropped because the host did not take them.
  std::uint64_t DroppedScopeFrames() const { return m_scope.DroppedFrames(); }
  // The drive variables the last program run wrote, in the order written.
  const std::vector<std::string>& WrittenVariables() const { return m_firmware.WrittenVariables(); }

 private:
  struct ProgramState {
    const ProgramSpec* spec = nullptr;
    axcore::CaseInsensitiveMap<double> values;
  };
  bool Begin(std::string& error);
  ProgramState* Program(std::string_view name, std::string& error);
  const UserVariableSpec* Variable(const ProgramState& program, std::string_view name, std::string& error) const;
  void StepPeriod();
  void FinishProgram();
  bool Idle() const;
  bool PassiveIdle() const;
  void Rebase();

  const Clock* m_clock;
  Plant m_plant;
  DriveFirmware m_firmware;
  DataLogger m_logger;
  DriveScope m_scope;
  axcore::CaseInsensitiveMap<ProgramState> m_programs;
  std::unique_ptr<TestProgram> m_running;
  ProgramState* m_runningState = nullptr;
  std::int64_t m_programStart = 0;
  std::int64_t m_periods = 0;
  std::int64_t m_epochPeriods = 0;
  double m_epochTime_s = 0.0;
  double m_epochPeriod_s = 0.0;
  bool m_linkLost = false;
  bool m_refuseLoads = false;
};

}  // namespace virtualdrive
