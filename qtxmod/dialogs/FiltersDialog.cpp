#include "FiltersDialog.h"

#include <cstdio>
#include <string>
#include <vector>

#include "DialogValues.h"
#include "FilterResponsePlot.h"
#include "axcore/Setup.h"

using dialogs::IntegerValue;

namespace {

constexpr int kResourceId = 295;
constexpr int kHelpContext = 0x4010F;

// The controls of one filter.
struct FilterControls {
  int group, check;
  int locationLabel, location;
  int typeLabel, type;
  int frequencyLabel, frequency, frequencyUnit;
  int qLabel, q;
  int lagFrequency, lagFrequencyUnit;  // in the place of the Q field
};

constexpr FilterControls kFilters[kBiquadFilterCount] = {
    {3484, 3485, 3503, 3502, 3486, 3487, 3490, 3491, 3508, 3488, 3489, 3504, 3510},
    {3492, 3493, 3501, 3500, 3494, 3495, 3498, 3499, 3509, 3496, 3497, 3505, 3511},
    {3517, 3518, 3527, 3526, 3520, 3519, 3522, 3524, 3525, 3521, 3523, 3506, 3512},
};

std::string Name(const char* format, int filter) {
  char name[32];
  std::snprintf(name, sizeof name, format, filter);
  return name;
}

bool IsLeadLag(int type) { return type == kBiquadLeadLag1 || type == kBiquadLeadLag2; }

}  // namespace

CFiltersDialog::CFiltersDialog(CMC_Setup* setup, int lockStructure, CMC_EditSetupDlg*)
    : CMySetupDlg(setup, kResourceId, 1), m_lockStructure(lockStructure) {
  BindControls();
}

void CFiltersDialog::BindControls() {
  auto each = [](auto bind) {
    for (int n = 1; n <= kBiquadFilterCount; ++n) bind(n, kFilters[n - 1]);
  };
  each([&](int n, const FilterControls& c) {
    AddComboParameterControls(Name("BQFilterLocation%d", n).c_str(), c.location);
  });
  each([&](int n, const FilterControls& c) { AddCheckParameterControls(Name("BQFilter%d", n).c_str(), c.check); });
  each([&](int n, const FilterControls& c) { AddComboParameterControls(Name("BQFilterType%d", n).c_str(), c.type); });
  each([&](int n, const FilterControls& c) { AddParameterControls(Name("BQFilterQ%d", n).c_str(), c.q); });
  each([&](int n, const FilterControls& c) {
    AddParameterControls(Name("BQFilterF1%d", n).c_str(), c.frequency, c.frequencyUnit);
  });
  each([&](int n, const FilterControls& c) {
    AddParameterControls(Name("BQFilterF2%d", n).c_str(), c.lagFrequency, c.lagFrequencyUnit);
  });
}

bool CFiltersDialog::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  FillCombos();
  for (int n = 1; n <= kBiquadFilterCount; ++n) RefreshParameterControls(Name("BQFilterType%d", n).c_str());
  for (int n = 1; n <= kBiquadFilterCount; ++n) RefreshParameterControls(Name("BQFilterLocation%d", n).c_str());
  RefreshAllParameters(0);
  UpdateData(false);
  return result;
}

void CFiltersDialog::FillCombos() {
  std::vector<std::string> names;
  std::vector<int> types;
  m_design.GetAvailableTypes(names, types);
  for (const FilterControls& c : kFilters) {
    CComboBox type;
    type.Attach(this, c.type);
    type.ResetContent();
    for (std::size_t i = 0; i < names.size(); ++i) type.SetItemData(type.AddString(names[i]), types[i]);
    CComboBox location;
    location.Attach(this, c.location);
    location.ResetContent();
    for (int l = 0; l < kBiquadLocationCount; ++l) location.SetItemData(location.AddString(BiquadLocationName(l)), l);
  }
}

void CFiltersDialog::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  const CMC_Setup& setup = Setup();
  const bool lock = m_lockStructure != 0;
  for (int n = 1; n <= kBiquadFilterCount; ++n) {
    const FilterControls& c = kFilters[n - 1];
    const bool on = IntegerValue(setup, Name("BQFilter%d", n)) != 0;
    const int type = IntegerValue(setup, Name("BQFilterType%d", n));
    RefreshParameterControls(Name("BQFilterQ%d", n).c_str());
    EnableChild(c.group, on);
    EnableChild(c.locationLabel, on && !lock);
    EnableChild(c.location, on && !lock);
    EnableChild(c.typeLabel, on);
    EnableChild(c.type, on);
    // A first-order low pass has no quality factor.
    EnableChild(c.qLabel, on && type != kBiquadLowPass1);
    EnableChild(c.q, on && type != kBiquadLowPass1, type == kBiquadLowPass1 ? 1 : 0);
    for (int id : {c.frequencyLabel, c.frequency, c.frequencyUnit, c.lagFrequency, c.lagFrequencyUnit})
      EnableChild(id, on);
    EnableChild(c.check, !lock);
    SetChildText(c.check, on ? "On" : "Off");
    // A lead-lag filter reads a lag frequency where the others read Q.
    const bool leadLag = IsLeadLag(type);
    SetChildText(c.qLabel, leadLag ? "Lag Frequency" : "Q");
    SetChildText(c.frequencyLabel, leadLag ? "Lead Frequency" : "Frequency");
    ShowChild(c.lagFrequency, leadLag);
    ShowChild(c.lagFrequencyUnit, leadLag);
    ShowChild(c.q, !leadLag);
  }
  RedrawResponse();
}

void CFiltersDialog::OnRefreshParameterValue(const char* name) {
  CMySetupDlg::OnRefreshParameterValue(name);
  RedrawResponse();
}

bool CFiltersDialog::OnCommand(int id) {
  for (const FilterControls& c : kFilters)
    if (id == c.check) {
      UpdateData(false);
      return true;
    }
  return CMySetupDlg::OnCommand(id);
}

void CFiltersDialog::OnSelChange(int id) {
  for (const FilterControls& c : kFilters)
    if (id == c.type || id == c.location) {
      UpdateData(false);
      return;
    }
  CMySetupDlg::OnSelChange(id);
}

void CFiltersDialog::RedrawResponse() {
  axcore::PlotDocument* magnitude = GetPlot(kMagnitudePlot);
  axcore::PlotDocument* phase = GetPlot(kPhasePlot);
  if (magnitude == nullptr || phase == nullptr) return;
  const std::string problem = DrawFilterResponse(Setup(), *magnitude, *phase);
  RefreshPlot(kMagnitudePlot);
  RefreshPlot(kPhasePlot);
  // The status line also tells of values limited to their range: it is
  // cleared only when it told of a filter that can be shown again.
  if (!problem.empty()) {
    ShowStatus(problem);
  } else if (m_toldProblem) {
    ShowStatus("");
  }
  m_toldProblem = !problem.empty();
}

void CFiltersDialog::OnHelp() { OpenHelpAt(kHelpContext); }
