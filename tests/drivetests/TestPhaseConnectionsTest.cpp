// The phase connection test through its dialog on the virtual drive: the
// verdict on sound, open, unbalanced and crossed wiring, the currents and
// bars it shows, and the bounds of its verdict.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "DriveTestRun.h"
#include "TestPhaseConnections.h"

namespace {

using drivetest_testing::DrivePreparation;
using drivetest_testing::RunTest;
using virtualdrive::Connection;
using virtualdrive::PlantParameters;

const char* const kFailure =
    "Possible causes of failure:\n\t- one of the motor phases is disconnected\n\t- the motor phases are unbalanced "
    "(they do not have the same resistance)\n\t- the test current isn't high enough.\nPlease check the motor phase "
    "connections to the drive and repeat the test. If the test fails and the connections are OK, increase the test "
    "current value.";

TEST(TestPhaseConnectionsTest, PassesASoundWindingAndFailsAFaultyOne) {
  const auto open = [](int lead) { return [lead](virtualdrive::VirtualDrive& d) { d.InjectOpenPhase(lead); }; };
  const struct Case {
    const char* wiring;
    Connection connection = Connection::Star;
    std::array<double, 3> resistanceScale = {1, 1, 1};
    DrivePreparation prepare = {};
    const char* error = "";  // "" when it passes
    const char* typed = nullptr;  // a test current typed before Start, A
  } cases[] = {
      {"star"},
      {"delta", Connection::Delta},
      {"star at 2 A", Connection::Star, {1, 1, 1}, {}, "", "2"},
      {"phase B a tenth more resistance", Connection::Star, {1, 1.1, 1}},
      {"phase B three times the resistance", Connection::Star, {1, 3, 1}, {}, kFailure},
      {"delta, winding A-B four times the resistance", Connection::Delta, {4, 1, 1}, {}, kFailure},
      {"lead B open", Connection::Star, {1, 1, 1}, open(1), kFailure},
      {"lead C open", Connection::Star, {1, 1, 1}, open(2), kFailure},
      // No current along phase A: the positioning already finds none.
      {"lead A open", Connection::Star, {1, 1, 1}, open(0), CMC_TestDlg::msc_pszErrInZero},
      {"phases A and B crossed", Connection::Star, {1, 1, 1},
       [](virtualdrive::VirtualDrive& d) { d.InjectSwappedPhases(true); }, kFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wiring);
    auto setup = drivetest_testing::ExampleSetup();
    PlantParameters plant = virtualdrive::ExamplePlant();
    plant.connection = c.connection;
    plant.phase_resistance_scale = c.resistanceScale;
    const std::string typed = c.typed != nullptr ? std::string("type 1005 ") + c.typed + "\n" : "";
    auto run = RunTest<CTestPhaseConnections>(*setup, typed + "click 10000\nuntil-idle\nclick 2\n", plant, c.prepare);
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.result, 2);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.dialog->GetErrorText(), c.error);
    EXPECT_EQ(run.dialog->GetTestResult(), *c.error == '\0' ? 1 : 0);
    // 1.5 A (or 2 A) in converter counts, truncated, and back in amperes.
    const double itest = (c.typed != nullptr ? 6547.0 : 4910.0) / 3273.6;
    const axcore::PlotGauge& barA = run.dialog->GetPlot(1021)->Gauge();
    EXPECT_DOUBLE_EQ(barA.lo, -1.5 * itest);
    EXPECT_DOUBLE_EQ(barA.hi, 1.5 * itest);
    if (*c.error != '\0') continue;
    const double ia = std::stod(run.Text(1020)), ib = std::stod(run.Text(1022));
    EXPECT_NEAR(ia, itest, 0.05 * itest);
    EXPECT_NEAR(ib, -ia / 2, 0.1 * ia);
    EXPECT_EQ(barA.value, ia);
    EXPECT_EQ(run.dialog->GetPlot(1023)->Gauge().value, ib);
    EXPECT_EQ(run.Text(10001), "Finished test");
  }
}

TEST(TestPhaseConnectionsTest, TheVerdictsBoundsAreStrict) {
  const struct {
    double ia, ib, itest;
    bool sound;
  } cases[] = {
      {2.0, -1.0, 2.0, true},   {1.5, 0.0, 2.0, false},  {1.5, -1.0, 2.0, false},  // ratio 1.5
      {2.5, -1.0, 2.0, false},  {1.2, -0.6, 2.0, false},  {2.8, -1.4, 2.0, false},  // IA 0.6 and 1.4 Itest
      {-2.0, 1.0, 2.0, false},  {2.0, 1.0, 2.0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CTestPhaseConnections::CurrentsSound(c.ia, c.ib, c.itest), c.sound) << c.ia << " " << c.ib;
}

}  // namespace
