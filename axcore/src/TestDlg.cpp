#include "axcore/TestDlg.h"

#include <algorithm>
#include <vector>

#include "axcore/CoffFormat.h"
#include "axcore/Comm.h"
#include "axcore/Logger.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"
#include "axcore/TestPrograms.h"

namespace {

std::string g_lastErrorText;
std::vector<const CMC_TestDlg*> g_openTests;
CMC_TestDlg::Observer g_observer;

}  // namespace

std::string GetLastErrorText() { return g_lastErrorText; }

const char* const CMC_TestDlg::msc_pszErrInternal =
    "The drive did not run the test as expected: a test program or a drive variable it needs is missing, or "
    "it did not deliver its result. Check the connection to the drive and that the drive holds the test "
    "programs of this setup.";
const char* const CMC_TestDlg::msc_pszErrInZero =
    "The preliminary positioning ended without current in the motor. Check the motor phase connections and "
    "that the test current is above zero.";

CMC_TestDlg::CMC_TestDlg(CMC_Setup* setup, int resourceId, int flag, CMC_EditSetupDlg* parent)
    : CMC_EditSetupDlg(setup, resourceId, flag, nullptr, parent) {
  g_openTests.push_back(this);
}

CMC_TestDlg::~CMC_TestDlg() { std::erase(g_openTests, this); }

bool CMC_TestDlg::AnyTestRunning() {
  return std::any_of(g_openTests.begin(), g_openTests.end(),
                     [](const CMC_TestDlg* test) { return test->IsRunning() && test->m_bTestRunning != 0; });
}

void CMC_TestDlg::SetObserver(Observer observer) { g_observer = std::move(observer); }

bool CMC_TestDlg::OnInitDialog() {
  CMC_EditSetupDlg::OnInitDialog();
  SetChildText(kStatusText, "");
  SetChildText(kResultText, "");
  SetChildImage(kResultIcon, "");
  ShowRunState();
  return true;
}

bool CMC_TestDlg::OnCommand(int id) {
  switch (id) {
    case kStartStop:
      OnBtnStartStop();
      return true;
    case kDetails:
      if (m_nTestResult == 0 && !m_strErrorText.empty()) MessageBox(m_strErrorText, MB_OK | MB_ICONERROR);
      return true;
    default:
      return CMC_EditSetupDlg::OnCommand(id);
  }
}

void CMC_TestDlg::OnCancel() {
  if (m_bTestRunning != 0) StopByUser();
  CMC_EditSetupDlg::OnCancel();
}

void CMC_TestDlg::BeginTest() {}

void CMC_TestDlg::OnBtnStartStop() {
  if (m_bTestRunning == 0) {
    m_stoppedByUser = false;
    m_strErrorText.clear();
    BeginTest();
    ShowRunState();
    return;
  }
  if (m_bMultiCycle != 0) {
    m_bStopRequest = 1;
    SetChildText(kStartStop, "Stopping…");
    EnableChild(kStartStop, false);
    return;
  }
  StopByUser();
}

void CMC_TestDlg::StopByUser() {
  KillTimer(1);
  m_bTestRunning = 0;
  m_bStopRequest = 0;
  m_stoppedByUser = true;
  // The program may still drive current through the motor: the drive stops
  // it and turns its power stage off.
  if (DriveLink* link = CMC_Comm::GetLink(); link != nullptr) {
    std::string error;
    if (!link->StopProgram(error)) CMC_Comm::SetLastErrorText(error);
  }
  SetChildText(kResultText, "Test stopped by the user.");
  SetChildImage(kResultIcon, "");
  SetChildAlert(kResultText, false);
  EndRun();
}

std::string CMC_TestDlg::GetOutPathName(const std::string& programName) const {
  return axcore::ResourceDirectory() + "programs/" + programName + ".json";
}

int CMC_TestDlg::ExecuteCode(const char* programName, CMC_CoffFormat* program, CMC_Logger* logger, void*, void*) {
  // The program runs on the setup as the dialogs show it: its registers go
  // down to the drive with the program, so a gain changed since the last run
  // (a "Tune" with no test running) is the gain the drive runs with.
  for (const auto& parameter : GetSetup()->Parameters())
    if (parameter->GetKind() == ParameterKind::Register && parameter->WriteToChip() == 0) return 0;
  return axcore::ExecuteCode(programName, program, logger);
}

int CMC_TestDlg::SetUserVariableValue(const CMC_CoffFormat& program, const char* name, double value,
                                      std::string& error) {
  return axcore::SetUserVariableValue(program, name, value, error);
}

int CMC_TestDlg::GetUserVariableValue(const CMC_CoffFormat& program, const char* name, double& value,
                                      std::string& error) {
  return axcore::GetUserVariableValue(program, name, value, error);
}

int CMC_TestDlg::GetAxisOn(int& on) { return axcore::GetAxisOn(on, m_strErrorText); }

bool CMC_TestDlg::SetTimer(int id, int ms) {
  if (CMC_EditSetupDlg::SetTimer(id, ms)) return true;
  g_lastErrorText = "The window timer " + std::to_string(id) + " could not be set.";
  return false;
}

void CMC_TestDlg::SetInfoText(const char* text) {
  const std::string shown = text != nullptr ? text : "";
  SetChildText(kStatusText, shown);
  ++m_wStep;
  ShowRunState();
  if (g_observer.infoText) g_observer.infoText(*this, shown);
}

void CMC_TestDlg::TestSucceeded(int flag) {
  if (flag != 0) {
    KillTimer(1);
    m_bTestRunning = 0;
    m_bStopRequest = 0;
    m_nTestResult = 1;
  }
  SetChildText(kResultText, "Test passed.");
  SetChildAlert(kResultText, false);
  SetChildImage(kResultIcon, "test-passed");
  if (flag != 0) EndRun();
}

void CMC_TestDlg::TestFailed(int flag) {
  if (flag != 0) {
    KillTimer(1);
    m_bTestRunning = 0;
    m_bStopRequest = 0;
    m_nTestResult = 0;
  }
  SetChildText(kResultText, "Test failed. " + (m_strErrorText.empty() ? std::string() : m_strErrorText));
  SetChildAlert(kResultText, true);
  SetChildImage(kResultIcon, "test-failed");
  if (flag != 0) EndRun();
}

void CMC_TestDlg::EndRun() {
  ShowRunState();
  if (g_observer.ended) g_observer.ended(*this);
}

void CMC_TestDlg::ShowRunState() {
  if (!IsRunning()) return;
  SetChildText(kStartStop, m_bTestRunning != 0 ? "Stop" : "Start");
  EnableChild(kStartStop, m_bTestRunning == 0 || m_bStopRequest == 0);
  EnableChild(kDetails, m_bTestRunning == 0 && m_nTestResult == 0 && !m_strErrorText.empty());
}
