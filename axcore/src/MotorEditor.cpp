#include "MotorEditor.h"

#include "axcore/Diagnostics.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/MessageText.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"
#include "axcore/Units.h"

namespace axcore {
namespace {

// The databases as combo 10010 lists them: the module's catalogue first.
constexpr const char* kCatalogueName = "CATALOGUE";
constexpr const char* kUserName = "USER";
// A name fits the motor combo and a file name.
constexpr int kNameCharacters = 64;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

CMC_Parameter* FindQuietly(const CMC_Setup& setup, const std::string& name) {
  QuietLookup quiet;
  return setup.FindParameter(name);
}

}  // namespace

void MotorEditor::Start() {
  m_catalogue = MotorDatabase::Load(ResourceDirectory().empty() ? std::string() : ResourceDirectory() + "motors");
  m_user = MotorDatabase::Load(UserMotorFolder());
  m_skipped = m_catalogue.Skipped();
  m_skipped.insert(m_skipped.end(), m_user.Skipped().begin(), m_user.Skipped().end());
  CComboBox databases;
  databases.Attach(&m_dialog, kDatabase);
  databases.ResetContent();
  databases.SetItemData(databases.AddString(kCatalogueName), 0);
  databases.SetItemData(databases.AddString(kUserName), 1);
  databases.SetCurSel(0);
  m_dialog.SetChildText(kName, "");
  m_dialog.SetChildTextLimit(kName, kNameCharacters);
  FillMotors("");
}

void MotorEditor::ReportSkipped() {
  if (m_skipped.empty()) return;
  std::string text = "These motor database files are damaged and were left out:";
  for (const std::string& line : m_skipped) text += "\n" + line;
  m_skipped.clear();
  m_dialog.MessageBox(text, MB_OK | MB_ICONWARNING);
}

bool MotorEditor::UserChosen() const {
  const ControlState* databases = m_dialog.GetControl(kDatabase);
  return databases != nullptr && databases->selection == 1;
}

void MotorEditor::FillMotors(const std::string& select) {
  CComboBox motors;
  motors.Attach(&m_dialog, kMotor);
  motors.ResetContent();
  for (const MotorRecord& record : Chosen().Motors()) {
    const int index = motors.AddString(record.name);
    if (!select.empty() && EqualsIgnoreCase(record.name, select)) motors.SetCurSel(index);
  }
  UpdateButtons();
}

void MotorEditor::UpdateButtons() {
  // Only the user's own motors can be deleted; the catalogue is read-only.
  const ControlState* motors = m_dialog.GetControl(kMotor);
  m_dialog.EnableChild(kDelete, UserChosen() && motors != nullptr && motors->selection >= 0);
}

bool MotorEditor::OnSelChange(int id) {
  if (id == kDatabase) {
    FillMotors("");
    return true;
  }
  if (id != kMotor) return false;
  CComboBox motors;
  motors.Attach(&m_dialog, kMotor);
  if (const MotorRecord* record = Chosen().Find(motors.GetWindowText()); record != nullptr) Apply(*record);
  UpdateButtons();
  return true;
}

bool MotorEditor::OnCommand(int id) {
  if (id == kSave) {
    Save();
    return true;
  }
  if (id == kDelete) {
    Delete();
    return true;
  }
  return false;
}

void MotorEditor::Apply(const MotorRecord& record) {
  const CMC_Setup& setup = *m_dialog.GetSetup();
  // In the module's order, each as if the user had typed it, so that the
  // dialog's rules follow every value (a new pole pitch bounds the encoder
  // period before the period is set).
  std::vector<std::string> otherUnits, limited;
  for (const std::string& name : m_parameters) {
    const MotorValue* value = record.Find(name);
    CMC_Parameter* p = FindQuietly(setup, name);
    if (value == nullptr || p == nullptr) continue;
    const CMC_Unit* unit = CMC_Units::FindUnit(value->unit);
    if (unit == nullptr || unit->GetType() != p->GetBaseUnit().GetType()) {
      otherUnits.push_back(QuoteForMessage(p->GetName()));
      continue;
    }
    m_dialog.SetParameterAsUser(name.c_str(), value->value);
    if (p->GetValueInBaseUnit() != value->value) limited.push_back(QuoteForMessage(p->GetName()) + " " + p->PrintValue());
  }
  m_dialog.SetChildText(kName, record.name);
  std::string status = "Motor " + QuoteForMessage(record.name) + " set";
  auto list = [](const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
  };
  if (!limited.empty()) status += "; held by this drive's limits: " + list(limited);
  if (!otherUnits.empty()) status += "; left as they were (another kind of unit): " + list(otherUnits);
  m_dialog.ShowStatus(status);
}

void MotorEditor::Save() {
  const std::string name = Trimmed(m_dialog.GetChildText(kName));
  if (name.empty()) {
    m_dialog.MessageBox("Type a name for the motor into the Name field, then save it again.",
                        MB_OK | MB_ICONWARNING);
    return;
  }
  for (const MotorDatabase* db : {&m_catalogue, &m_user}) {
    if (db->Find(name) == nullptr) continue;
    m_dialog.MessageBox("A motor named " + QuoteForMessage(name) + " is already in the " +
                            (db == &m_user ? kUserName : kCatalogueName) + " database. Give this motor another name.",
                        MB_OK | MB_ICONWARNING);
    return;
  }
  MotorRecord record;
  record.name = name;
  const CMC_Setup& setup = *m_dialog.GetSetup();
  for (const std::string& parameter : m_parameters)
    if (const CMC_Parameter* p = FindQuietly(setup, parameter); p != nullptr)
      record.values.push_back({p->GetName(), p->GetValueInBaseUnit(), p->GetUnit()});
  if (const std::string reason = m_user.Add(record); !reason.empty()) {
    m_dialog.MessageBox("The motor could not be saved to the user database: " + reason + ".",
                        MB_OK | MB_ICONERROR);
    return;
  }
  CComboBox databases;
  databases.Attach(&m_dialog, kDatabase);
  databases.SetCurSel(1);
  FillMotors(name);
  m_dialog.ShowStatus("Motor " + QuoteForMessage(name) + " saved to the user database");
}

void MotorEditor::Delete() {
  CComboBox motors;
  motors.Attach(&m_dialog, kMotor);
  const std::string name = motors.GetWindowText();
  if (!UserChosen() || m_user.Find(name) == nullptr) return;
  if (m_dialog.MessageBox("Delete the motor " + QuoteForMessage(name) + " from the user database?",
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    return;
  if (const std::string reason = m_user.Remove(name); !reason.empty()) {
    m_dialog.MessageBox("The motor could not be deleted: " + reason + ".", MB_OK | MB_ICONERROR);
    return;
  }
  m_dialog.SetChildText(kName, "");
  FillMotors("");
  m_dialog.ShowStatus("Motor " + QuoteForMessage(name) + " deleted from the user database");
}

}  // namespace axcore
