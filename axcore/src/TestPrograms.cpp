#include "axcore/TestPrograms.h"

#include "axcore/CoffFormat.h"
#include "axcore/Comm.h"
#include "axcore/Logger.h"
#include "axcore/ScopeLogger.h"

namespace axcore {
namespace {

DriveLink* Link(std::string& error) {
  DriveLink* link = CMC_Comm::GetLink();
  if (link == nullptr) error = kNoDriveConnected;
  return link;
}

// The failure `error` also becomes the communication layer's last error.
int Fail(std::string& error) {
  CMC_Comm::SetLastErrorText(error);
  return 0;
}

const CMC_CoffFormat::UserVariable* Variable(const CMC_CoffFormat& program, const std::string& name,
                                             std::string& error) {
  const CMC_CoffFormat::UserVariable* v = program.FindVariable(name);
  if (v == nullptr) {
    error = program.GetProgramName().empty()
                ? "program descriptor " + program.GetPath() + " was not read"
                : "program \"" + program.GetProgramName() + "\" has no variable \"" + name + "\"";
  }
  return v;
}

}  // namespace

int ExecuteCode(const std::string& programName, CMC_CoffFormat* program, CMC_Logger* logger) {
  std::string error;
  if (program != nullptr && program->GetProgramName() != programName) {
    error = "program descriptor of \"" + programName + "\" was not read";
    return Fail(error);
  }
  DriveLink* link = Link(error);
  if (link == nullptr) return Fail(error);
  // A scope streams instead of recording: it is started first, so that it
  // takes the program's first sample, and the program runs without the
  // data logger.
  auto* scope = dynamic_cast<CMC_ScopeLogger*>(logger);
  if (scope != nullptr && scope->BeginUploadData() == 0) return 0;
  const LoggerSettings* recorded = logger != nullptr && scope == nullptr ? &logger->GetSettings() : nullptr;
  if (!link->StartProgram(programName, recorded, error)) {
    if (scope != nullptr) scope->EndUploadData();
    return Fail(error);
  }
  return 1;
}

int SetUserVariableValue(const CMC_CoffFormat& program, const std::string& name, double value, std::string& error) {
  const CMC_CoffFormat::UserVariable* v = Variable(program, name, error);
  if (v == nullptr) return Fail(error);
  if (!CMC_CoffFormat::Fits(v->type, value)) {
    error = "value " + std::to_string(value) + " does not fit variable \"" + v->name + "\" of program \"" +
            program.GetProgramName() + "\"";
    return Fail(error);
  }
  DriveLink* link = Link(error);
  if (link == nullptr) return Fail(error);
  if (!link->SetProgramVariable(program.GetProgramName(), v->name, value, error)) return Fail(error);
  return 1;
}

int GetUserVariableValue(const CMC_CoffFormat& program, const std::string& name, double& value, std::string& error) {
  const CMC_CoffFormat::UserVariable* v = Variable(program, name, error);
  if (v == nullptr) return Fail(error);
  DriveLink* link = Link(error);
  if (link == nullptr) return Fail(error);
  if (!link->GetProgramVariable(program.GetProgramName(), v->name, value, error)) return Fail(error);
  return 1;
}

int GetAxisOn(int& on, std::string& error) {
  DriveLink* link = Link(error);
  if (link == nullptr) return Fail(error);
  bool isOn = false;
  if (!link->GetAxisOn(isOn, error)) return Fail(error);
  on = isOn ? 1 : 0;
  return 1;
}

}  // namespace axcore
