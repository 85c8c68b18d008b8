#include "TestFrequencyResponse.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "FeatureProbes.h"
#include "FrequencyResponsePlot.h"
#include "Scales.h"
#include "TuningTestDlg.h"
#include "TuningTestRun.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kProgram = "Frequency_Response_Test";
// Both waits: short circuit / over current and the ENABLE input.
constexpr unsigned kDriveErrorMask = 0x8002;
constexpr unsigned short kLastStep = 5;
const char* const kLoopNames[] = {"Current loop", "Speed loop", "Position loop"};

// The lines the model is compared on: up to half the loop's Nyquist
// frequency, where a sampled loop's model is at its surest.
constexpr double kComparedShareOfNyquist = 0.5;

std::string Figure(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// A field's number, or `absent` when it is empty; false when it holds
// something else.
bool FieldNumber(const std::string& text, double absent, double& value) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    value = absent;
    return true;
  }
  const char* begin = text.c_str() + start;
  char* end = nullptr;
  value = std::strtod(begin, &end);
  while (end != nullptr && *end == ' ') ++end;
  return end != begin && end != nullptr && *end == '\0' && std::isfinite(value);
}

// The signal at the injection point and the measurement the program logs.
const char* InputVariable(TunedLoop loop, const CMC_Setup& setup) {
  if (loop == TunedLoop::Current) return "Voltage_Command";
  if (loop == TunedLoop::Position && FindParameterQuiet(setup, "PositionControlType") != nullptr &&
      setup.GetParameterValueInBaseUnit("PositionControlType") == 1.0)
    return "Speed_Reference";
  return "Current_Reference";
}

const char* OutputVariable(TunedLoop loop) {
  return loop == TunedLoop::Current ? "IQ" : loop == TunedLoop::Speed ? "Load_Speed" : "Load_Position";
}

}  // namespace

CTestFrequencyResponse::CTestFrequencyResponse(CMC_Setup* setup, TunedLoop loop, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kResourceId, 1, parent), m_loop(loop), m_logger(setup) {
  m_wLastStep = kLastStep;
}

bool CTestFrequencyResponse::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  LoadProgram(m_positioning, kPositioningProgram);
  LoadProgram(m_program, kProgram);
  CComboBox loops;
  loops.Attach(this, kLoopCombo);
  loops.ResetContent();
  for (const char* name : kLoopNames) loops.AddString(name);
  loops.SetCurSel(static_cast<int>(m_loop));
  ShowDefaults();
  EnableChild(kPlaceNotch, false);
  FrequencyResponseCurves none;
  DrawFrequencyResponse(none, *GetPlot(kMagnitudePlot), *GetPlot(kPhasePlot), *GetPlot(kCoherencePlot));
  // Titled and labelled before the first run, as the user reads them after.
  for (int id : {kMagnitudePlot, kPhasePlot, kCoherencePlot}) RefreshPlot(id);
  return true;
}

bool CTestFrequencyResponse::OnCommand(int id) {
  if (id == kPlaceNotch) {
    PlaceNotchOnResonance();
    return true;
  }
  return CMyTestDlg::OnCommand(id);
}

void CTestFrequencyResponse::PlaceNotchOnResonance() {
  if (IsTestRunning() || m_resonances.empty() || m_loop != TunedLoop::Speed) return;
  CMC_Setup& setup = Setup();
  const LoopMargins before = MarginsOnMeasuredPlant(setup, m_loop, m_measured, m_modelPlant);
  const NotchPlacement notch = PlaceNotch(setup, m_resonances.front());
  std::string text = GetChildText(kFigures);
  if (notch.filter == 0) {
    SetChildText(kFigures, text + "\nNo notch placed: " + notch.error);
    return;
  }
  const LoopMargins after = MarginsOnMeasuredPlant(setup, m_loop, m_measured, m_modelPlant);
  text += "\nNotch in filter " + std::to_string(notch.filter) + " at the Speed Controller Output, " +
          Figure(notch.frequency_Hz) + " Hz, Q " + Figure(notch.q) + "; on the measured plant: " + FormatMargins(before) +
          " without it, " + FormatMargins(after) + " with it. Start measures the loop with it.";
  SetChildText(kFigures, text);
  m_resonances.clear();
  EnableChild(kPlaceNotch, false);
}

void CTestFrequencyResponse::OnSelChange(int id) {
  if (id != kLoopCombo) return;
  CComboBox loops;
  loops.Attach(this, kLoopCombo);
  const int chosen = loops.GetCurSel();
  if (chosen < 0 || chosen > 2) return;
  m_loop = static_cast<TunedLoop>(chosen);
  ShowDefaults();
}

// The loop's defaults in the fields: the band from its lowest useful
// frequency to 0.9 of its Nyquist frequency, an amplitude well inside the
// test current.
void CTestFrequencyResponse::ShowDefaults() {
  m_excitation = ExcitationOf(Setup(), m_loop);
  SetChildText(kFromEdit, Figure(m_excitation.defaultFrom_Hz));
  SetChildText(kToEdit, Figure(m_excitation.defaultTo_Hz));
  SetChildText(kAmplitudeEdit, Figure(DefaultAmplitude(Setup(), m_loop)));
  SetChildText(kAmplitudeUnit, m_excitation.amplitudeUnit);
}

bool CTestFrequencyResponse::ReadInputs(double& from_Hz, double& to_Hz, double& amplitude) {
  const struct {
    int id;
    const char* name;
    double absent;
    double* value;
  } fields[] = {{kFromEdit, "From", m_excitation.defaultFrom_Hz, &from_Hz},
                {kToEdit, "To", m_excitation.defaultTo_Hz, &to_Hz},
                {kAmplitudeEdit, "Amplitude", DefaultAmplitude(Setup(), m_loop), &amplitude}};
  for (const auto& field : fields)
    if (!FieldNumber(GetChildText(field.id), field.absent, *field.value)) {
      Fail(std::string(field.name) + " must be a number, not \"" + GetChildText(field.id) + "\".");
      return false;
    }
  return true;
}

std::string CTestFrequencyResponse::CheckRequest(const CMC_Setup& setup, TunedLoop loop, double from_Hz, double to_Hz,
                                                 double amplitude, ExcitationPlan& plan, double& amplitudeCounts) {
  const LoopExcitation excitation = ExcitationOf(setup, loop);
  if (!excitation.error.empty()) return "The frequency response cannot be measured: " + excitation.error + ".";
  plan = PlanExcitation(excitation.tick_s, from_Hz, to_Hz);
  if (!plan.error.empty()) return "The band cannot be measured: " + plan.error + ".";
  amplitudeCounts = std::round(amplitude * excitation.amplitudeScale);
  const std::string unit = excitation.amplitudeUnit;
  if (!(amplitudeCounts >= 1.0) || amplitudeCounts > 32767.0)
    return "The amplitude must give 1 to 32767 drive counts: " + Figure(amplitude) + " " + unit + " gives " +
           Figure(amplitudeCounts) + ".";
  double travel_m = 0.0, injected = 0.0, current = 0.0;
  if (!ExpectedExcursion(setup, loop, amplitudeCounts, travel_m, injected, current))
    return "The loop's model cannot be built from the setup: check R, L, Kf, Mt and the gains.";
  const CMC_Parameter* limit = FindParameterQuiet(setup, "TestLimitCurrent");
  if (limit != nullptr && current / CurrentScale(setup) > limit->GetValueInBaseUnit())
    return "An amplitude of " + Figure(amplitude) + " " + unit + " would ask the current reference for about " +
           Figure(current / CurrentScale(setup)) + " A with the loop's answer (by its model), above the test current of " +
           Figure(limit->GetValueInBaseUnit()) + " A: lower it.";
  if (travel_m > kTravel_m)
    return "An amplitude of " + Figure(amplitude) + " " + unit + " would move the mover about " +
           Figure(travel_m * 1e3) + " mm (by the loop's model), beyond the " + Figure(kTravel_m * 1e3) +
           " mm the test allows: lower it, or raise the loop's gains.";
  return "";
}

void CTestFrequencyResponse::BeginTest() {
  CMC_Setup& setup = Setup();
  StartRun();
  m_measured = {};
  m_resonances.clear();
  EnableChild(kPlaceNotch, false);
  m_excitation = ExcitationOf(setup, m_loop);
  if (!m_excitation.error.empty()) {
    Fail("The frequency response cannot be measured: " + m_excitation.error + ".");
    return;
  }
  double amplitude = 0.0;
  if (!ReadInputs(m_from_Hz, m_to_Hz, amplitude)) return;
  if (const std::string refusal = CheckRequest(setup, m_loop, m_from_Hz, m_to_Hz, amplitude, m_plan, m_amplitudeCounts);
      !refusal.empty()) {
    Fail(refusal);
    return;
  }
  SetInfoText(tuning::kStatusTexts[0]);
  bool limited = false;
  LaunchPositioning(m_positioning, TuningPositioningCurrent(setup, limited), tuning::kStatusTexts[1]);
}

void CTestFrequencyResponse::OnRunTimer() {
  switch (m_wStep) {
    case 2:
      if (PositioningEnded(m_positioning, kDriveErrorMask, m_refTest, m_rIncTest, tuning::kStatusTexts[2]))
        LaunchMeasurement();
      return;
    case 3:
      LaunchMeasurement();
      return;
    case 4:
      if (WaitForProgram(m_program, kDriveErrorMask) != Wait::Finished) return;
      Evaluate();
      return;
    default:
      Fail(CMC_TestDlg::msc_pszErrInternal);
      return;
  }
}

void CTestFrequencyResponse::LaunchMeasurement() {
  const CMC_Setup& setup = Setup();
  auto counts = [&](const char* name) {
    const CMC_Parameter* p = FindParameterQuiet(setup, name);
    return p != nullptr ? std::trunc(std::fmin(32767.0, std::fmax(0.0, p->GetValueInInternalUnit()))) : 0.0;
  };
  const std::pair<const char*, double> values[] = {
      {"Loop", static_cast<double>(m_loop)},
      {"Amplitude", m_amplitudeCounts},
      {"Register_Bits", m_plan.registerBits},
      {"Bit_Ticks", m_plan.bitTicks},
      {"Settle_Ticks", m_plan.settleTicks},
      {"Measure_Ticks", m_plan.measureTicks},
      {"Travel_Limit", std::floor(kTravel_m * MotorPositionScale(setup))},
      {"IlimPS_Test", counts("TestLimitCurrent")},
      {"Imax_Prot_Test", counts("TestProtectionCurrent")},
  };
  for (const auto& [name, value] : values)
    if (!WriteProgramInput(m_program, name, value)) return;
  // The outer loops tick every current-loop period when they run in the
  // fast loop: the logger follows their tick.
  const bool everyPeriod =
      m_loop == TunedLoop::Current || std::abs(m_excitation.tick_s - CurrentLoopPeriod(setup)) < 1e-12;
  m_logger.Reset();
  if (m_logger.ChangeSettings(m_plan.measureTicks, everyPeriod ? 2 : 1, 1) == 0 ||
      m_logger.AddVariable("Excitation", 0) == 0 || m_logger.AddVariable(InputVariable(m_loop, setup), 0) == 0 ||
      m_logger.AddVariable(OutputVariable(m_loop), 0) == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (!Launch(kProgram, &m_program, &m_logger)) return;
  SetInfoText(tuning::kStatusTexts[3]);
  ArmTimer();
}

void CTestFrequencyResponse::Evaluate() {
  double flag = 0.0, travel = 0.0;
  if (!ReadProgramOutput(m_program, "test_flag", flag) || !ReadProgramOutput(m_program, "Travel_Used", travel)) return;
  if (flag == kNotDelivered || flag == -3.0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  if (flag == -2.0) {
    Fail("Test failed!\nThe mover got further than " + Figure(kTravel_m * 1e3) +
         " mm from where it started: lower the amplitude or raise the loop's gains.");
    return;
  }
  if (flag <= 0.0) {
    Fail(tuning::kProtectionTripped);
    return;
  }
  SetInfoText(tuning::kStatusTexts[4]);
  if (m_logger.BeginUploadData() == 0) {
    Fail(CMC_TestDlg::msc_pszErrInternal);
    return;
  }
  std::vector<double> d, u, y, point;
  while (m_logger.ReadPoint(point) != 0) {
    if (point.size() < 4) continue;
    d.push_back(point[1]);
    u.push_back(point[2]);
    y.push_back(point[3]);
  }
  const CMC_Setup& setup = Setup();
  m_measured = MeasureResponse(d, u, y, m_excitation.tick_s, m_plan.segmentTicks, false, m_from_Hz, m_to_Hz);
  if (!m_measured.error.empty()) {
    Fail("Test failed!\nThe record cannot be analysed: " + m_measured.error + ".");
    return;
  }
  const bool model = ModelResponses(setup, m_loop, m_measured.frequency_Hz, m_modelOpen, m_modelPlant);
  if (!model) m_modelOpen.clear(), m_modelPlant.clear();
  const LoopMargins modelMargins = ComputeLoopMargins(setup, m_loop);
  m_comparison = CompareWithModel(m_measured, m_modelOpen, m_modelPlant, modelMargins,
                                  kComparedShareOfNyquist * 0.5 / m_excitation.tick_s);
  // Mechanical resonances are read from the force to the speed, whose
  // rigid-body line is the mass's.
  m_resonances.clear();
  if (model && m_loop == TunedLoop::Speed) m_resonances = FindResonances(m_measured, m_modelPlant);
  FrequencyResponseCurves curves;
  curves.measured = &m_measured;
  curves.modelOpenLoop = m_modelOpen;
  curves.modelPlant = m_modelPlant;
  curves.plantScale = m_excitation.plantScale;
  curves.plantUnit = m_excitation.plantUnit;
  curves.margins = m_comparison.measured;
  curves.resonances = m_resonances;
  DrawFrequencyResponse(curves, *GetPlot(kMagnitudePlot), *GetPlot(kPhasePlot), *GetPlot(kCoherencePlot));
  for (int id : {kMagnitudePlot, kPhasePlot, kCoherencePlot}) RefreshPlot(id);
  SetChildText(kFigures, FormatComparison(m_comparison, m_loop == TunedLoop::Speed ? &m_resonances : nullptr) + "\nTravel used: " +
                             Figure(travel / MotorPositionScale(setup) * 1e3) + " mm; " +
                             std::to_string(m_measured.averages) + " averages of " +
                             Figure(m_plan.resolution_Hz) + " Hz lines");
  EnableChild(kPlaceNotch, !m_resonances.empty());
  TestSucceeded(1);
}
