#include <cmath>

#include "virtualdrive/TestProgram.h"

namespace virtualdrive {

double ProgramContext::Get(std::string_view name) const {
  auto it = m_variables.find(name);
  return it == m_variables.end() ? 0.0 : it->second;
}

void ProgramContext::Set(std::string_view name, double value) {
  auto it = m_variables.find(name);
  if (it != m_variables.end()) it->second = value;
}

std::int64_t ProgramContext::Periods(double seconds) const {
  const double periods = std::ceil(seconds / drive.Period_s());
  return periods >= 1.0 ? static_cast<std::int64_t>(std::min(periods, 1e12)) : 1;
}

namespace {

// The variables of the programs that follow a reference profile.
std::vector<UserVariableSpec> ProfileVariables(bool speedLimit) {
  using T = VariableType;
  std::vector<UserVariableSpec> variables = {{"RefTest", T::Int}, {"RIncTest", T::Int}, {"IlimPS_Test", T::Int}};
  if (speedLimit) variables.push_back({"LimitSpeed_Test", T::Long});
  variables.push_back({"Imax_Prot_Test", T::Int});
  for (const char* count : {"a0", "a1", "a2", "a3", "a4", "a5"}) variables.push_back({count, T::Int});
  for (const char* increment : {"b0", "b1", "b2", "b3", "b4", "b5"}) variables.push_back({increment, T::Fixed});
  variables.push_back({"MultiC", T::Int});
  variables.push_back({"test_flag", T::Int, true});
  variables.push_back({"STARTED", T::Int, true});
  return variables;
}

}  // namespace

// The user variables of each program: what the host writes before the run
// and reads after it. A new program drops in with its row here, its factory
// and its descriptor file among the plug-in's resources.
const std::vector<ProgramSpec>& ProgramTable() {
  using T = VariableType;
  static const std::vector<ProgramSpec> table = {
      {"Initial_Positioning_Test", {{"In1", T::Long}, {"STARTED", T::Int, true}}, MakeInitialPositioning},
      {"Motor_Phase_Connection_Test",
       {{"RefTest", T::Int}, {"RIncTest", T::Int}, {"STARTED", T::Int, true}},
       MakePhaseConnectionTest},
      {"VDC_Detection_Test", {{"STARTED", T::Int, true}}, MakeVdcDetection},
      {"Ident_R_or_Rs",
       {{"RefTest", T::Int}, {"RIncTest", T::Int}, {"In1", T::Int}, {"STARTED", T::Int, true}},
       MakeResistanceTest},
      {"Ident_L_or_Tau_el", {{"In1", T::Int}, {"STARTED", T::Int, true}}, MakeInductanceTest},
      {"Encoder_Resolution_And_Direction_Test",
       {{"RefTest", T::Int}, {"PolesPairs", T::Int}, {"STARTED", T::Int, true}},
       MakeEncoderResolutionTest},
      {"Current_Controller_Tuning_Test",
       {{"RefTest", T::Int},
        {"RIncTest", T::Int},
        {"In1", T::Int},
        {"Imax_Prot_Test", T::Int},
        {"test_flag", T::Int, true},
        {"STARTED", T::Int, true}},
       MakeCurrentTuningTest},
      {"Angle_Controller_Tuning_Test",
       {{"In1", T::Int},
        {"ReferenceIncrement", T::Int},
        {"TimeLimit", T::Int},
        {"test_flag", T::Int, true},
        {"theta_1", T::Fixed, true},
        {"STARTED", T::Int, true}},
       MakeAngleTuningTest},
      // "LimitSpeedMax" and "delta_speed" are 32-bit: the host's default
      // speed limit, the commutation limit, is far beyond 16 bits of counts
      // per speed-loop period.
      {"Total_Mass_Identification_Test",
       {{"RefTest", T::Int},
        {"RIncTest", T::Int},
        {"In1", T::Int},
        {"LimitSpeedMax", T::Long},
        {"Imax_Prot_Test", T::Int},
        {"test_flag", T::Int, true},
        {"delta_time", T::Int, true},
        {"delta_speed", T::Long, true},
        {"STARTED", T::Int, true}},
       MakeTotalMassTest},
      {"Encoder_Connection_Test", {{"STARTED", T::Int, true}}, MakeEncoderConnectionTest},
      {"Analogue_Reference_Test", {{"STARTED", T::Int, true}}, MakeAnalogueReferenceTest},
      // The tuning programs that follow a reference profile: six segments of
      // "a<i>" speed-loop periods adding "b<i>" (16.16) every period.
      // "LimitSpeed_Test" is 32-bit like "LimitSpeedMax".
      {"Speed_Controller_Tuning_Test", ProfileVariables(false), MakeSpeedTuningTest},
      {"Position_Controller_Tuning_Test_with_SpdCtrl", ProfileVariables(true), MakePositionTuningTestWithSpeedLoop},
      {"Position_Controller_Tuning_Test_without_SpdCtrl", ProfileVariables(false),
       MakePositionTuningTestWithoutSpeedLoop},
      {"Frequency_Response_Test",
       {{"Loop", T::Int},
        {"Amplitude", T::Fixed},
        {"Register_Bits", T::Int},
        {"Bit_Ticks", T::Int},
        {"Settle_Ticks", T::Long},
        {"Measure_Ticks", T::Long},
        {"Travel_Limit", T::Long},
        {"IlimPS_Test", T::Int},
        {"Imax_Prot_Test", T::Int},
        {"test_flag", T::Int, true},
        {"Travel_Used", T::Long, true},
        {"STARTED", T::Int, true}},
       MakeFrequencyResponseTest},
  };
  return table;
}

const ProgramSpec* FindProgram(std::string_view name) {
  for (const ProgramSpec& spec : ProgramTable())
    if (axcore::EqualsIgnoreCase(spec.name, name)) return &spec;
  return nullptr;
}

}  // namespace virtualdrive
