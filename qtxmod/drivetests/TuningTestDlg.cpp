#include "TuningTestDlg.h"

#include <cmath>

#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

std::pair<double, double> TuningSliderSpan(double value, double minimum, double maximum) {
  const double lo = std::fmax(minimum, 0.5 * value);
  const double hi = std::fmin(maximum, 1.5 * value);
  // A gain of 0 (a feedforward the user starts from) would give [0, 0], a
  // negative one an inverted span: the slider then covers the whole range.
  if (lo < hi) return {lo, hi};
  return {minimum, maximum};
}

CTuningTestDlg::CTuningTestDlg(CMC_Setup* setup, int resourceId, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, resourceId, 1, parent) {}

CTuningTestDlg::~CTuningTestDlg() = default;

void CTuningTestDlg::SetPageControls(std::vector<int> parameters, std::vector<int> test) {
  m_pageControls[0] = std::move(parameters);
  m_pageControls[1] = std::move(test);
}

void CTuningTestDlg::AddGainSlider(const char* name, int sliderId, int editId, int spinUpId, int spinDownId,
                                   int unitId) {
  const CMC_Parameter* gain = FindParameterQuiet(Setup(), name);
  if (gain == nullptr) return;
  AddSliderParameterControls(name, sliderId, editId, spinUpId, spinDownId, unitId);
  if (!gain->HasMin() || !gain->HasMax()) return;
  const auto [lo, hi] = TuningSliderSpan(gain->GetValueInBaseUnit(), gain->GetMinInBaseUnit(), gain->GetMaxInBaseUnit());
  if (std::isfinite(lo) && std::isfinite(hi)) SetSliderSpan(sliderId, lo, hi);
}

void CTuningTestDlg::InitPages() {
  SetTabSelection(tuning::kTabs, 0);
  ShowPage(0);
}

void CTuningTestDlg::ShowPage(int page) {
  m_page = page;
  for (int id : m_pageControls[1 - page]) ShowChild(id, false);
  for (int id : m_pageControls[page]) ShowChild(id, true);
}

void CTuningTestDlg::OnTabChange(int id) {
  if (id != tuning::kTabs) return CMyTestDlg::OnTabChange(id);
  const ControlState* tabs = GetControl(tuning::kTabs);
  const int page = tabs != nullptr && tabs->selection == 1 ? 1 : 0;
  // Back to the parameters while a test runs, or away from fields that do
  // not hold valid values: the page shown stays.
  if ((page == 0 && m_bTestRunning != 0) || !UpdateData(true)) {
    SetTabSelection(tuning::kTabs, m_page);
    return;
  }
  if (page == 1 && !MayEnterTestPage()) {
    SetTabSelection(tuning::kTabs, 0);
    if (m_page != 0) ShowPage(0);
    UpdateData(false);
    return;
  }
  ShowPage(page);
  UpdateData(false);
  // Details belongs to the results on the "Test" page.
  ShowChild(kDetails, page == 1);
  if (page == 1) {
    if (m_nTestResult == 1)
      TestSucceeded(0);
    else if (!m_strErrorText.empty())
      TestFailed(0);
  }
}

void CTuningTestDlg::OnShowWindow(bool show) {
  CMyTestDlg::OnShowWindow(show);
  if (!show) return;
  ShowPage(0);
  UpdateData(false);
  ShowChild(kDetails, false);
}

bool CTuningTestDlg::OnCommand(int id) {
  if (id != tuning::kSavePlot) return CMyTestDlg::OnCommand(id);
  SavePlotOf(m_logger.get());
  return true;
}

void CTuningTestDlg::SavePlotOf(CMC_Logger* logger) {
  // A graph saved while the points still come in would be cut short.
  if (logger == nullptr || m_bTestRunning != 0) return;
  if (logger->SaveGraph(m_graphName) == 0) {
    MessageBox("The plot could not be saved: " + logger->GetSaveError(), MB_OK | MB_ICONERROR);
  } else {
    std::string saved = "Saved";
    for (const std::string& file : logger->GetSavedFiles()) saved += " " + file;
    ShowStatus(saved);
  }
}

void CTuningTestDlg::ExchangeRunState() {
  const bool idle = m_bTestRunning == 0;
  EnableChild(tuning::kOk, idle);
  for (int id : tuning::kGainControls) EnableChild(id, idle);
  ShowChild(tuning::kGraph, m_page == 1);
}

const CTuningTestDlg::TunedGain* CTuningTestDlg::FindGain(const char* name) const {
  for (const TunedGain& gain : m_gains)
    if (axcore::EqualsIgnoreCase(name, gain.name)) return &gain;
  return nullptr;
}

void CTuningTestDlg::OnChangedParameterValue(const char* name) {
  if (const TunedGain* gain = FindGain(name)) {
    RunEncodeStep(Setup(), gain->shift);
    RunEncodeStep(Setup(), gain->mantissa);
  }
  CMyTestDlg::OnChangedParameterValue(name);
}

void CTuningTestDlg::OnRefreshParameterValue(const char* name) {
  // The running test takes the new gain from its next Start.
  if (const TunedGain* gain = FindGain(name)) WriteToDriveWhileRunning({gain->shift, gain->mantissa});
  CMyTestDlg::OnRefreshParameterValue(name);
}

bool CTuningTestDlg::WriteTunedGainsWhileRunning() {
  for (const TunedGain& gain : m_gains)
    if (!WriteToDriveWhileRunning({gain.shift, gain.mantissa})) return false;
  return true;
}

bool CTuningTestDlg::WriteToDriveWhileRunning(const std::vector<const char*>& registers) {
  if (m_bTestRunning == 0) return true;
  for (const char* name : registers) {
    CMC_Parameter* parameter = FindParameterQuiet(Setup(), name);
    if (parameter == nullptr || parameter->WriteToChip() == 0) return false;
  }
  return true;
}

void CTuningTestDlg::CreateLogger(CMC_CoffFormat* program) {
  m_logger = std::make_unique<CMC_SingleAxisLogger>(GetSetup(), program);
}

void CTuningTestDlg::BindGraph() {
  if (m_logger == nullptr) return;
  m_logger->GetPlotDocument().LocateItems();
  m_graph.SubclassDlgItem(tuning::kGraph, this, &m_logger->GetPlotDocument());
  m_graph.RefreshGraph();
}

CTuningTestDlg::Drawing CTuningTestDlg::DrawLoggedPoints() {
  m_graph.DoZoomOut();
  while (m_logger != nullptr && m_logger->ReadPoint() != 0) {
    m_graph.UpdateLastPoint();
    PumpMessages();
    if (m_bMultiCycle == 1 && m_bStopRequest != 0) break;
    if (m_bTestRunning == 0 && m_bMultiCycle == 0) {
      m_graph.DoZoomOut();
      return Drawing::Abandoned;
    }
  }
  m_graph.DoZoomOut();
  return m_bMultiCycle == 1 && m_bStopRequest != 0 ? Drawing::Stopped : Drawing::Drawn;
}
