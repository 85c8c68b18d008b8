// What the controller tuning tests share on top of the drive test protocol:
// two tab pages ("Test Parameters" and "Test") whose controls the dialog
// shows and hides itself, gain sliders that span the neighbourhood of the
// gain as the dialog opened, gains that go to the drive at once while a test
// runs, and a data logger whose points are drawn one by one into the graph
// window while the dialog stays responsive.
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "MyTestDlg.h"
#include "axcore/GraphWindow.h"
#include "axcore/Logger.h"

// The controls of a tuning test that the tests agree on.
namespace tuning {
inline constexpr int kTabs = 1300;
inline constexpr int kPicture = 1123;
inline constexpr int kProcedure = 1377;
inline constexpr int kGraph = 1361;
inline constexpr int kSavePlot = 1372;
inline constexpr int kOk = 1;
// Kp and Ki: value field, spin buttons and slider of each.
inline constexpr int kGainControls[] = {1335, 1336, 1337, 1338, 1340, 1341, 1342, 1343};
// The status texts of a tuning run by step (each SetInfoText shows one and
// advances the step), and the failure of the run's own current protection.
inline constexpr const char* kStatusTexts[] = {
    "Launching the application for preliminary test",
    "Waiting preliminary test to be finished",
    "Launching the application for test",
    "Running test",
    "Uploading results",
    "Test running. Press \"Stop\" to end the test",
};
inline constexpr const char* kProtectionTripped = "Test failed!\nCurrent protection triggered during test!";
}  // namespace tuning

// The span of a tuning slider, in base units: half to one and a half times
// the value, within the parameter's range. A value of 0 or below, or one at
// which that span is empty or inverted, gets the parameter's whole range
// instead.
std::pair<double, double> TuningSliderSpan(double value, double minimum, double maximum);

class CTuningTestDlg : public CMyTestDlg {
 public:
  CTuningTestDlg(CMC_Setup* setup, int resourceId, CMC_EditSetupDlg* parent);
  ~CTuningTestDlg() override;

  void OnTabChange(int id) override;
  void OnShowWindow(bool show) override;
  bool OnCommand(int id) override;
  // A tuned gain's change encodes its shift, then its mantissa; while a
  // test runs its refresh writes both to the drive in that order.
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  // The page shown: 0 "Test Parameters", 1 "Test".
  int Page() const { return m_page; }
  // The logger of the test's runs and its graph (null before the dialog
  // is created).
  const CMC_SingleAxisLogger* GetLogger() const { return m_logger.get(); }

 protected:
  // The controls of each page; the page not selected has them hidden.
  void SetPageControls(std::vector<int> parameters, std::vector<int> test);
  // Inserts the two pages, selects page 0 and shows its controls.
  void InitPages();
  // Binds a gain's slider, value field and spin buttons, when the setup has
  // the gain, with the span TuningSliderSpan gives for its value now.
  void AddGainSlider(const char* name, int sliderId, int editId, int spinUpId, int spinDownId, int unitId = 0);

  // Whether the "Test" page may be entered now; a refusal has told the
  // user why. The base allows it.
  virtual bool MayEnterTestPage() { return true; }

  // A gain the user tunes and the two registers the drive holds it in.
  struct TunedGain {
    const char* name;      // "Kp_C_scl"
    const char* shift;     // "SFTKPI"
    const char* mantissa;  // "KPI"
  };
  void SetTunedGains(std::vector<TunedGain> gains) { m_gains = std::move(gains); }
  // While a test runs, every tuned gain's registers to the drive, gain after
  // gain, shift before mantissa, each write only after the one before it
  // succeeded (after "Tune").
  bool WriteTunedGainsWhileRunning();

  // The fill rules the tuning tests share: OK and the Kp and Ki controls
  // enabled only while no test runs, the graph only on page 1.
  void ExchangeRunState();

  // While a test runs, writes the registers to the drive in this order,
  // each only after the one before it was written. False when a write
  // failed (nothing more is written).
  bool WriteToDriveWhileRunning(const std::vector<const char*>& registers);

  // The logger of the test's main program and the graph bound to the
  // dialog's graph control.
  void CreateLogger(CMC_CoffFormat* program);
  CMC_SingleAxisLogger* Logger() const { return m_logger.get(); }
  CGraphWindow& Graph() { return m_graph; }
  // Binds the graph window to the graph control and draws it.
  void BindGraph();
  // The name "Save plot" saves the graph under (null: the logger's own,
  // its program's name).
  void SetGraphName(const char* name) { m_graphName = name; }
  // "Save plot": saves `logger`'s graph under that name and says where in
  // the status line, or why not in a message box; nothing while a test runs
  // (the points are still coming in).
  void SavePlotOf(CMC_Logger* logger);

  // Reads the uploaded points into the graph one by one, drawing each and
  // letting the user act between points. Drawn: every point was read;
  // Stopped: a stop was asked of a multi-cycle run, so reading ended early;
  // Abandoned: the run was stopped (neither running nor multi-cycle), the
  // drawing is left as it is.
  enum class Drawing { Drawn, Stopped, Abandoned };
  Drawing DrawLoggedPoints();

 private:
  void ShowPage(int page);

  const TunedGain* FindGain(const char* name) const;

  int m_page = 0;
  std::vector<int> m_pageControls[2];
  std::vector<TunedGain> m_gains;
  const char* m_graphName = nullptr;
  std::unique_ptr<CMC_SingleAxisLogger> m_logger;
  CGraphWindow m_graph{2, 0};
};
