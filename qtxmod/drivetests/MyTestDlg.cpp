#include "MyTestDlg.h"

#include <cmath>
#include <cstdio>

#include "FeatureProbes.h"
#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/Setup.h"

namespace {

// The error bits of "MER" the tests report on, in the order they are
// looked at: the first set bit names the cause.
struct DriveErrorBit {
  int bit;
  const char* text;
};
constexpr DriveErrorBit kDriveErrors[] = {
    {1, "Drive / Motor shortcircuit protection triggered."},
    {3, "Drive / Motor control error protection triggered."},
    {6, "Drive / Motor stopped due to positive limit switch input triggered."},
    {7, "Drive / Motor stopped due to negative limit switch input triggered."},
    {15, "Drive / Motor ENABLE input is in DISABLED state."},
};

}  // namespace

bool IsPositiveFinite(double value) { return std::isfinite(value) && value > 0.0; }

std::string SupplyRangeFault(const CMC_Setup& setup) {
  axcore::QuietLookup quiet;
  const CMC_Parameter* range = setup.FindParameter("VdcMaxMeasurable");
  if (range != nullptr && IsPositiveFinite(range->GetValueInBaseUnit())) return {};
  return std::string("The setup's \"VdcMaxMeasurable\" is ") +
         (range != nullptr ? range->PrintValue() : std::string("missing")) +
         ": the drive measures its supply as a fraction of this range, so it must be above 0. Set it to the "
         "drive's supply measuring range and run the test again.";
}

std::int32_t TruncateCount(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

CMyTestDlg::CMyTestDlg(CMC_Setup* setup, int resourceId, int flag, CMC_EditSetupDlg* parent)
    : CMC_TestDlg(setup, resourceId, flag, parent) {
  if (resourceId == 102 || resourceId == 103) return;
  const int previous = g_bShowErrors;
  g_bShowErrors = 0;
  CMC_Parameter* minMove = setup->FindParameter("ABSTART_MINMOVE");
  g_bShowErrors = previous;
  if (minMove != nullptr) minMove->SetValueInBaseUnit(0.0);
}

void CMyTestDlg::OnTimer(int id) {
  KillTimer(1);
  if (m_bTestRunning != 0 && id == 1) OnRunTimer();
}

void CMyTestDlg::StartRun() {
  m_bTestRunning = 1;
  m_nTestResult = -1;
  m_wStep = 0;
}

bool CMyTestDlg::LaunchPositioning(CMC_CoffFormat& positioning, double current, const char* next) {
  if (!WriteProgramInput(positioning, "In1", current) || !Launch(kPositioningProgram, &positioning, nullptr))
    return false;
  SetInfoText(next);
  return ArmTimer();
}

int CMyTestDlg::CheckDriveError(int fail, unsigned mask) {
  CMC_Variable* mer = Setup().FindVariable("MER", 1);
  if (mer == nullptr || mer->ReadFromChip() == 0) {
    m_strErrorText = CMC_TestDlg::msc_pszErrInternal;
    if (fail != 0) TestFailed(1);
    return 0;
  }
  const double value = mer->GetValueInBaseUnit();
  // The register is 16 bits wide; anything else read is no error word.
  const unsigned bits = std::isfinite(value) && std::fabs(value) < 4294967296.0
                            ? static_cast<unsigned>(static_cast<long long>(value)) & mask & 0xFFFFu
                            : 0u;
  for (const DriveErrorBit& error : kDriveErrors) {
    if ((bits & (1u << error.bit)) == 0) continue;
    m_strErrorText = error.text;
    if (fail != 0) TestFailed(1);
    return 0;
  }
  return 1;
}

CMyTestDlg::Wait CMyTestDlg::WaitForProgram(const CMC_CoffFormat& program, unsigned mask) {
  double started = 0.0;
  if (GetUserVariableValue(program, "STARTED", started, m_strErrorText) == 0) {
    TestFailed(1);
    return Wait::Failed;
  }
  if (started == 0.0) {
    if (CheckDriveError(1, mask) == 0) return Wait::Failed;
    return ArmTimer() ? Wait::Running : Wait::Failed;
  }
  int on = 0;
  if (GetAxisOn(on) == 0) {
    TestFailed(1);
    return Wait::Failed;
  }
  if (on != 0) return ArmTimer() ? Wait::Running : Wait::Failed;
  return CheckDriveError(1, mask) != 0 ? Wait::Finished : Wait::Failed;
}

bool CMyTestDlg::TakePositioningResults(const CMC_CoffFormat& positioning, double& refTest, double& rIncTest,
                                        bool onlyZeroFails) {
  double current = 0.0;
  if (!ReadProgramOutput(positioning, "In1", current)) return false;
  if (current == kNotDelivered) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  if (onlyZeroFails ? current == 0.0 : current <= 0.0) {
    Fail(CMC_TestDlg::msc_pszErrInZero);
    return false;
  }
  return ReadDriveVariable("REFTST_V", true, refTest) && ReadDriveVariable("RINCTST_V", true, rIncTest);
}

bool CMyTestDlg::PositioningEnded(const CMC_CoffFormat& positioning, unsigned mask, double& refTest,
                                  double& rIncTest, const char* next, bool onlyZeroFails) {
  if (WaitForProgram(positioning, mask) != Wait::Finished) return false;
  if (!TakePositioningResults(positioning, refTest, rIncTest, onlyZeroFails)) return false;
  SetInfoText(next);
  return true;
}

bool CMyTestDlg::ReadDriveVariable(const char* name, bool internalUnit, double& value) {
  CMC_Variable* variable = Setup().FindVariable(name, 1);
  if (variable == nullptr) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  if (variable->ReadFromChip() == 0) {
    Fail(CMC_Comm::GetLastErrorText());
    return false;
  }
  value = internalUnit ? variable->GetValueInInternalUnit() : variable->GetValueInBaseUnit();
  return true;
}

bool CMyTestDlg::WriteProgramInput(const CMC_CoffFormat& program, const char* name, double value) {
  if (SetUserVariableValue(program, name, value, m_strErrorText) != 0) return true;
  TestFailed(1);
  return false;
}

bool CMyTestDlg::ReadProgramOutput(const CMC_CoffFormat& program, const char* name, double& value) {
  if (GetUserVariableValue(program, name, value, m_strErrorText) != 0) return true;
  TestFailed(1);
  return false;
}

bool CMyTestDlg::Launch(const char* programName, CMC_CoffFormat* program, CMC_Logger* logger) {
  if (ExecuteCode(programName, program, logger, nullptr, nullptr) == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  return true;
}

bool CMyTestDlg::ArmTimer(int ms) {
  if (SetTimer(1, ms)) return true;
  Fail(GetLastErrorText());
  return false;
}

void CMyTestDlg::Fail(const std::string& text) {
  m_strErrorText = text;
  TestFailed(1);
}

bool CMyTestDlg::UploadPoints(CMC_Logger& logger, std::vector<std::vector<double>>& points) {
  points.clear();
  if (logger.BeginUploadData() == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  std::vector<double> point;
  while (logger.ReadPoint(point) != 0) points.emplace_back(point.begin() + (point.empty() ? 0 : 1), point.end());
  return true;
}

bool CMyTestDlg::StoreResult(const char* name, double value, double& stored) {
  CMC_Parameter* parameter = Setup().FindParameter(name);
  if (parameter == nullptr || parameter->SetValueInBaseUnit(value) == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return false;
  }
  stored = parameter->GetValueInBaseUnit();
  RefreshParameterControls(name);
  return true;
}

std::string CMyTestDlg::Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string CMyTestDlg::ChangeLine(const char* label, const char* format, double oldValue, double newValue) {
  return std::string(label) + ":\tOld = " + Format(format, oldValue) + "\tNew = " + Format(format, newValue) +
         "\r\n";
}

int CMyTestDlg::AskToKeep(const std::vector<std::string>& changes) {
  std::string text = "A different value than specified has been detected for the following parameter(s):\r\n\r\n";
  for (const std::string& line : changes) text += line;
  text += "\r\nDo you want to save the new value(s)? (Recommended)";
  return MessageBox(text, MB_YESNOCANCEL | MB_ICONQUESTION);
}

void CMyTestDlg::KeepTestProtectionCurrent() { KeepTestValues({{"TestProtectionCurrent", "Imax_Prot"}}); }

void CMyTestDlg::KeepTestValues(std::initializer_list<std::pair<const char*, const char*>> copies) {
  if (!HasEnded() || GetResult() != IDOK) return;
  CMC_Setup& setup = Setup();
  for (const auto& [from, to] : copies) {
    const CMC_Parameter* test = FindParameterQuiet(setup, from);
    CMC_Parameter* kept = FindParameterQuiet(setup, to);
    if (test != nullptr && kept != nullptr) kept->SetValueInBaseUnit(test->GetValueInBaseUnit());
  }
}

void CMyTestDlg::LoadProgram(CMC_CoffFormat& program, const char* programName) {
  program.SetPath(GetOutPathName(programName));
  program.ReadCoff();
}
