#include "TestAnalogueRef.h"

#include "DialogValues.h"
#include "axcore/HostFunctions.h"
#include "axcore/Setup.h"

namespace {

constexpr int kInputValue = 1010;
constexpr int kCommandValue = 1011;
constexpr int kCommandLabel = 1013;
constexpr int kInputBar = 1014;
constexpr int kCommandBar = 1015;
constexpr int kInputUnit = 1016;
constexpr int kCommandUnit = 1017;

constexpr const char* kProgram = "Analogue_Reference_Test";
// Only a short circuit ends the test: the axis is not powered, so neither
// the ENABLE input nor the limit switches matter here.
constexpr unsigned kMask = 0x0002;
// The converter's full-scale reading of the input (10-bit, left-aligned).
constexpr double kFullScale = 65472.0;

constexpr const char* kTexts[] = {"Launching test", "Running test"};
constexpr unsigned short kStatusTexts = 2;

// What the input stands for in each control mode: the command's label and
// the parameters at the two ends of the input's span.
struct ModeCommand {
  const char* label;
  const char* minimum;
  const char* maximum;
};
constexpr ModeCommand kModeCommands[] = {
    {"Position command", "POS_min", "POS_max"},
    {"Speed command", "SPD_min", "SPD_max"},
    {"Current command", "CRT_min", "CRT_max"},
};

// A bar grows from zero when its range spans zero, else from its lower end.
void UpdateBar(CBarGraph& bar, double low, double high, double value) {
  bar.SetLimits(low, high);
  bar.SetCurrentValue(value);
  bar.SetDrawingReference(low > 0.0 || high < 0.0 ? low : 0.0);
  bar.Repaint();
}

}  // namespace

CTestAnalogueRef::CTestAnalogueRef(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 1, parent) {
  // The reading goes on until the user stops it.
  m_bMultiCycle = 1;
  m_wLastStep = kStatusTexts;
}

bool CTestAnalogueRef::OnInitDialog() {
  const CMC_Setup& setup = Setup();
  // The span of the drive's analogue inputs: ±10 V, 0 to 5 V, or 0 to 3.3 V.
  const int span = dialogs::IntegerValue(setup, "AnalogueInputsRange");
  m_inputLow = span == 20 ? -10.0 : 0.0;
  m_inputHigh = span == 20 ? 10.0 : span == 5 ? 5.0 : 3.3;

  const int mode = dialogs::IntegerValue(setup, "ControlMode");
  if (mode >= 0 && mode <= 2) {
    const ModeCommand& command = kModeCommands[mode];
    m_commandLabel = command.label;
    // The ends as the user sees them in External Reference Setup.
    const CMC_Parameter* minimum = setup.FindParameter(command.minimum);
    const CMC_Parameter* maximum = setup.FindParameter(command.maximum);
    if (minimum != nullptr) m_commandMin = minimum->GetValueInShownUnit();
    if (maximum != nullptr) {
      m_commandMax = maximum->GetValueInShownUnit();
      m_commandUnit = maximum->GetShownUnit().GetName();
    }
  }
  SetChildText(kInputUnit, setup.GetParameterUnit("AnalogueInputsRange"));
  SetChildText(kCommandUnit, m_commandUnit);
  SetChildText(kCommandLabel, m_commandLabel);

  m_inputBar.SubclassDlgItem(kInputBar, this);
  m_commandBar.SubclassDlgItem(kCommandBar, this);
  m_inputBar.SetColor(0x0000FF);
  m_inputBar.SetFormat("%.2G");
  m_commandBar.SetColor(0x00FF00);
  m_commandBar.SetFormat("%.2f");
  UpdateBar(m_commandBar, m_commandMin, m_commandMax, m_commandMin);
  UpdateBar(m_inputBar, m_inputLow, m_inputHigh, 0.0);
  SetChildText(kInputValue, "");
  SetChildText(kCommandValue, "");
  UpdateData(false);
  return CMyTestDlg::OnInitDialog();
}

void CTestAnalogueRef::BeginTest() {
  StartRun();
  SetChildText(kInputValue, "");
  SetChildText(kCommandValue, "");
  m_inputBar.SetCurrentValue(m_inputBar.GetDrawingReference());
  m_commandBar.SetCurrentValue(m_commandBar.GetDrawingReference());
  UpdateData(false);
  m_inputBar.Repaint();
  m_commandBar.Repaint();
  SetInfoText(kTexts[0]);
  // The program needs no inputs and leaves no outputs: it runs without a
  // descriptor.
  if (!Launch(kProgram, nullptr, nullptr)) return;
  SetInfoText(kTexts[1]);
  ArmTimer();
}

void CTestAnalogueRef::OnRunTimer() {
  if (m_wStep != 2) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (m_bStopRequest != 0) {
    TestSucceeded(1);
    m_bStopRequest = 0;
    return;
  }
  if (CheckDriveError(1, kMask) == 0) return;
  double reading = 0.0;
  if (!ReadDriveVariable("AD5", true, reading)) return;
  ShowReading(reading);
  // The user's Stop and the window's repaints arrive while the test polls.
  PumpMessages();
  // A Close handled while pumping has already stopped the test.
  if (m_bTestRunning != 0 && !HasEnded()) ArmTimer();
}

void CTestAnalogueRef::ShowReading(double reading) {
  const double voltage = RoundDecimalValue((m_inputHigh - m_inputLow) * reading / kFullScale + m_inputLow, 2);
  SetChildText(kInputValue, Format("%.2f", voltage));
  UpdateBar(m_inputBar, m_inputLow, m_inputHigh, voltage);
  const double command = RoundDecimalValue((m_commandMax - m_commandMin) * reading / kFullScale + m_commandMin, 2);
  SetChildText(kCommandValue, Format("%.2f", command));
  UpdateBar(m_commandBar, m_commandMin, m_commandMax, command);
}
