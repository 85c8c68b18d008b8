// The resistance and inductance test through its dialog on the virtual
// drive: what it identifies on star and delta windings of 0.5 to 36 ohm and
// 0.5 to 36 mH, the question on closing, and the runs it refuses to store.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "../dialogs/MotorSetupRun.h"
#include "DriveTestRun.h"
#include "MotorSetupDlg.h"
#include "Scales.h"
#include "TestRL.h"

namespace {

using drivetest_testing::DrivePreparation;
using drivetest_testing::RunTest;
using virtualdrive::Connection;
using virtualdrive::PlantParameters;

constexpr const char* kRun = "click 10000\nuntil-idle\n";

// The dialog as the Motor Setup opens it, noting the supply voltage the
// setup holds when the user closes it (the measured one, until the dialog
// puts the old one back).
class WatchedRL : public CTestRL {
 public:
  using CTestRL::CTestRL;
  void OnCancel() override {
    vdcAtClose = Setup().GetParameterValueInBaseUnit("Vdc");
    CTestRL::OnCancel();
  }
  double vdcAtClose = 0.0;
};

// The drive link as the test sees it, with the logs it uploads edited.
class EditedLogLink : public DriveLink {
 public:
  // Edits the points of upload `n` (1, 2, ...).
  std::function<void(int n, std::vector<std::vector<double>>& points)> edit;
  DriveLink* drive = nullptr;

  bool ReadVariable(std::string_view name, double& value, std::string& error) override {
    return drive->ReadVariable(name, value, error);
  }
  bool WriteVariable(std::string_view name, double value, std::string& error) override {
    return drive->WriteVariable(name, value, error);
  }
  bool WriteRegister(std::string_view name, double value, std::string& error) override {
    return drive->WriteRegister(name, value, error);
  }
  bool SetProgramVariable(std::string_view program, std::string_view name, double value,
                          std::string& error) override {
    return drive->SetProgramVariable(program, name, value, error);
  }
  bool GetProgramVariable(std::string_view program, std::string_view name, double& value,
                          std::string& error) override {
    return drive->GetProgramVariable(program, name, value, error);
  }
  bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) override {
    return drive->StartProgram(program, logger, error);
  }
  bool StopProgram(std::string& error) override { return drive->StopProgram(error); }
  bool GetAxisOn(bool& on, std::string& error) override { return drive->GetAxisOn(on, error); }
  bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) override {
    if (!drive->UploadLog(points, error)) return false;
    if (edit) edit(++m_uploads, points);
    return true;
  }
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) override {
    return drive->TakeUnsolicitedMessages(messages, error);
  }

 private:
  int m_uploads = 0;
};

drivetest_testing::TestRun<WatchedRL> RunRL(CMC_Setup& setup, const std::string& script,
                                          const PlantParameters& plant = virtualdrive::ExamplePlant(),
                                          EditedLogLink* link = nullptr, const DrivePreparation& prepare = {}) {
  return RunTest<WatchedRL>(
      setup, script,
      [link](CMC_Setup& s) {
        if (link != nullptr) {
          link->drive = CMC_Comm::GetLink();
          CMC_Comm::SetLink(link);
        }
        return std::make_unique<WatchedRL>(&s);
      },
      plant, prepare);
}

// The inductance run turns the voltage 1/32 of a turn each current-loop
// period. Its rotating field shakes the mover: the mover's speed lags the
// force by 90 degrees, so its back-EMF, 2/3 Kf v on the axis across the
// magnets, looks like an inductance of -(2/3) Kf^2 / (w^2 m) on that axis
// and half of it on a vector turning through both axes. The method reads
// L less Kf^2 / (3 w^2 m) per phase of the star (three times that for a
// delta's winding): 2.2e-5 H for the example motor, a few per cent of the
// smallest windings below.
double MoverInductance_H(const PlantParameters& plant, double period_s) {
  const double w = 2.0 * std::numbers::pi / (32.0 * period_s);
  const double star = plant.force_constant_N_per_A * plant.force_constant_N_per_A / (3.0 * w * w * plant.moving_mass_kg);
  return plant.connection == Connection::Delta ? 3.0 * star : star;
}

TEST(TestRLTest, IdentifiesStarAndDeltaWindingsAndTheSupply) {
  struct Case {
    Connection connection;
    double r_ohm, l_H;  // of one winding
    double setupFactor;  // the setup's R is this much off, its L the inverse
  } cases[] = {
      {Connection::Star, 4.45, 3.8e-3, 0.5},  {Connection::Star, 0.5, 0.5e-3, 2.0},
      {Connection::Star, 0.5, 12e-3, 0.6},    {Connection::Star, 12.0, 12e-3, 1.8},
      {Connection::Star, 12.0, 3.8e-3, 0.7},  {Connection::Delta, 1.5, 1.5e-3, 1.5},
      {Connection::Delta, 13.35, 11.4e-3, 0.8}, {Connection::Delta, 36.0, 36e-3, 1.3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.r_ohm) + " ohm " + std::to_string(c.l_H * 1e3) + " mH" +
                 (c.connection == Connection::Delta ? " delta" : " star"));
    auto setup = drivetest_testing::ExampleSetup();
    setup->SetParameterValueInBaseUnit("R", c.r_ohm * c.setupFactor);
    setup->SetParameterValueInBaseUnit("L", c.l_H / c.setupFactor);
    setup->SetParameterValueInBaseUnit("MotorPhaseConnectionType", c.connection == Connection::Delta ? 1 : 0);
    PlantParameters plant = virtualdrive::ExamplePlant();
    plant.connection = c.connection;
    plant.phase_resistance_ohm = c.r_ohm;
    plant.phase_inductance_H = c.l_H;
    const double expectedL = c.l_H - MoverInductance_H(plant, CurrentLoopPeriod(*setup));
    auto run = RunRL(*setup, std::string(kRun) + "answer yes\nclick 2\n", plant);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.dialog->GetErrorText(), "");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.boxes.size(), 1u);
    EXPECT_NEAR(setup->GetParameterValueInBaseUnit("R"), c.r_ohm, 0.01 * c.r_ohm);
    EXPECT_NEAR(setup->GetParameterValueInBaseUnit("L"), expectedL, 0.02 * c.l_H);
    EXPECT_NEAR(run.dialog->vdcAtClose, plant.vdc_V, 0.005 * plant.vdc_V);
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
  }
}

TEST(TestRLTest, OnClosingYesKeepsNoRestoresCancelStays) {
  const struct Case {
    const char* script;
    int result;
    bool kept;
    std::size_t questions;
  } cases[] = {
      {"answer yes\nclick 2\n", 1, true, 1},
      {"answer no\nclick 2\n", 2, false, 1},
      {"answer cancel\nclick 2\nanswer no\nclick 2\n", 2, false, 2},
  };
  const std::string question =
      "A different value than specified has been detected for the following parameter(s):\r\n\r\n"
      "Phase resistance:\tOld = 4.2\tNew = 4.4";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    auto setup = drivetest_testing::ExampleSetup();
    auto run = RunRL(*setup, std::string(kRun) + c.script);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, c.result);
    ASSERT_EQ(run.boxes.size(), c.questions);
    const std::string& text = run.boxes[0].text;
    EXPECT_EQ(text.substr(0, question.size()), question);
    EXPECT_NE(text.find("\r\nPhase inductance:\tOld = 0.0035\tNew = 0.003"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\nDo you want to save the new value(s)? (Recommended)"), std::string::npos);
    EXPECT_EQ(run.boxes[0].style, 0x23u);
    const double r = setup->GetParameterValueInBaseUnit("R"), l = setup->GetParameterValueInBaseUnit("L");
    if (c.kept) {
      EXPECT_NEAR(r, 4.45, 0.01 * 4.45);
      EXPECT_NEAR(l, 3.8e-3, 0.02 * 3.8e-3);
    } else {
      EXPECT_EQ(r, 4.2);
      EXPECT_EQ(l, 3.5e-3);
    }
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
  }
}

// Yes hands the new values to the Motor Setup, which shows them at once.
class MotorSetupWithDrive : public motor_testing::MotorDatabaseFolder {};

TEST_F(MotorSetupWithDrive, TheMotorSetupShowsTheValuesKept) {
  auto setup = drivetest_testing::ExampleSetup();
  auto run = RunTest<CMotorSetupDialog>(*setup, std::string("click 1177\n") + kRun + "answer yes\nclick 2\nclick 2\n",
                                        [](CMC_Setup& s) { return std::make_unique<CMotorSetupDialog>(&s); });
  ASSERT_EQ(run.failure, "");
  const double r = setup->GetParameterValueInBaseUnit("R"), l = setup->GetParameterValueInBaseUnit("L");
  EXPECT_NEAR(r, 4.45, 0.01 * 4.45);
  EXPECT_EQ(run.Text(1168), FormatFieldValue(r));
  EXPECT_EQ(run.Text(1170), FormatFieldValue(l * 1e3));  // shown in mH
}

// A run whose numbers cannot give R or L (an empty log, two equal
// currents) fails with the internal error, as a wiring fault fails with its
// own; nothing is stored, nothing asked, the supply voltage comes back.
TEST(TestRLTest, ARunThatCannotGiveAResultStoresNothing) {
  const auto setColumn = [](double value) {
    return [value](std::vector<std::vector<double>>& points) {
      for (auto& point : points) point.at(1) = value;
    };
  };
  const struct Case {
    const char* what;
    std::function<void(int, std::vector<std::vector<double>>&)> edit;
    DrivePreparation prepare;
    const char* error;
    bool vdcMeasured;  // the failure came after the supply was measured
  } cases[] = {
      {"empty log of the first resistance run",
       [](int n, auto& points) {
         if (n == 1) points.clear();
       },
       {}, CMC_TestDlg::msc_pszErrInternal, false},
      {"the same current in both resistance runs",
       [setColumn](int n, auto& points) {
         if (n <= 2) setColumn(2000.0)(points);
       },
       {}, CMC_TestDlg::msc_pszErrInternal, true},
      {"empty log of the inductance run",
       [](int n, auto& points) {
         if (n == 3) points.clear();
       },
       {}, CMC_TestDlg::msc_pszErrInternal, true},
      {"no current in the inductance run",
       [](int n, auto& points) {
         if (n == 3)
           for (auto& point : points) point.at(1) = point.at(2) = 0.0;
       },
       {}, CMC_TestDlg::msc_pszErrInternal, true},
      {"lead A open", {}, [](virtualdrive::VirtualDrive& d) { d.InjectOpenPhase(0); }, CMC_TestDlg::msc_pszErrInZero,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = drivetest_testing::ExampleSetup();
    EditedLogLink link;
    link.edit = c.edit;
    auto run = RunRL(*setup, std::string(kRun) + "click 2\n", virtualdrive::ExamplePlant(), &link, c.prepare);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.dialog->GetTestResult(), 0);
    EXPECT_EQ(run.dialog->GetErrorText(), c.error);
    EXPECT_EQ(run.result, 2);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("R"), 4.2);
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("L"), 3.5e-3);
    EXPECT_EQ(run.dialog->vdcAtClose != 48.0, c.vdcMeasured);
    EXPECT_EQ(setup->GetParameterValueInBaseUnit("Vdc"), 48.0);
  }
}

}  // namespace
