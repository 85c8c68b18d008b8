// A compiled drive test program as the host knows it: its name and its user
// variables with their types, read from the program's descriptor file.
//
// Descriptor files are JSON:
//   {"program": "Ident_R_or_Rs", "variables": {"In1": "int", "STARTED": "int"}}
// with the types "int" (16-bit), "long" (32-bit) and "fixed" (16.16).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CMC_CoffFormat {
 public:
  enum class VariableType { Int, Long, Fixed };
  struct UserVariable {
    std::string name;
    VariableType type;
  };

  void SetPath(std::string path) { m_path = std::move(path); }
  const std::string& GetPath() const { return m_path; }

  // Reads the descriptor at the path; non-zero on success. A missing or
  // corrupt file fails, with the reason in GetLastError, and leaves the
  // object without variables.
  int ReadCoff();

  const std::string& GetProgramName() const { return m_program; }
  const std::vector<UserVariable>& GetVariables() const { return m_variables; }
  // The user variable of that name (ASCII case ignored), or null.
  const UserVariable* FindVariable(std::string_view name) const;
  const std::string& GetLastError() const { return m_lastError; }

  // Whether `value` can be held by a variable of that type.
  static bool Fits(VariableType type, double value);

 private:
  std::string m_path;
  std::string m_program;
  std::vector<UserVariable> m_variables;
  std::string m_lastError;
};
