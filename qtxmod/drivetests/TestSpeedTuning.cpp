#include "TestSpeedTuning.h"

#include "CodecSteps.h"
#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

namespace {

double SpeedScale(const CMC_Setup& setup) { return LoadSpeedScale(setup); }

const TuningRunNames kNames = {
    ProfileTest::Speed,
    "OnlinePlotS",
    "MultiCycleS",
    "SpeedTestReferenceType",
    "TestSpeed",
    {1320, 1321},
    SpeedScale,
    {"TaPS", "TPS", "TaNS", "TNS"},
    {"Speed_Reference", "Load_Speed"},
    {1363, 1364, 1365, 1366},
    "SpeedTuning",
    "SpeedTuningOscSettings",
    "308",
    3271,
    "1. Check/setup the test current limits and speed profile below\r\n2. Go to the \"Test\" tab and press the "
    "\"Tune\" button\r\n3. Check/identify the total mass, then set the desired passband and tune the "
    "controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test begins and displays the results\r\n6. If "
    "needed, change the controller parameters during the test, until you get satisfactory results",
};

bool Is(const char* name, const char* other) { return name != nullptr && axcore::EqualsIgnoreCase(name, other); }

}  // namespace

CTestSpeedTuning::CTestSpeedTuning(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CTuningTestRun(setup, kResourceId, kNames, parent) {
  SetProgram("Speed_Controller_Tuning_Test", {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"});
  SetTunedGains({{"Kp_S_scl", "SFTKPS", "KPS"}, {"Ki_S_scl", "SFTKIS", "KIS"}});
  AddGainSlider("Kp_S_scl", 1337, 1335, 1338, 1336);
  AddGainSlider("Ki_S_scl", 1342, 1340, 1343, 1341);
  AddGainSlider("IPSatS", 1348, 1345, 1349, 1347, 1346);
  AddGainSlider("KFFS_scl", 1354, 1352, 1355, 1353);
  AddGainSlider("KFFA_scl", 1359, 1357, 1360, 1358);
  AddGainSlider("PB_S", 1382, 1379, 1383, 1381, 1380);
  AddGainSlider("Mload_over_M", 1387, 1385, 1388, 1386);
  SetPageControls(ControlIds({{10014, 10015}, {1376, 1377}, {1301, 1301}, {1305, 1305}, {1322, 1322}, {3282, 3287},
                              {3278, 3281}, {1312, 1321}, {1326, 1331}, {1323, 1323}, {3528, 3530}, {1332, 1332}}),
                  ControlIds({{1333, 1349}, {1367, 1369}, {1350, 1360}, {1378, 1390}, {1361, 1366}, {3331, 3332},
                              {1374, 1375}, {10000, 10004}, {10016, 10017}, {1372, 1372}, {3269, 3271}, {3288, 3288},
                              {3510, 3510}, {3515, 3515}, {1391, 1391}}));
}

bool CTestSpeedTuning::SetLimitInputs() {
  return WriteCurrentInput("IlimPS_Test", "TestLimitCurrent") &&
         WriteCurrentInput("Imax_Prot_Test", "TestProtectionCurrent");
}

void CTestSpeedTuning::Tune() {
  CMC_Setup& setup = Setup();
  DesignSpeedController(setup);
  Encode({"KPS", "KIS", "SFTKPS", "SFTKIS"});
  // The gains shown are the ones the registers hold.
  RunDecodeStep(setup, "Ki_S_scl");
  RunDecodeStep(setup, "Kp_S_scl");
  WriteTunedGainsWhileRunning();
  RefreshAllParameters();
  UpdateData(false);
  ShowTunedLoop(TunedLoop::Speed);
}

bool CTestSpeedTuning::PredictLoop(int samples, SampledLoopResponse& loop, LoopTerms terms) const {
  return PredictSpeedLoop(Setup(), samples, loop, terms);
}

// The sweep starts where the reference reaches its plateau: +V rising, or
// -V falling for a profile towards negative speeds.
void CTestSpeedTuning::ScopeTrigger(double amplitude, int referenceType, double& level, int& slope) const {
  const int rising = amplitude >= 0.0 ? 1 : 0;
  if (referenceType == 1) {
    level = -amplitude;
    slope = 1 - rising;
  } else {
    level = amplitude;
    slope = rising;
  }
}

std::vector<int> CTestSpeedTuning::GainControls() const {
  return ControlIds({{1335, 1338}, {1340, 1343}, {1345, 1349}, {1357, 1360}});
}

void CTestSpeedTuning::ExchangeTestControls() {
  const CMC_Setup& setup = Setup();
  const bool usable = !IsTestRunning() || Value(Names().displaySwitch) != 0.0;
  if (HasSpeedForward(setup)) {
    const bool on = Value("ControlMode") == 1.0 && Value("PosSpd_in_FastLoop") == 0.0;
    for (int id : ControlIds({{1350, 1356}})) EnableChild(id, on);
    for (int id : ControlIds({{1357, 1360}})) EnableChild(id, on && usable);
  } else {
    for (int id : ControlIds({{1351, 1355}})) EnableChild(id, false);
  }
}

std::vector<const char*> CTestSpeedTuning::RegistersOf(const char* name) const {
  if (Is(name, "IPSatS")) return {"IMAXS"};
  if (Is(name, "KFFS_scl")) return {"SFTSFFW", "KFFS", "KFFA"};
  if (Is(name, "KFFA_scl")) return {"SFTAFFW", "SFTKFF", "KFFA"};
  return {};
}

// The acceleration feed-forward follows the mass: with the motor mass
// unknown its registers keep what they hold.
bool CTestSpeedTuning::EncodesOnChange(const char* name) const {
  return !Is(name, "KFFA_scl") || Value("isMotorMassUnknown") == 0.0;
}
