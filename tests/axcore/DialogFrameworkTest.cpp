// The host's dialog framework driven as a user drives it: a small dialog of
// our own, bound to a few parameters, run by scripts on the headless
// platform. What the setup dialogs rely on: one call of each change hook
// per change, none from a refresh, a check box stored before its click
// handler, refused input leaving the document as it was, timers in time
// order, message box answers, and script faults named by their line.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "axcore/HeadlessPlatform.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"

namespace {

constexpr const char* kTemplate = R"({"format": "axdialog-1", "id": 900, "caption": "Test",
  "controls": [
    {"id": 10, "kind": "group", "text": "Values", "at": [0, 0]},
    {"id": 11, "kind": "edit", "in": 10, "at": [0, 0]},
    {"id": 12, "kind": "unit", "in": 10, "at": [0, 1]},
    {"id": 20, "kind": "radio", "text": "A", "at": [1, 0]},
    {"id": 21, "kind": "radio", "text": "B", "at": [1, 1]},
    {"id": 30, "kind": "check", "text": "On", "at": [2, 0]},
    {"id": 40, "kind": "button", "text": "Later", "at": [3, 0], "disabled": true},
    {"id": 41, "kind": "button", "text": "Ask", "at": [3, 1]},
    {"id": 50, "kind": "combo", "at": [4, 0]},
    {"id": 1, "kind": "button", "text": "OK", "at": [5, 0]},
    {"id": 2, "kind": "button", "text": "Cancel", "at": [5, 1]}]})";

class Folder {
 public:
  Folder() : m_path(std::filesystem::temp_directory_path() / ("axdialog-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(m_path / "dialogs");
    std::ofstream(m_path / "dialogs" / "900.json") << kTemplate;
    axcore::RegisterResourceFolder(m_path.string());
  }
  ~Folder() {
    axcore::WithdrawResourceFolder(m_path.string());
    std::filesystem::remove_all(m_path);
  }

 private:
  std::filesystem::path m_path;
};

// Records the hooks in the order they run.
class Probe : public CMC_EditSetupDlg {
 public:
  explicit Probe(CMC_Setup* setup) : CMC_EditSetupDlg(setup, 900, 1) {
    AddParameterControls("Speed", 11, 12);
    AddSwitchParameterControls("Mode", 20, 21);
    AddCheckParameterControls("Flag", 30);
  }
  std::vector<std::string> log;

  bool OnInitDialog() override {
    CMC_EditSetupDlg::OnInitDialog();
    CComboBox combo;
    combo.Attach(this, 50);
    for (const char* item : {"one", "two"}) combo.AddString(item);
    SetTimer(7, 30);
    SetTimer(8, 20);
    return true;
  }
  void OnChangedParameterValue(const char* name) override {
    log.push_back(std::string("changed ") + name);
    RefreshAllParameters(0);  // must not call the refresh hook
  }
  void OnRefreshParameterValue(const char* name) override { log.push_back(std::string("refreshed ") + name); }
  void OnChangedParameterUnit(const char* name) override { log.push_back(std::string("unit ") + name); }
  bool OnCommand(int id) override {
    if (id == 30) log.push_back("click 30 sees Flag " + std::to_string(int(GetSetup()->GetParameterValueInBaseUnit("Flag"))));
    if (id == 41) log.push_back("answer " + std::to_string(MessageBox("Go on?", MB_YESNOCANCEL | MB_ICONQUESTION)));
    return CMC_EditSetupDlg::OnCommand(id);
  }
  void OnSelChange(int id) override { log.push_back("selected " + std::to_string(id)); }
  void OnTimer(int id) override {
    log.push_back("timer " + std::to_string(id));
    KillTimer(id);
  }
};

CMC_Setup MakeSetup() {
  CMC_Setup setup;
  setup.AddParameter({"Speed", "m/s", "", ParameterKind::User, false, 0.5, 0.0, 2.0});
  setup.AddParameter({"Mode", "", "", ParameterKind::User, true, 0.0, 0.0, 1.0});
  setup.AddParameter({"Flag", "", "", ParameterKind::User, true, 0.0, 0.0, 1.0});
  return setup;
}

struct Outcome {
  int result = 0;
  std::string failure, out;
  std::vector<std::string> log;
  double speed = 0;
};

Outcome RunScript(const std::string& script, CMC_Setup setup = MakeSetup(), axcore::BenchHandler bench = nullptr,
                  axcore::ScriptFeed feed = nullptr) {
  Folder folder;
  std::string error;
  auto lines = axcore::ParseScript(script, error);
  if (!lines) return {0, error, "", {}, 0};
  std::ostringstream out;
  axcore::ScriptedUser user(*lines, out);
  user.SetBenchHandler(std::move(bench));
  user.SetFeed(std::move(feed));
  axcore::HeadlessPlatform platform(&user);
  axcore::InstallPlatform(&platform);
  Probe probe(&setup);
  Outcome run;
  run.result = probe.DoModal();
  axcore::InstallPlatform(nullptr);
  run.failure = user.Failure();
  run.out = out.str();
  run.log = probe.log;
  run.speed = setup.GetParameterValueInBaseUnit("Speed");
  return run;
}

using Log = std::vector<std::string>;

TEST(DialogFramework, EachUserChangeRunsEachHookOnceAndInOrder) {
  struct Case {
    const char* script;
    Log log;
    double speed;
  };
  const Case cases[] = {
      {"type 11 1.25\nclick 1", {"changed Speed", "refreshed Speed"}, 1.25},
      {"type 11 0.5\nclick 1", {}, 0.5},                        // the text it shows: no change
      {"type 11 fast\nclick 1", {}, 0.5},                       // no number: kept
      {"type 11 7\nclick 1", {"changed Speed", "refreshed Speed"}, 2.0},  // limited to its maximum
      {"unit 12 mm/s\ntype 11 250\nclick 1", {"unit Speed", "changed Speed", "refreshed Speed"}, 0.25},
      {"radio 21\nradio 21\nclick 1", {"changed Mode", "refreshed Mode"}, 0.5},
      {"check 30 1\nclick 1", {"changed Flag", "refreshed Flag", "click 30 sees Flag 1"}, 0.5},
      {"select 50 two\nclick 1", {"selected 50"}, 0.5},
  };
  for (const Case& c : cases) {
    const Outcome run = RunScript(c.script);
    EXPECT_EQ(run.failure, "") << c.script;
    EXPECT_EQ(run.result, IDOK) << c.script;
    EXPECT_EQ(run.log, c.log) << c.script;
    EXPECT_DOUBLE_EQ(run.speed, c.speed) << c.script;
  }
}

// A user that decides as it goes: the feed is asked, with the dialog on
// top, whenever the actions it gave are done; its lines are numbered on
// from the script's, so that a failure names one line.
TEST(DialogFramework, AFeedGivesTheNextActionsForTheDialogOnTop) {
  struct Case {
    std::vector<std::string> feeds;  // what the feed returns, call by call
    double speed;
    std::string failure;
  };
  const Case cases[] = {
      {{"type 11 1.5", "click 1"}, 1.5, ""},
      {{"type 11 1.5\nclick 99"}, 1.5, "line 3: "},  // after the script's "wait 10"
      {{"tap 11"}, 0.5, "fed actions: line 1: unknown action"},
      {{""}, 0.5, "the script ended while"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.feeds.front());
    std::size_t calls = 0;
    const Outcome run = RunScript("wait 10", MakeSetup(), nullptr, [&](CMC_EditSetupDlg& top) {
      EXPECT_EQ(top.GetResourceId(), 900);
      return calls < c.feeds.size() ? c.feeds[calls++] : std::string();
    });
    EXPECT_EQ(run.speed, c.speed);
    if (c.failure.empty())
      EXPECT_EQ(run.failure, "");
    else
      EXPECT_EQ(run.failure.rfind(c.failure, 0), 0u) << run.failure;
  }
}

TEST(DialogFramework, FieldsShowTheDocumentAndTimersFireInTimeOrder) {
  const Outcome run = RunScript("type 11 1.2345678\nunit 12 mm/s\ndump 11 12 20 21\nwait 25\nwait 10\nclick 2");
  EXPECT_EQ(run.result, IDCANCEL);
  EXPECT_EQ(run.out,
            "dialog 900 \"Test\"\n"
            "11 edit shown=1 enabled=1 checked=0 \"1234.57\"\n"
            "12 unit shown=1 enabled=1 checked=0 \"mm/s\"\n"
            "20 radio shown=1 enabled=1 checked=1 \"A\"\n"
            "21 radio shown=1 enabled=1 checked=0 \"B\"\n");
  EXPECT_EQ((Log{run.log.end() - 2, run.log.end()}), (Log{"timer 8", "timer 7"}));
}

TEST(DialogFramework, MessageBoxesTakeTheQueuedAnswerOrTheirDefault) {
  const Outcome answered = RunScript("answer no\nclick 41\nclick 41\nclick 1");
  EXPECT_EQ(answered.log, (Log{"answer 7", "answer 6"}));
  EXPECT_EQ(answered.out,
            "message: Go on? [no]\n"
            "message: Go on? [yes, by default: no answer was queued]\n");
  EXPECT_EQ(RunScript("answer ok\nclick 41\nclick 1").failure,
            "line 1: answer ok does not fit the message \"Go on?\"");
}

TEST(DialogFramework, AScriptThatCannotBeCarriedOutNamesItsLine) {
  struct Case {
    const char* script;
    const char* failure;
  };
  const Case cases[] = {
      {"click 1\nfly 3", "line 2: unknown action \"fly\""},
      {"click 99", "line 1: control 99 is not in dialog 900"},
      {"click 40", "line 1: button 40 is disabled"},
      {"type 21 3", "line 1: radio 21 cannot be typed into"},
      {"select 50 three", "line 1: combo 50 has no item \"three\""},
      {"type 11 1", "the script ended while dialog 900 \"Test\" is open"},
      {"check 30 2", "line 1: check takes 0 or 1, not \"2\""},
  };
  for (const Case& c : cases) {
    const Outcome run = RunScript(c.script);
    EXPECT_EQ(run.failure, c.failure) << c.script;
    EXPECT_NE(run.result, IDOK) << c.script;
  }
}

// The bench actions reach the handler the host installed, in base units and
// at the script's time; a push lets its time pass before the next line.
TEST(DialogFramework, BenchActionsGoToTheBenchHandlerInBaseUnits) {
  struct Case {
    const char* script;
    Log bench;  // what the handler was asked, "KIND VALUE... at MS"
    const char* failure;
  };
  const Case cases[] = {
      {"analogue -2.5\nmove 12.5 100\nanalogue 3\nmove -4\nclick 1",
       {"analogue -2.5 at 0", "move 0.0125 0.1 at 0", "analogue 3 at 100", "move -0.004 0.5 at 100"}, ""},
      {"analogue 10V", {}, "line 1: analogue takes volts (up to 1000 either way), not \"10V\""},
      {"move 3 -5", {}, "line 1: move takes milliseconds after the millimetres, from 0 to 3600000 (one hour of drive time), not \"-5\""},
      {"move 3 4 5", {}, "line 1: move takes move MM [MS]"},
      // A year of drive time would keep the machine busy for hours.
      {"move 3 3600001", {}, "line 1: move takes milliseconds after the millimetres, from 0 to 3600000 (one hour of drive time), not \"3600001\""},
      {"analogue 1\nanalogue 2", {"analogue 1 at 0"}, "line 2: the drive is unplugged"},
  };
  for (const Case& c : cases) {
    Log asked;
    auto handler = [&](const axcore::BenchAction& action, std::string& why) {
      if (action.kind == axcore::BenchAction::Kind::AnalogueInput && action.volts == 2) {
        why = "the drive is unplugged";
        return false;
      }
      std::ostringstream text;
      const long long ms = std::llround(axcore::CurrentPlatform().Now() * 1000);
      if (action.kind == axcore::BenchAction::Kind::AnalogueInput) {
        text << "analogue " << action.volts << " at " << ms;
      } else {
        text << "move " << action.distance_m << ' ' << action.duration_s << " at " << ms;
      }
      asked.push_back(text.str());
      return true;
    };
    const Outcome run = RunScript(c.script, MakeSetup(), handler);
    EXPECT_EQ(run.failure, c.failure) << c.script;
    EXPECT_EQ(asked, c.bench) << c.script;
  }
  // The clock ran through the push: both timers fired before OK.
  EXPECT_EQ(RunScript("move 1 40\nclick 1", MakeSetup(), [](const axcore::BenchAction&, std::string&) { return true; }).log,
            (Log{"timer 8", "timer 7"}));
  EXPECT_EQ(RunScript("analogue 1\nclick 1").failure, "line 1: no virtual drive to act on");
}

}  // namespace
