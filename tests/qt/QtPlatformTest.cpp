// The desktop view against the headless one: a script acted out through the
// Qt widgets must leave the same dumps, messages, failures and setup values
// as the same script run headless.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "QtDialogView.h"
#include "QtPlatform.h"
#include "QtPlotView.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/HostMenu.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDialogId = 9701;

// One of each kind of control the view builds, in a group box, on tab
// pages and on the dialog itself; 121 is hidden and 122 disabled.
constexpr const char* kTemplate = R"({
  "format": "axdialog-1", "id": 9701, "caption": "Motor && Drive",
  "pages": { "110": ["Events", "Speed"] },
  "controls": [
    { "id": 100, "kind": "group", "text": "Supply", "at": [0, 0, 3, 1] },
    { "id": 101, "kind": "label", "text": "Supply &voltage", "in": 100, "at": [0, 0] },
    { "id": 102, "kind": "edit", "in": 100, "at": [0, 1] },
    { "id": 103, "kind": "unit", "in": 100, "at": [0, 2] },
    { "id": 104, "kind": "check", "text": "&Brake", "in": 100, "at": [1, 0, 1, 3] },
    { "id": 105, "kind": "radio", "text": "Rotary", "in": 100, "at": [2, 0] },
    { "id": 106, "kind": "radio", "text": "Linear", "in": 100, "at": [2, 1] },
    { "id": 107, "kind": "slider", "in": 100, "at": [3, 0, 1, 2] },
    { "id": 108, "kind": "edit", "in": 100, "at": [3, 2], "width": 6 },
    { "id": 110, "kind": "tab", "at": [3, 0] },
    { "id": 112, "kind": "label", "text": "-", "in": 110, "page": 0, "at": [0, 0], "width": 20 },
    { "id": 111, "kind": "combo", "in": 110, "page": 1, "at": [0, 0] },
    { "id": 120, "kind": "button", "text": "Start", "at": [2, 1] },
    { "id": 121, "kind": "edit", "hidden": true, "at": [4, 0] },
    { "id": 122, "kind": "button", "text": "Locked", "disabled": true, "at": [3, 1] },
    { "id": 130, "kind": "plot", "at": [5, 0], "lines": 8 },
    { "id": 1, "kind": "button", "text": "OK", "at": [0, 1] },
    { "id": 2, "kind": "button", "text": "Cancel", "at": [1, 1] }
  ] })";

class TestDialog : public CMC_EditSetupDlg {
 public:
  explicit TestDialog(CMC_Setup* setup) : CMC_EditSetupDlg(setup, kDialogId, 1) {
    AddParameterControls("Vdc", 102, 103);
    AddCheckParameterControls("Brake", 104);
    AddSwitchParameterControls("MotorType", 105, 106);
    AddSliderParameterControls("Kp", 107, 108, 0, 0, 0, 10);
  }
  bool OnInitDialog() override {
    CMC_EditSetupDlg::OnInitDialog();
    m_speeds.Attach(this, 111);
    m_speeds.AddString("slow");
    m_speeds.AddString("fast");
    m_speeds.SetCurSel(0);
    axcore::PlotDocument& plot = *GetPlot(130);
    for (const char* name : {"a", "b"}) {
      axcore::PlotCurve& curve = plot.AddCurve(name);
      curve.x = {0, 1};
      curve.y = {0, 1};
    }
    RefreshPlot(130);
    return true;
  }
  // The plot has the host's scope menu.
  bool OnContextMenu(int id) override {
    if (id != 130) return false;
    SetChildText(112, "menu " + std::to_string(TrackHostMenu(axcore::kScopeMenuResource, axcore::kScopeSubmenu)));
    return true;
  }
  void OnControlMessage(int id, unsigned message, std::uintptr_t, std::intptr_t lParam) override {
    char text[64];
    std::snprintf(text, sizeof text, "message %d 0x%X 0x%llX", id, message,
                  static_cast<unsigned long long>(static_cast<std::uintptr_t>(lParam)));
    SetChildText(112, text);
  }
  bool OnCommand(int id) override {
    if (id != 120) return CMC_EditSetupDlg::OnCommand(id);
    if (MessageBox("Start the test?", MB_YESNO | MB_ICONQUESTION) == IDYES) SetTimer(7, 10);
    return true;
  }
  void OnTimer(int id) override {
    KillTimer(id);
    SetChildText(112, "timer " + std::to_string(id));
  }
  void OnKeyChord(std::string_view chord) override { SetChildText(112, std::string(chord)); }
  void OnSelChange(int) override { SetChildText(112, "picked " + m_speeds.GetWindowText()); }

 private:
  CComboBox m_speeds;
};

ParameterSpec Spec(const char* name, double value, const char* unit = "", bool isInt = false) {
  ParameterSpec spec;
  spec.name = name;
  spec.unit = unit;
  spec.value = value;
  spec.isInt = isInt;
  return spec;
}

std::unique_ptr<CMC_Setup> MakeSetup() {
  auto setup = std::make_unique<CMC_Setup>();
  ParameterSpec vdc = Spec("Vdc", 48, "V");
  vdc.min = 0;
  vdc.max = 100;
  setup->AddParameter(vdc);
  setup->AddParameter(Spec("Brake", 0, "", true));
  setup->AddParameter(Spec("MotorType", 0, "", true));
  ParameterSpec kp = Spec("Kp", 20);
  kp.min = 0;
  kp.max = 100;
  setup->AddParameter(kp);
  return setup;
}

struct ScriptRun {
  int result = 0;
  std::string output;
  std::string failure;
  std::string values;  // each parameter: name, value, shown unit
};

class QtPlatformTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No display on the test machines: Qt draws into memory.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    s_folder = new fs::path(fs::path(::testing::TempDir()) / "qt_platform_test");
    fs::create_directories(*s_folder / "dialogs");
    fs::create_directories(*s_folder / "runtime");
    fs::permissions(*s_folder / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("XDG_RUNTIME_DIR", (*s_folder / "runtime").c_str(), 1);
    std::ofstream(*s_folder / "dialogs" / (std::to_string(kDialogId) + ".json")) << kTemplate;
    axcore::RegisterResourceFolder(s_folder->string());
  }
  static void TearDownTestSuite() {
    axcore::WithdrawResourceFolder(s_folder->string());
    delete s_folder;
  }

  // Runs `script` on the test dialog, on the Qt platform or headless.
  static ScriptRun RunScript(const std::string& script, bool qt, const std::string& screenshots = {}) {
    std::string error;
    auto lines = axcore::ParseScript(script, error);
    EXPECT_TRUE(lines) << error;
    std::ostringstream out;
    axcore::ScriptedUser user(std::move(*lines), out);
    std::unique_ptr<axcore::Platform> platform =
        qt ? axhost::MakeQtPlatform(&user, screenshots) : std::make_unique<axcore::HeadlessPlatform>(&user);
    axcore::InstallPlatform(platform.get());
    auto setup = MakeSetup();
    ScriptRun run;
    {
      TestDialog dialog(setup.get());
      run.result = dialog.DoModal();
    }
    axcore::InstallPlatform(nullptr);
    run.output = out.str();
    run.failure = user.Failure();
    for (const auto& p : setup->Parameters())
      run.values +=
          p->GetName() + "=" + std::to_string(p->GetValueInBaseUnit()) + " " + p->GetShownUnit().GetName() + "\n";
    return run;
  }

  static fs::path* s_folder;
};

fs::path* QtPlatformTest::s_folder = nullptr;

TEST_F(QtPlatformTest, AScriptMeansTheSameOnTheWidgetsAsHeadless) {
  struct Case {
    const char* name;
    const char* script;
    int result;
    const char* expected;  // in the output, or the failure when it starts with "line"
  };
  const Case cases[] = {
      {"every kind of input, then OK",
       "type 102 36\nunit 103 mV\ncheck 104 1\ncheck 104 1\nradio 106\nslide 107 4\ntab 110 1\n"
       "select 111 fast\nkey ctrl+alt+shift+D\ndump\nclick 1\n",
       IDOK, "112 label shown=1 enabled=1 checked=0 \"ctrl+alt+shift+d\""},
      {"clicks toggle a check box and set a radio",
       "click 104\nclick 105\ntype 102 abc\ndump 102 104 105 106\nclick 2\n", IDCANCEL,
       "104 check shown=1 enabled=1 checked=1"},
      {"a message box answered, its timer fires", "answer yes\nclick 120\nwait 200\ndump 112\nclick 1\n", IDOK,
       "\"timer 7\""},
      {"an unanswered message box takes its default", "click 120\nwait 100\ndump 112\nclick 2\n", IDCANCEL,
       "by default"},
      {"a disabled control", "type 102 40\nclick 122\n", IDCANCEL, "line 2: "},
      {"a hidden control", "type 121 5\n", IDCANCEL, "line 1: "},
      {"an item the list does not have", "select 111 medium\n", IDCANCEL, "line 1: "},
      {"a slider beyond its range", "slide 107 11\n", IDCANCEL, "line 1: "},
      {"an answer the message does not offer", "answer ok\nclick 120\n", IDCANCEL, "line 1: "},
      {"the script ends with the dialog open", "tab 110 1\n", IDCANCEL, "the script ended"},
      {"a right click on the plot opens its menu", "menu 130 10064\ndump 112\nclick 1\n", IDOK, "\"menu 10064\""},
      {"a menu dismissed", "menu 130 0\ndump 112\nclick 1\n", IDOK, "\"menu 0\""},
      {"a right click where the dialog has no menu", "menu 120 10064\n", IDCANCEL, "line 1: "},
      {"a plot's message", "message 130 0x467 0xFFFF0002\ndump 112\nclick 1\n", IDOK,
       "\"message 130 0x467 0xFFFF0002\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScriptRun headless = RunScript(c.script, false);
    const ScriptRun qt = RunScript(c.script, true);
    EXPECT_EQ(qt.output, headless.output);
    EXPECT_EQ(qt.failure, headless.failure);
    EXPECT_EQ(qt.values, headless.values);
    EXPECT_EQ(qt.result, c.result);
    EXPECT_EQ(headless.result, c.result);
    const std::string expected = c.expected;
    if (expected.starts_with("line") || expected.starts_with("the script"))
      EXPECT_TRUE(headless.failure.starts_with(expected)) << headless.failure;
    else
      EXPECT_NE(headless.output.find(expected), std::string::npos) << headless.output;
  }
  // The first case changed every bound parameter.
  EXPECT_EQ(RunScript(cases[0].script, true).values,
            "Vdc=36.000000 mV\nBrake=1.000000 \nMotorType=1.000000 \nKp=40.000000 \n");
}

// The wheel over a plot sends the dialog the wheel message for the curve
// picked, two notches towards the user -2 in the high word.
TEST_F(QtPlatformTest, TheWheelOverAPlotRescalesThePickedCurve) {
  struct Case {
    int delta;  // eighths of a degree, in steps of 60 (half notches)
    int curve;
    const char* shown;
  };
  const Case cases[] = {{-240, 1, "\"message 130 0x467 0xFFFE0001\""},
                        {120, 2, "\"message 130 0x467 0x10002\""},
                        {60, 2, "\"-\""}};  // half a notch: nothing yet
  // One application for the timer set here and the platform's dialogs.
  int argc = 1;
  char name[] = "qt_tests";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  for (const Case& c : cases) {
    QTimer::singleShot(50, [&c] {
      for (auto* plot : QApplication::allWidgets()) {
        auto* view = dynamic_cast<axhost::QtPlotView*>(plot);
        if (view == nullptr || !view->isVisible()) continue;
        view->PickWheelCurve(c.curve);
        const QPointF at(view->viewport()->width() / 2.0, view->viewport()->height() / 2.0);
        QWheelEvent wheel(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, c.delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &wheel);
      }
    });
    const ScriptRun run = RunScript("wait 300\ndump 112\nclick 1\n", true);
    EXPECT_NE(run.output.find(c.shown), std::string::npos) << c.delta << "\n" << run.output;
  }
}

TEST_F(QtPlatformTest, ADialogShownFirstIsSavedAsAPicture) {
  const fs::path folder = *s_folder / "screenshots";
  fs::remove_all(folder);
  RunScript("click 2\n", true, folder.string());
  const QImage picture(QString::fromStdString((folder / (std::to_string(kDialogId) + ".png")).string()));
  ASSERT_FALSE(picture.isNull());
  EXPECT_GT(picture.width(), 200);
  EXPECT_GT(picture.height(), 100);
}

TEST_F(QtPlatformTest, ClosingTheWindowPressesCancel) {
  auto platform = axhost::MakeQtPlatform(nullptr, {});
  axcore::InstallPlatform(platform.get());
  auto setup = MakeSetup();
  TestDialog dialog(setup.get());
  QTimer::singleShot(0, [] {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window->isVisible()) window->close();
  });
  // Should the close not reach the dialog, this ends it after a while.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&dialog] { dialog.EndDialog(99); });
  guard.start(5000);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  axcore::InstallPlatform(nullptr);
}

TEST(QtDialogViewTest, LabelsShowDoubledAmpersandsOnceAndHideMnemonicMarks) {
  const std::pair<const char*, const char*> cases[] = {{"Motor && Drive", "Motor & Drive"},
                                                       {"&Brake", "Brake"},
                                                       {"Temp. 20 \xC2\xB0"
                                                        "C &&",
                                                        "Temp. 20 \xC2\xB0"
                                                        "C &"},
                                                       {"trailing &", "trailing &"}};
  for (const auto& [text, shown] : cases) EXPECT_EQ(axhost::LabelText(text).toStdString(), shown) << text;
}

}  // namespace
