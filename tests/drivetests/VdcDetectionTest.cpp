// The supply voltage test through its dialog on the virtual drive, and the
// failure paths every drive test shares, reached with injected faults.
#include <gtest/gtest.h>

#include "DriveTestRun.h"
#include "TestVdcDetection.h"

namespace {

using drivetest_testing::RunTest;

constexpr const char* kRun = "click 10000\nuntil-idle 5000\n";

TEST(VdcDetectionTest, MeasuresTheSupplyAndKeepsItOnlyWhenTheUserSaysYes) {
  struct Case {
    const char* answer;
    int result;
    bool kept;
  } cases[] = {{"yes", 1, true}, {"no", 2, false}, {"cancel", 2, false}};
  for (const Case& c : cases) {
    auto setup = drivetest_testing::ExampleSetup();
    const double old = setup->GetParameterValueInBaseUnit("Vdc");
    // Cancel keeps the dialog open; the second Close asks again and No ends it.
    const std::string script = std::string(kRun) + "answer " + c.answer + "\nclick 2\n" +
                               (std::string(c.answer) == "cancel" ? "answer no\nclick 2\n" : "");
    auto run = RunTest<CTestVdcDetection>(*setup, script);
    SCOPED_TRACE(c.answer);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    const double truth = run.drive->GetPlant().Parameters().vdc_V;
    const double vdc = setup->GetParameterValueInBaseUnit("Vdc");
    if (c.kept)
      EXPECT_NEAR(vdc, truth, 0.005 * truth);
    else
      EXPECT_EQ(vdc, old);
    ASSERT_FALSE(run.boxes.empty());
    EXPECT_NE(run.boxes[0].text.find("\r\n\r\nPower supply:\tOld = 48\tNew = 47."), std::string::npos);
    EXPECT_EQ(run.boxes[0].style, 0x23u);
    EXPECT_EQ(run.Text(10001), "Running test");
    EXPECT_EQ(run.dialog->GetStep(), 2);
  }
}

// Every failure ends the run with its text, stores nothing and leaves no
// timer polling.
TEST(DriveTestProtocolTest, EachInjectedFaultEndsTheTestWithItsText) {
  struct Case {
    const char* what;
    drivetest_testing::DrivePreparation prepare;
    const char* text;  // the start of the error text
    bool passes = false;
  } cases[] = {
      {"lost link", [](virtualdrive::VirtualDrive& d) { d.InjectLostLink(true); }, CMC_TestDlg::msc_pszErrInternal},
      {"refused program", [](virtualdrive::VirtualDrive& d) { d.InjectRefusedProgramLoad(true); },
       CMC_TestDlg::msc_pszErrInternal},
      {"short circuit", [](virtualdrive::VirtualDrive& d) { d.InjectMerBits(1u << 1); },
       "Drive / Motor shortcircuit protection triggered."},
      {"short circuit and disabled",
       [](virtualdrive::VirtualDrive& d) { d.InjectMerBits((1u << 1) | (1u << 15)); },
       "Drive / Motor shortcircuit protection triggered."},
      // This test measures with the power stage off: a disabled drive, a
      // control error or a limit switch do not stop it.
      {"disabled", [](virtualdrive::VirtualDrive& d) { d.InjectMerBits(1u << 15); }, "", true},
      {"control error", [](virtualdrive::VirtualDrive& d) { d.InjectMerBits(1u << 3); }, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    auto run = RunTest<CTestVdcDetection>(*setup, std::string(kRun) + "answer no\nclick 2\n",
                                          virtualdrive::ExamplePlant(), c.prepare);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(run.dialog->GetTestResult(), c.passes ? 1 : 0);
    EXPECT_EQ(run.dialog->GetErrorText().rfind(c.text, 0), 0u) << run.dialog->GetErrorText();
    EXPECT_FALSE(run.dialog->IsTestRunning());
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
  }
}

TEST(DriveTestProtocolTest, AMissingDriveVariableIsAnInternalError) {
  auto setup = drivetest_testing::ExampleSetup();
  setup->RemoveVariable("var_u2");
  auto run = RunTest<CTestVdcDetection>(*setup, std::string(kRun) + "click 2\n");
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.dialog->GetErrorText(), CMC_TestDlg::msc_pszErrInternal);
  EXPECT_EQ(run.Text(10002).rfind("Test failed.", 0), 0u);
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
}

TEST(DriveTestProtocolTest, OpeningATestClearsTheStartUpMotionCheck) {
  auto setup = drivetest_testing::ExampleSetup();
  ParameterSpec spec;
  spec.name = "ABSTART_MINMOVE";
  spec.value = 12;
  setup->AddParameter(spec);
  auto run = RunTest<CTestVdcDetection>(*setup, "click 10024\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(setup->GetParameterValueInBaseUnit("ABSTART_MINMOVE"), 0.0);
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("(context 0x40105)"), std::string::npos) << run.help[0];
}

}  // namespace
