#include "TestVdcDetection.h"

#include "Scales.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kProgram = "VDC_Detection_Test";
const char* const kStatus[] = {"Launching test", "Running test"};
constexpr int kVdcEdit = 1012;
constexpr int kVdcUnit = 1013;

}  // namespace

CTestVdcDetection::CTestVdcDetection(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 1, parent) {
  m_oldVdc = setup->GetParameterValueInBaseUnit("Vdc");
  m_wLastStep = 2;
  AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
}

bool CTestVdcDetection::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  LoadProgram(m_program, kProgram);
  return true;
}

void CTestVdcDetection::BeginTest() {
  SetChildText(kVdcEdit, "");
  SetChildText(kVdcUnit, "");
  StartRun();
  SetInfoText(kStatus[0]);
  if (!Launch(kProgram, &m_program, nullptr)) return;
  SetInfoText(kStatus[1]);
  ArmTimer();
}

void CTestVdcDetection::OnRunTimer() {
  if (m_wStep != 2) {
    TestFailed(1);
    return;
  }
  // Only a short circuit stops this test: the supply is read with the power
  // stage off, so a disabled drive still measures.
  if (WaitForProgram(m_program, 0x0002) != Wait::Finished) return;
  double reading = 0.0;
  if (!ReadDriveVariable("var_u2", false, reading)) return;
  const double vdc = reading / MeasuredVoltageScale(Setup());
  if (!IsPositiveFinite(vdc)) {
    const std::string fault = SupplyRangeFault(Setup());
    Fail(fault.empty() ? CMC_TestDlg::msc_pszErrInternal : fault.c_str());
    return;
  }
  Setup().SetParameterValueInBaseUnit("Vdc", vdc);
  RefreshParameterControls("Vdc");
  TestSucceeded(1);
}

void CTestVdcDetection::OnCancel() {
  const double current = Setup().GetParameterValueInBaseUnit("Vdc");
  if (m_nTestResult == 1 && Format("%G", m_oldVdc) != Format("%G", current)) {
    switch (AskToKeep({ChangeLine("Power supply", "%G", m_oldVdc, current)})) {
      case IDYES:
        EndDialog(1);
        return;
      case IDCANCEL:
        return;
      default:
        // Declined: the supply voltage the dialog opened with comes back,
        // so that the caller keeps what the user had.
        Setup().SetParameterValueInBaseUnit("Vdc", m_oldVdc);
        break;
    }
  }
  CMyTestDlg::OnCancel();
}
