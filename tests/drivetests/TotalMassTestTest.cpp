// The total mass test through its dialog on the virtual drive: the mass of
// plants with friction and a gravity load, the failures a wiring fault, a
// drive error or a missing force constant give, and the question on closing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "DriveTestRun.h"
#include "TotalMassTest.h"
#include "axcore/Platform.h"

namespace {

using virtualdrive::PlantParameters;
using virtualdrive::VirtualDrive;

constexpr const char* kRun = "click 10000\nuntil-idle 20000\n";
constexpr double kOldMass = 0.5;

using Fault = std::function<void(VirtualDrive&)>;
enum class When { Before, AtLaunch, WhileRunning };

// The test as the user runs it, with a fault that may arrive once the
// positioning has passed (as the mass program starts, or at the dialog's
// first poll of it, 20 ms into the run), and the program's two outputs
// kept as the run ends.
class ObservedMassTest : public CTotalMassTest {
 public:
  ObservedMassTest(CMC_Setup* setup, VirtualDrive* const& drive, Fault fault, When when)
      : CTotalMassTest(setup), m_drive(drive), m_fault(std::move(fault)), m_when(when) {}
  void OnTimer(int id) override {
    if (m_when == When::WhileRunning) Inject();
    CTotalMassTest::OnTimer(id);
    if (m_when == When::AtLaunch) Inject();
    if (GetStep() == 4 && !IsTestRunning() && GetTestResult() == 1) {
      CMC_CoffFormat program;
      LoadProgram(program, "Total_Mass_Identification_Test");
      std::string error;
      GetUserVariableValue(program, "delta_time", deltaTime, error);
      GetUserVariableValue(program, "delta_speed", deltaSpeed, error);
    }
  }
  double deltaTime = 0.0, deltaSpeed = 0.0;

 private:
  void Inject() {
    if (!m_fault || GetStep() != 4 || m_drive == nullptr) return;
    // The drive catches up with the clock only when it is asked something.
    m_drive->AdvanceTo(axcore::CurrentPlatform().Now());
    std::exchange(m_fault, nullptr)(*m_drive);
  }
  VirtualDrive* const& m_drive;
  Fault m_fault;
  When m_when;
};

drivetest_testing::TestRun<ObservedMassTest> RunMassTest(CMC_Setup& setup, const std::string& script,
                                                         const PlantParameters& plant = virtualdrive::ExamplePlant(),
                                                         Fault fault = {}, When when = When::Before) {
  VirtualDrive* drive = nullptr;
  return drivetest_testing::RunTest<ObservedMassTest>(
      setup, script,
      [&](CMC_Setup& s) {
        return std::make_unique<ObservedMassTest>(&s, drive, when == When::Before ? nullptr : fault, when);
      },
      plant,
      [&](VirtualDrive& d) {
        drive = &d;
        if (fault && when == When::Before) fault(d);
      });
}

// The example setup with the force constant the plant really has (the mass
// follows the force constant the setup gives) and a brisk speed limit.
std::unique_ptr<CMC_Setup> SetupFor(const PlantParameters& plant) {
  auto setup = drivetest_testing::ExampleSetup();
  setup->SetParameterValueInBaseUnit("Kf", plant.force_constant_N_per_A);
  setup->SetParameterValueInBaseUnit("TestMaxSpeed", 0.5);
  return setup;
}

double Mass(const CMC_Setup& setup) { return setup.GetParameterValueInBaseUnit("Mt"); }

TEST(TotalMassTest, FindsTheMovingMassDespiteFrictionAndGravity) {
  PlantParameters example = virtualdrive::ExamplePlant();
  PlantParameters loaded = example;
  loaded.gravity_force_N = -3.0;
  loaded.viscous_friction_N_s_per_m = 15.0;
  loaded.coulomb_friction_N = 5.0;
  PlantParameters heavy = example;
  heavy.moving_mass_kg = 2.0 * example.moving_mass_kg;
  const struct {
    const char* name;
    PlantParameters plant;
  } plants[] = {{"example", example}, {"gravity and more friction", loaded}, {"double mass", heavy}};
  for (const auto& p : plants) {
    SCOPED_TRACE(p.name);
    auto setup = SetupFor(p.plant);
    auto run = RunMassTest(*setup, std::string(kRun) + "answer yes\nclick 2\n", p.plant);
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    EXPECT_EQ(run.result, 1);
    EXPECT_NEAR(Mass(*setup), p.plant.moving_mass_kg, 0.02 * p.plant.moving_mass_kg);
    // By hand, from the example's scales: 6400 counts per speed-loop period
    // per m/s (0.5 ms x 2^8 / 20 um), 3273.6 counts per ampere (65472 / 20 A),
    // 1.5 A = 4910 counts.
    const double dt = run.dialog->deltaTime, ds = run.dialog->deltaSpeed;
    EXPECT_NEAR(Mass(*setup), 6400.0 / 3273.6 * dt * 0.5e-3 * p.plant.force_constant_N_per_A / ds * 4910.0, 1e-9);
    EXPECT_EQ(run.Text(10001), "Waiting M test to be finished");
  }
}

// Each failure fails the run with its text (here its start) and leaves the
// old mass.
TEST(TotalMassTest, FaultsFailWithTheirTextAndStoreNothing) {
  const char* const reversed = "When a POSITIVE force level is applied to the motor, the measured speed is NEGATIVE.";
  const char* const noSpeed = "When trying to apply POSITIVE force to the motor, the measured speed is ZERO";
  const char* const internal = CMC_TestDlg::msc_pszErrInternal;
  auto kf = [](double value) { return [value](CMC_Setup& s) { s.SetParameterValueInBaseUnit("Kf", value); }; };
  auto mer = [](int bit) { return [bit](VirtualDrive& d) { d.InjectMerBits(1u << bit); }; };
  const struct {
    const char* what;
    std::function<void(CMC_Setup&)> setup;
    Fault fault;
    When when;
    const char* text;
  } cases[] = {
      // clang-format off
      {"reversed encoder", {}, [](VirtualDrive& d) { d.InjectReversedEncoder(true); }, When::Before, reversed},
      {"encoder cable off", {}, [](VirtualDrive& d) { d.InjectMissingEncoder(true); }, When::AtLaunch, noSpeed},
      {"no speed limit", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("TestMaxSpeed", 0.0); }, {}, When::Before,
       "The motor does not reach the programmed speed level!\nYou may have"},
      // The positioning would pass a limit switch or a control error (it
      // looks at a short circuit and the ENABLE input only); the mass run
      // does not.
      {"limit switch", {}, mer(6), When::WhileRunning, "Drive / Motor stopped due to positive limit switch"},
      {"control error", {}, mer(3), When::WhileRunning, "Drive / Motor control error protection triggered."},
      // An error without a text does not fail the check, but the drive
      // stopped the program before it measured: nothing was delivered.
      {"stopped by another error", {}, mer(4), When::WhileRunning, internal},
      {"no force constant", [](CMC_Setup& s) { s.RemoveParameter("Kf"); }, {}, When::Before, internal},
      {"zero force constant", kf(0.0), {}, When::Before, internal},
      // A negative force constant would give a negative mass.
      {"negative force constant", kf(-24.3), {}, When::Before, internal},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = SetupFor(virtualdrive::ExamplePlant());
    if (c.setup) c.setup(*setup);
    auto run = RunMassTest(*setup, std::string(kRun) + "click 2\n", virtualdrive::ExamplePlant(), c.fault, c.when);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 2);
    EXPECT_EQ(run.dialog->GetTestResult(), 0);
    const std::string& text = run.dialog->GetErrorText();
    EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
    // The timing's own variant of this text ends with a full stop.
    if (c.text == reversed) {
      EXPECT_EQ(text.back(), 't') << text;
    }
    EXPECT_EQ(run.dialog->GetStep(), 4);
    EXPECT_FALSE(run.dialog->IsTestRunning());
    EXPECT_EQ(Mass(*setup), kOldMass);
    EXPECT_TRUE(run.boxes.empty());
  }
}

TEST(TotalMassTest, AProtectionBelowTheTestCurrentStartsNothing) {
  auto setup = SetupFor(virtualdrive::ExamplePlant());
  setup->SetParameterValueInBaseUnit("TestCurrent", 2.0);
  setup->SetParameterValueInBaseUnit("TestProtectionCurrent", 1.5);
  auto run = RunMassTest(*setup, "click 10000\nwait 500\nclick 10024\nclick 2\n");
  ASSERT_EQ(run.failure, "");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, "I protection must be greater or equal to Test current.");
  EXPECT_EQ(run.dialog->GetStep(), 0);
  EXPECT_EQ(run.dialog->GetTestResult(), -1);
  ASSERT_EQ(run.help.size(), 1u);
  EXPECT_NE(run.help[0].find("help/total-mass-test.html (context 0x40111)"), std::string::npos) << run.help[0];
}

// Yes keeps the new mass, No brings the old one back, Cancel stays; a mass
// that prints as the old one with "%g" is kept without a question.
TEST(TotalMassTest, ClosingAsksToKeepADifferentMass) {
  const PlantParameters plant = virtualdrive::ExamplePlant();
  auto first = SetupFor(plant);
  ASSERT_EQ(RunMassTest(*first, std::string(kRun) + "answer yes\nclick 2\n").failure, "");
  const double identified = Mass(*first);
  const struct {
    const char* close;
    double old;
    int result;
    bool asked;
    double kept;
  } cases[] = {
      {"answer yes\nclick 2\n", kOldMass, 1, true, identified},
      {"answer no\nclick 2\n", kOldMass, 2, true, kOldMass},
      {"answer cancel\nclick 2\nanswer no\nclick 2\n", kOldMass, 2, true, kOldMass},
      {"click 2\n", identified * (1.0 + 1e-9), 2, false, identified},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.close);
    auto setup = SetupFor(plant);
    setup->SetParameterValueInBaseUnit("Mt", c.old);
    auto run = RunMassTest(*setup, std::string(kRun) + c.close);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.dialog->GetTestResult(), 1) << run.dialog->GetErrorText();
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(Mass(*setup), c.kept);
    ASSERT_EQ(run.boxes.empty(), !c.asked);
    if (!c.asked) continue;
    EXPECT_EQ(run.boxes[0].style, 0x23u);
    EXPECT_NE(run.boxes[0].text.find("\r\n\r\nTotal mass:\tOld = 0.5\tNew = 0.58"), std::string::npos)
        << run.boxes[0].text;
  }
}

}  // namespace
