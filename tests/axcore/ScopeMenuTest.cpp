// The host's side of a scope graph's menu, driven by scripts on the
// headless platform: the right click that opens the host's scope menu, file
// prompts answered from the script, a plot's wheel message, the scope's
// autoscale and settings dialog, and the graph's picture and table
// exported to files the user picks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "axcore/HeadlessPlatform.h"
#include "axcore/HostMenu.h"
#include "axcore/ScopeLogger.h"
#include "axcore/Setup.h"

namespace {

using Log = std::vector<std::string>;
constexpr int kPlot = 60;

axcore::DialogTemplate ProbeTemplate() {
  axcore::DialogTemplate layout;
  layout.id = 910;
  layout.caption = "Scope probe";
  auto add = [&](int id, axcore::ControlKind kind, int row) {
    axcore::ControlTemplate control;
    control.id = id;
    control.kind = kind;
    control.row = row;
    layout.controls.push_back(control);
  };
  add(kPlot, axcore::ControlKind::Plot, 0);
  add(11, axcore::ControlKind::Edit, 1);
  add(1, axcore::ControlKind::Button, 2);
  return layout;
}

// A dialog with a scope graph that opens the host's scope menu on it and
// records what it was given.
class ScopeProbe : public CMC_EditSetupDlg {
 public:
  ScopeProbe(CMC_Setup* setup, CMC_ScopeLogger& scope) : CMC_EditSetupDlg(setup, 910, 1), m_scope(scope) {
    SetOwnTemplate(ProbeTemplate());
  }
  Log log;

  bool OnInitDialog() override {
    CMC_EditSetupDlg::OnInitDialog();
    m_graph.SubclassDlgItem(kPlot, this, &m_scope.GetPlotDocument());
    m_graph.RefreshGraph();
    return true;
  }
  bool OnContextMenu(int id) override {
    if (id != kPlot) return false;
    const int chosen = TrackHostMenu(axcore::kScopeMenuResource, axcore::kScopeSubmenu);
    log.push_back("menu " + std::to_string(chosen));
    if (chosen != 0) OnCommand(chosen);
    return true;
  }
  bool OnCommand(int id) override {
    switch (id) {
      case axcore::kScopeMenuEdit:
        log.push_back("edit " + std::to_string(m_scope.EditSettings(this)));
        return true;
      case axcore::kScopeMenuLoad:
        log.push_back("load " + DoPromptScopeLoggerFileName(1, "SpeedTuning"));
        return true;
      case axcore::kScopeMenuExportPicture:
        log.push_back("picture " + std::to_string(m_graph.CreateWMF("SpeedTuning")));
        return true;
      case axcore::kScopeMenuExportData:
        log.push_back("data " + std::to_string(CGraphFilter::ExportToASCII(m_graph, "SpeedTuning")));
        return true;
      default:
        return CMC_EditSetupDlg::OnCommand(id);
    }
  }
  void OnControlMessage(int id, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    char text[96];
    std::snprintf(text, sizeof text, "message %d 0x%X %" PRIuPTR " 0x%" PRIXPTR, id, message, wParam,
                  static_cast<std::uintptr_t>(lParam));
    log.push_back(text);
  }

 private:
  CMC_ScopeLogger& m_scope;
  CGraphWindow m_graph;
};

// A scope of two channels whose window holds a few points.
struct Bench {
  CMC_Setup setup;
  CMC_ScopeLogger scope{&setup};
  Bench() {
    setup.AddVariable("Speed_Reference", "m/s");
    setup.AddVariable("Motor_Current", "A");
    scope.AddVariable("Speed_Reference", 1);
    scope.AddVariable("Motor_Current", 1);
    for (int c : {1, 2}) scope.GetPlotDocument().GetCurveSet(0).AddCurve(CXYCurve(0, c, 1, c, 2));
    for (int i = 0; i < 4; ++i) scope.GetPlotDocument().SetRow(i, {0.001 * i, 0.1 * i, 2.0 - i});
  }
};

struct Outcome {
  int result = 0;
  std::string failure, out;
  Log log;
};

Outcome RunProbe(Bench& bench, const std::string& script) {
  std::string error;
  auto lines = axcore::ParseScript(script, error);
  if (!lines) return {0, error, "", {}};
  std::ostringstream out;
  axcore::ScriptedUser user(*lines, out);
  axcore::HeadlessPlatform platform(&user);
  axcore::InstallPlatform(&platform);
  ScopeProbe probe(&bench.setup, bench.scope);
  Outcome run;
  run.result = probe.DoModal();
  axcore::InstallPlatform(nullptr);
  run.failure = user.Failure();
  run.out = out.str();
  run.log = probe.log;
  return run;
}

std::string MenuLine(const char* choice) {
  return std::string("menu: Edit..., Default Settings, Autoscale, Load Settings..., Save Settings..., Save Plots, "
                     "Export Picture..., Export Data... [") +
         choice + "]\n";
}

TEST(ScopeMenu, ScriptsRightClickChooseFilesAndSendMessages) {
  struct Case {
    const char* script;
    Log log;
    std::string out;
    const char* failure;
  };
  const Case cases[] = {
      {"file runs/a b.axscope\nmenu 60 10065\nclick 1", {"menu 10065", "load runs/a b.axscope"},
       MenuLine("10065 Load Settings...") + "file: open \"SpeedTuning.axscope\" [runs/a b.axscope]\n", ""},
      {"menu 60 10065\nclick 1", {"menu 10065", "load "},
       MenuLine("10065 Load Settings...") +
           "file: open \"SpeedTuning.axscope\" [cancelled, by default: no file was queued]\n",
       ""},
      {"menu 60 0\nclick 1", {"menu 0"}, MenuLine("dismissed"), ""},
      {"menu 60 10099", {"menu 0"}, MenuLine("dismissed"), "line 1: the menu has no command 10099"},
      {"menu 11 10064", {}, "", "line 1: control 11 showed no menu"},
      {"menu 99 10064", {}, "", "line 1: control 99 is not in dialog 910"},
      {"menu 60 x", {}, "", "line 1: menu takes a command id after the control, not \"x\""},
      {"message 60 0x467 0xFFFF0002\nmessage 60 1127 65537\nclick 1",
       {"message 60 0x467 60 0xFFFF0002", "message 60 0x467 60 0x10001"}, "", ""},
      {"message 60 1x 0", {}, "", "line 1: message takes a message number, not \"1x\""},
      {"message 60 0x467 1.5", {}, "", "line 1: message takes a number after the message, not \"1.5\""},
      {"message 99 0x467 0", {}, "", "line 1: control 99 is not in dialog 910"},
  };
  for (const Case& c : cases) {
    Bench bench;
    const Outcome run = RunProbe(bench, c.script);
    EXPECT_EQ(run.failure, c.failure) << c.script;
    EXPECT_EQ(run.log, c.log) << c.script;
    EXPECT_EQ(run.out, c.out) << c.script;
  }
}

TEST(ScopeMenu, AutoscaleFitsTheWindowOnTheOneTwoFiveScale) {
  const double nan = std::nan("");
  struct Case {
    const char* what;
    std::vector<double> values;  // base units (A)
    const char* unit;            // the unit shown
    double scale, offset;        // expected, in the unit shown
    int changed;
  };
  const Case cases[] = {
      {"0.1 to 0.7 A: 0.1 A per division, centre line 0.4 A", {0.1, 0.7, 0.3}, "A", 0.1, 0.4, 1},
      {"-3 to 5 A fills all eight divisions exactly", {-3, 5}, "mA", 1000, 1000, 1},
      {"0.05 to 0.85: the centre at 0.5 would cut 0.05 off, so 0.2", {0.05, 0.85}, "A", 0.2, 0.4, 1},
      {"a flat channel keeps its scale and is centred", {3.3, 3.3}, "A", 1, 3, 1},
      {"nothing to show: kept", {nan, nan}, "A", 1, 0, 0},
      {"already fitting: kept", {-4, 4}, "A", 1, 0, 0},
  };
  for (const Case& c : cases) {
    CMC_Setup setup;
    setup.AddVariable("Motor_Current", "A");
    CMC_ScopeLogger scope(&setup);
    scope.AddVariable("Motor_Current", 1);
    ASSERT_EQ(scope.RescaleVariable("Motor_Current", c.unit, 1, 0), 1) << c.what;
    for (std::size_t i = 0; i < c.values.size(); ++i) scope.GetPlotDocument().SetRow(i, {0.0, c.values[i]});
    EXPECT_EQ(scope.Autoscale(), c.changed) << c.what;
    double scale = 0, offset = 0;
    std::string unit;
    ASSERT_TRUE(scope.GetChannelScale(1, scale, offset, unit));
    EXPECT_NEAR(scale, c.scale, 1e-12 * c.scale) << c.what;
    EXPECT_NEAR(offset, c.offset, 1e-9) << c.what;
    EXPECT_EQ(unit, c.unit) << c.what;
    EXPECT_EQ(scope.Autoscale(), 0) << c.what << ": a second autoscale changes nothing";
  }
}

TEST(ScopeMenu, TheSettingsDialogChangesTheScopeOnlyWithOk) {
  struct Case {
    const char* script;
    Log log;
    const char* failure;
    int mode;
    const char* channel;
    double level, preTrigger;
    int points;
    const char* unit;  // of channel 1
    double scale, offset;
  };
  const Case cases[] = {
      {"menu 60 10062\nselect 112 Normal\nselect 116 Motor_Current\ntype 118 1.5\ntype 121 25\ntype 102 500\n"
       "unit 213 mm/s\ntype 212 200\ntype 214 -400\nclick 1\nclick 1",
       {"menu 10062", "edit 1"}, "", 2, "Motor_Current", 1.5, 25, 500, "mm/s", 200, -400},
      {"menu 60 10062\nselect 112 Normal\ntype 102 500\nclick 2\nclick 1", {"menu 10062", "edit 0"}, "", 1, "", 0, 0,
       1000, "m/s", 1, 0},
      {"menu 60 10062\nunit 213 mm/s\nclick 1\nclick 1", {"menu 10062", "edit 1"}, "", 1, "", 0, 0, 1000, "mm/s",
       1000, 0},
      {"menu 60 10062\nclick 1\nclick 1", {"menu 10062", "edit 0"}, "", 1, "", 0, 0, 1000, "m/s", 1, 0},
      {"menu 60 10062\nselect 116 Motor_Current", {"menu 10062", "edit 0"}, "line 2: combo 116 is disabled", 1, "",
       0, 0, 1000, "m/s", 1, 0},
  };
  for (const Case& c : cases) {
    Bench bench;
    const Outcome run = RunProbe(bench, c.script);
    EXPECT_EQ(run.failure, c.failure) << c.script;
    EXPECT_EQ(run.log, c.log) << c.script;
    const CMC_ScopeLogger& scope = bench.scope;
    EXPECT_EQ(scope.GetTriggerMode(), c.mode) << c.script;
    EXPECT_EQ(scope.GetTriggerChannel(), c.channel) << c.script;
    EXPECT_DOUBLE_EQ(scope.GetTriggerLevel(), c.level) << c.script;
    EXPECT_DOUBLE_EQ(scope.GetPreTriggerPercent(), c.preTrigger) << c.script;
    EXPECT_EQ(scope.GetPointsNo(), c.points) << c.script;
    double scale = 0, offset = 0;
    std::string unit;
    ASSERT_TRUE(scope.GetChannelScale(1, scale, offset, unit));
    EXPECT_EQ(unit, c.unit) << c.script;
    EXPECT_DOUBLE_EQ(scale, c.scale) << c.script;
    EXPECT_DOUBLE_EQ(offset, c.offset) << c.script;
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ScopeMenu, TheGraphsPictureAndTableGoToTheFilesTheUserPicks) {
  const auto folder = std::filesystem::temp_directory_path() / ("axscopemenu-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string picture = (folder / "pic.svg").string(), data = (folder / "data.csv").string();
  Bench bench;
  const Outcome run = RunProbe(bench, "file " + picture + "\nmenu 60 10068\nfile " + data +
                                     "\nmenu 60 10069\nmenu 60 10068\nfile " + (folder / "no/such.csv").string() +
                                     "\nmenu 60 10069\nclick 1");
  EXPECT_EQ(run.failure, "");
  EXPECT_EQ(run.log, (Log{"menu 10068", "picture 1", "menu 10069", "data 1", "menu 10068", "picture 0", "menu 10069",
                          "data 0"}));
  EXPECT_NE(run.out.find("file: save \"SpeedTuning.svg\" [" + picture + "]"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("file: save \"SpeedTuning.svg\" [cancelled"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("message: The graph was not exported: "), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(data), bench.scope.GetPlotDocument().ToCsv());
  EXPECT_EQ(ReadFile(picture), bench.scope.GetPlotDocument().ToPlot("SpeedTuning").ToSvg());
  std::filesystem::remove_all(folder);
}

}  // namespace
