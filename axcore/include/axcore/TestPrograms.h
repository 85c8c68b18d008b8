// The drive operations of the host's test base: launching a test program,
// its user variables, and the state of the power stage. The test dialogs and
// the command line reach the drive through these.
#pragma once

#include <string>

class CMC_CoffFormat;
class CMC_Logger;

namespace axcore {

// Downloads and starts the program `programName`; with `logger` the drive
// records its settings and variables while the program runs (a scope
// logger: the drive's scope streams them, started just before the
// program, CMC_ScopeLogger::BeginUploadData). Non-zero when
// the program was downloaded and started; the reason of a failure is in
// CMC_Comm::GetLastErrorText.
int ExecuteCode(const std::string& programName, CMC_CoffFormat* program, CMC_Logger* logger);

// A user variable of a program whose descriptor was read. The name must be
// one of its variables and the value fit its type. Non-zero on success, else
// `error` holds the reason.
int SetUserVariableValue(const CMC_CoffFormat& program, const std::string& name, double value, std::string& error);
int GetUserVariableValue(const CMC_CoffFormat& program, const std::string& name, double& value, std::string& error);

// Whether the drive's power stage is on; non-zero on success.
int GetAxisOn(int& on, std::string& error);

}  // namespace axcore
