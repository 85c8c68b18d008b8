#include "virtualdrive/VirtualDrive.h"

#include <cmath>

#include "axcore/Setup.h"

namespace virtualdrive {
namespace {

std::string Quote(std::string_view name) { return "\"" + std::string(name) + "\""; }

double RoundHalfAway(double x) { return std::copysign(std::floor(std::abs(x) + 0.5), x); }

// A value stored into a user variable of this type, or false when it does
// not fit.
bool StoreAs(VariableType type, double value, double& stored) {
  if (!std::isfinite(value)) return false;
  switch (type) {
    case VariableType::Int:
      stored = RoundHalfAway(value);
      return stored >= -32768.0 && stored <= 32767.0;
    case VariableType::Long:
      stored = RoundHalfAway(value);
      return stored >= -2147483648.0 && stored <= 2147483647.0;
    case VariableType::Fixed:
      stored = RoundHalfAway(value * 65536.0) / 65536.0;
      return stored >= -32768.0 && stored <= 32768.0 - 1.0 / 65536.0;
  }
  return false;
}

const char* TypeText(VariableType type) {
  switch (type) {
    case VariableType::Int:
      return "16-bit";
    case VariableType::Long:
      return "32-bit";
    case VariableType::Fixed:
      return "16.16 fixed-point";
  }
  return "";
}

}  // namespace

VirtualDrive::VirtualDrive(const PlantParameters& plant, const Clock* clock)
    : m_clock(clock), m_plant(plant), m_firmware(m_plant) {
  m_epochPeriod_s = m_firmware.Period_s();
  if (m_clock != nullptr) m_epochTime_s = m_clock->Now();
  for (const ProgramSpec& spec : ProgramTable()) {
    ProgramState& state = m_programs[spec.name];
    state.spec = &spec;
    for (const UserVariableSpec& variable : spec.variables)
      state.values[variable.name] = variable.output && std::string_view(variable.name) != "STARTED" ? kNotDelivered : 0.0;
  }
  m_firmware.Measure();
}

VirtualDrive::~VirtualDrive() = default;

double VirtualDrive::Now_s() const {
  return m_epochTime_s + static_cast<double>(m_periods - m_epochPeriods) * m_epochPeriod_s;
}

void VirtualDrive::Rebase() {
  if (m_firmware.Period_s() == m_epochPeriod_s) return;
  m_epochTime_s = Now_s();
  m_epochPeriods = m_periods;
  m_epochPeriod_s = m_firmware.Period_s();
}

bool VirtualDrive::Idle() const { return m_running == nullptr && !m_firmware.AxisOn() && m_plant.AtRest(); }

// A program that only follows the inputs runs on a motor that rests; a
// scope that streams samples every period, so then every period is run.
bool VirtualDrive::PassiveIdle() const {
  return m_running != nullptr && m_running->Passive() && !m_firmware.AxisOn() && m_plant.AtRest() &&
         !m_scope.Started();
}

void VirtualDrive::AdvanceTo(double time_s) {
  if (!std::isfinite(time_s)) return;
  const double periods = std::floor((time_s - m_epochTime_s) / m_epochPeriod_s + 1e-9);
  if (!(periods > static_cast<double>(m_periods - m_epochPeriods))) return;
  const std::int64_t target = m_epochPeriods + static_cast<std::int64_t>(std::min(periods, 4e18));
  while (m_periods < target) {
    if (Idle()) {
      // Nothing moves and nothing is powered: time passes without change.
      m_periods = target;
      break;
    }
    if (PassiveIdle() && target - m_periods > 1) {
      // Nothing the program follows changes until its last period.
      m_periods = target - 1;
      StepPeriod();
      break;
    }
    StepPeriod();
  }
}

void VirtualDrive::StepPeriod() {
  m_firmware.Measure();
  if (m_running) {
    ProgramContext context(m_firmware, m_runningState->values, m_logger, m_periods - m_programStart);
    if (!m_running->Step(context)) FinishProgram();
  }
  m_firmware.Control();
  m_plant.Step(m_firmware.OutputAlpha_V(), m_firmware.OutputBeta_V(), m_firmware.AxisOn());
  if (m_running) {
    const std::int64_t elapsed = m_periods - m_programStart;
    m_logger.Sample(elapsed, static_cast<double>(elapsed) * m_epochPeriod_s);
    if (m_firmware.SpeedLoopTick()) m_scope.SpeedLoopTick(m_epochPeriod_s * m_firmware.SlowLoopDivider());
  }
  ++m_periods;
}

void VirtualDrive::FinishProgram() {
  m_firmware.TurnAxisOff();
  m_logger.Disarm();
  m_scope.ProgramEnded();
  m_running.reset();
  m_runningState = nullptr;
}

bool VirtualDrive::StopProgram(std::string& error) {
  if (!Begin(error)) return false;
  if (m_running) FinishProgram();
  m_firmware.TurnAxisOff();
  return true;
}

bool VirtualDrive::Begin(std::string& error) {
  if (m_clock != nullptr) AdvanceTo(m_clock->Now());
  if (!m_linkLost) return true;
  error = "no answer from the drive: the communication link is lost";
  return false;
}

VirtualDrive::ProgramState* VirtualDrive::Program(std::string_view name, std::string& error) {
  auto it = m_programs.find(name);
  if (it != m_programs.end()) return &it->second;
  error = "the drive has no program " + Quote(name);
  return nullptr;
}

const UserVariableSpec* VirtualDrive::Variable(const ProgramState& program, std::string_view name,
                                               std::string& error) const {
  for (const UserVariableSpec& variable : program.spec->variables)
    if (axcore::EqualsIgnoreCase(variable.name, name)) return &variable;
  error = "the program " + Quote(program.spec->name) + " has no variable " + Quote(name);
  return nullptr;
}

bool VirtualDrive::ReadVariable(std::string_view name, double& value, std::string& error) {
  if (!Begin(error)) return false;
  if (m_firmware.ReadVariable(name, value)) return true;
  error = "the drive has no variable " + Quote(name);
  return false;
}

bool VirtualDrive::WriteVariable(std::string_view name, double value, std::string& error) {
  return Begin(error) && m_firmware.WriteVariable(name, value, error);
}

bool VirtualDrive::WriteRegister(std::string_view name, double value, std::string& error) {
  if (!Begin(error)) return false;
  const bool written = m_firmware.SetRegister(name, value, true, true, error);
  Rebase();
  return written;
}

bool VirtualDrive::SetProgramVariable(std::string_view program, std::string_view name, double value,
                                      std::string& error) {
  if (!Begin(error)) return false;
  ProgramState* state = Program(program, error);
  if (state == nullptr) return false;
  const UserVariableSpec* variable = Variable(*state, name, error);
  if (variable == nullptr) return false;
  double stored = 0.0;
  if (!StoreAs(variable->type, value, stored)) {
    error = "the " + std::string(TypeText(variable->type)) + " variable " + Quote(variable->name) +
            " of the program " + Quote(state->spec->name) + " cannot hold " + std::to_string(value);
    return false;
  }
  state->values[variable->name] = stored;
  return true;
}

bool VirtualDrive::GetProgramVariable(std::string_view program, std::string_view name, double& value,
                                      std::string& error) {
  if (!Begin(error)) return false;
  ProgramState* state = Program(program, error);
  if (state == nullptr) return false;
  const UserVariableSpec* variable = Variable(*state, name, error);
  if (variable == nullptr) return false;
  value = state->values[variable->name];
  return true;
}

bool VirtualDrive::StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) {
  if (!Begin(error)) return false;
  ProgramState* state = Program(program, error);
  if (state == nullptr) return false;
  if (m_refuseLoads) {
    error = "the drive refused to load the program " + Quote(state->spec->name);
    return false;
  }
  // A download stops whatever ran before it.
  if (m_running) FinishProgram();
  if (logger != nullptr && !m_logger.Arm(*logger, m_firmware, error)) return false;
  if (logger == nullptr) m_logger.Disarm();
  for (const UserVariableSpec& variable : state->spec->variables)
    if (variable.output) state->values[variable.name] = std::string_view(variable.name) == "STARTED" ? 0.0 : kNotDelivered;
  m_firmware.ClearProtections();
  m_firmware.ForgetWrittenVariables();
  m_running = state->spec->create();
  m_runningState = state;
  m_programStart = m_periods;
  return true;
}

bool VirtualDrive::GetAxisOn(bool& on, std::string& error) {
  if (!Begin(error)) return false;
  on = m_firmware.AxisOn();
  return true;
}

bool VirtualDrive::UploadLog(std::vector<std::vector<double>>& points, std::string& error) {
  if (!Begin(error)) return false;
  points = m_logger.Points();
  return true;
}

bool VirtualDrive::TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) {
  if (!Begin(error)) return false;
  m_scope.Take(messages);
  return true;
}

bool VirtualDrive::StartScope(const ScopeSettings& settings, std::string& error) {
  return Begin(error) && m_scope.Start(settings, m_firmware, error);
}

bool VirtualDrive::StopScope(std::string& error) {
  if (!Begin(error)) return false;
  m_scope.Stop();
  return true;
}

void VirtualDrive::SetAnalogueInput_V(double volts) {
  if (m_clock != nullptr) AdvanceTo(m_clock->Now());
  if (std::isfinite(volts)) m_plant.SetAnalogueInput_V(volts);
}

void VirtualDrive::MoveByHand(double distance_m, double duration_s) {
  if (m_clock != nullptr) AdvanceTo(m_clock->Now());
  m_plant.MoveByHand(distance_m, duration_s);
}

void VirtualDrive::InjectMerBits(unsigned bits) {
  m_firmware.ForceMerBits(bits);
  if (bits != 0 && m_running) FinishProgram();
}

bool VirtualDrive::LoadSetup(const CMC_Setup& setup, std::string* error) {
  std::string local;
  std::string& why = error != nullptr ? *error : local;
  if (!Begin(why)) return false;
  bool all = true;
  std::string first;
  for (const auto& parameter : setup.Parameters()) {
    const ParameterKind kind = parameter->GetKind();
    if (kind != ParameterKind::Register && kind != ParameterKind::Constant) continue;
    std::string refused;
    const bool integer = kind == ParameterKind::Register || parameter->IsInt();
    if (!m_firmware.SetRegister(parameter->GetName(), parameter->GetValueInBaseUnit(), integer, true, refused)) {
      if (all) first = refused;
      all = false;
    }
  }
  Rebase();
  if (!all) why = first;
  return all;
}

bool VirtualDrive::LoadRegister(std::string_view name, double value, bool integer, std::string& error) {
  if (!Begin(error)) return false;
  const bool written = m_firmware.SetRegister(name, value, integer, true, error);
  Rebase();
  return written;
}

}  // namespace virtualdrive
