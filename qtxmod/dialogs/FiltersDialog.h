// Filters: the drive's three biquad filters, each switched on or off and
// described by its place in the loop, its type, its frequency or
// frequencies and its quality factor. Beside them, the response of the
// filters as the drive will run them, redrawn as the user edits.
//
// While the calling tuning test runs its motor, the structure of the
// filters is locked: filters cannot be switched on or off or moved to
// another place in the loop, only retuned.
#pragma once

#include "BiquadDesign.h"
#include "MySetupDlg.h"

class CMC_Setup;

class CFiltersDialog : public CMySetupDlg {
 public:
  // `lockStructure` non-zero while the calling test is running. The host
  // parents its dialogs itself; the parent is not passed on.
  CFiltersDialog(CMC_Setup* setup, int lockStructure, CMC_EditSetupDlg* parent = nullptr);

  void DoDataExchange(bool save) override;
  bool OnInitDialog() override;
  void OnRefreshParameterValue(const char* name) override;
  bool OnCommand(int id) override;
  void OnSelChange(int id) override;
  void OnHelp() override;

  // The designer the calling test sends the filter registers with.
  CBiquadDesign& GetDesign() { return m_design; }

  // The plot controls: magnitude and phase of the response.
  static constexpr int kMagnitudePlot = 3540;
  static constexpr int kPhasePlot = 3541;

 private:
  void BindControls();
  void FillCombos();
  void RedrawResponse();

  // Offers the filter types; also writes the registers for the caller.
  CBiquadDesign m_design;
  int m_lockStructure;
  // A filter the response could not show was told in the status line.
  bool m_toldProblem = false;
};
