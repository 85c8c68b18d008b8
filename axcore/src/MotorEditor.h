// The host dialog base's motor database editor: the catalogue a module
// ships and the user's own database, on combos 10010 (database) and 10011
// (motor), the name field 10014 and the buttons 10012 (save to the user
// database) and 10013 (delete a user motor).
#pragma once

#include <string>
#include <vector>

#include "axcore/MotorDatabase.h"

class CMC_EditSetupDlg;

namespace axcore {

class MotorEditor {
 public:
  static constexpr int kDatabase = 10010;
  static constexpr int kMotor = 10011;
  static constexpr int kSave = 10012;
  static constexpr int kDelete = 10013;
  static constexpr int kName = 10014;

  // `parameters`: the motor's parameters, in the order a chosen motor sets them.
  MotorEditor(CMC_EditSetupDlg& dialog, std::vector<std::string> parameters)
      : m_dialog(dialog), m_parameters(std::move(parameters)) {}

  // Reads both databases and fills the combos; the dialog's controls exist.
  void Start();
  // The files left out while reading, in one message; once per Start.
  void ReportSkipped();
  // True when `id` is the editor's.
  bool OnCommand(int id);
  bool OnSelChange(int id);

 private:
  bool UserChosen() const;
  MotorDatabase& Chosen() { return UserChosen() ? m_user : m_catalogue; }
  void FillMotors(const std::string& select);
  void UpdateButtons();
  void Apply(const MotorRecord& record);
  void Save();
  void Delete();

  CMC_EditSetupDlg& m_dialog;
  std::vector<std::string> m_parameters;
  MotorDatabase m_catalogue;
  MotorDatabase m_user;
  std::vector<std::string> m_skipped;
};

}  // namespace axcore
