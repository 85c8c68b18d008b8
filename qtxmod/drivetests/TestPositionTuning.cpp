#include "TestPositionTuning.h"

#include <cmath>

#include "CodecSteps.h"
#include "ControllerDesign.h"
#include "FeatureProbes.h"
#include "Scales.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"

namespace {

double PositionScale(const CMC_Setup& setup) { return LoadPositionScale(setup); }

const TuningRunNames kNames = {
    ProfileTest::Position,
    "OnlinePlotP",
    "MultiCycleP",
    "PositionTestReferenceType",
    "TestPosition",
    {1501, 1502},
    PositionScale,
    {"TaPP", "TPP", "TaNP", "TNP"},
    {"Target_Position", "Load_Position"},
    {1517, 1518, 1519, 1520},
    "PositionTuning",
    "PositionTuningOscSettings",
    "309",
    3305,
    "1. Check/setup the test current limits and position profile below\r\n2. Go to the \"Test\" tab and press the "
    "\"Tune\" button\r\n3. Check/identify the total mass, then set the desired passband and tune the "
    "controller\r\n4. Press the \"Start\" button\r\n5. Wait until the test begins and displays the results\r\n6. If "
    "needed, change the controller parameters during the test, until you get satisfactory results",
};

bool Is(const char* name, const char* other) { return name != nullptr && axcore::EqualsIgnoreCase(name, other); }

}  // namespace

CTestPositionTuning::CTestPositionTuning(CMC_Setup* setup, CMC_EditSetupDlg* parent)
    : CTuningTestRun(setup, kResourceId, kNames, parent) {
  m_withSpeedLoop = Value("PositionControlType") == 1.0;
  if (m_withSpeedLoop)
    SetProgram("Position_Controller_Tuning_Test_with_SpdCtrl",
               {"Target_Position", "Load_Position", "Speed_Reference", "Load_Speed"});
  else
    SetProgram("Position_Controller_Tuning_Test_without_SpdCtrl",
               {"Target_Position", "Load_Position", "Current_Reference", "Motor_Current"});
  m_hadCurrentLimit = Has("IlimPS");
  m_openingCurrentLimit = Value("IlimPS");
  SetTunedGains({{"Kp_P_scl", "SFTKPP", "KPP"}, {"Ki_P_scl", "SFTKIP", "KIP"}, {"Kd_P_scl", "SFTKDP", "KDP"}});
  AddGainSlider("Kp_P_scl", 1337, 1335, 1338, 1336);
  AddGainSlider("Ki_P_scl", 1342, 1340, 1343, 1341);
  AddGainSlider("Kd_P_scl", 1510, 1508, 1511, 1509);
  AddGainSlider("IPSatP", 1348, 1345, 1349, 1347, 1346);
  AddGainSlider("KFFS_scl", 1354, 1352, 1355, 1353);
  AddGainSlider("KFFA_scl", 1359, 1357, 1360, 1358);
  AddGainSlider("PB_P", 1382, 1379, 1383, 1381, 1380);
  AddGainSlider("Mload_over_M", 1387, 1385, 1388, 1386);
  AddParameterControls("filter_D", 1513);
  if (m_withSpeedLoop) AddParameterControls("Limit_Speed", 1043, 1044);
  SetPageControls(ControlIds({{10014, 10015}, {1376, 1377}, {1301, 1301}, {1312, 1312}, {1305, 1305}, {1322, 1322},
                              {3282, 3287}, {3278, 3281}, {1313, 1318}, {1326, 1331}, {1500, 1502}, {1332, 1332},
                              {3407, 3407}, {1101, 1101}, {1043, 1044}, {1323, 1323}, {3528, 3530}}),
                  ControlIds({{1333, 1343}, {1507, 1511}, {1344, 1349}, {1367, 1369}, {1350, 1360}, {1378, 1390},
                              {1512, 1513}, {1361, 1362}, {1517, 1520}, {3331, 3332}, {1374, 1375}, {10000, 10004},
                              {10016, 10017}, {1372, 1372}, {3269, 3270}, {3288, 3288}, {3305, 3305}, {3510, 3510}, {3515, 3515}, {1391, 1391}}));
}

// With the speed loop the test's current limit is the drive's own, through
// "IlimPS" and the saturations it sets; without it the program limits the
// current reference itself.
bool CTestPositionTuning::SetLimitInputs() {
  CMC_Setup& setup = Setup();
  if (Value("PositionControlType") != 1.0) {
    if (m_hadCurrentLimit) setup.SetParameterValueInBaseUnit("IlimPS", Value("TestLimitCurrent"));
    return WriteCurrentInput("IlimPS_Test", "TestLimitCurrent");
  }
  if (m_hadCurrentLimit) setup.SetParameterValueInBaseUnit("IlimPS", Value("TestLimitCurrent"));
  Encode({"IMAXS", "SATS", "SATP"});
  const double limit = setup.GetParameterValueInInternalUnit("Limit_Speed");
  return WriteProgramInput(Program(), "LimitSpeed_Test", std::isfinite(limit) ? std::trunc(limit) : 0.0);
}

bool CTestPositionTuning::SetInputsAfterProfile() {
  return WriteCurrentInput("Imax_Prot_Test", "TestProtectionCurrent");
}

void CTestPositionTuning::OnCancel() {
  if (m_hadCurrentLimit && Value("IlimPS") != m_openingCurrentLimit) {
    Setup().SetParameterValueInBaseUnit("IlimPS", m_openingCurrentLimit);
    Encode({"IMAXS", "SATS", "SATP"});
  }
  CTuningTestRun::OnCancel();
}

void CTestPositionTuning::Tune() {
  CMC_Setup& setup = Setup();
  DesignPositionController(setup);
  Encode({"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"});
  RunDecodeStep(setup, "Ki_P_scl");
  RunDecodeStep(setup, "Kp_P_scl");
  RunDecodeStep(setup, "Kd_P_scl");
  WriteTunedGainsWhileRunning();
  RefreshAllParameters();
  UpdateData(false);
  ShowTunedLoop(TunedLoop::Position);
}

bool CTestPositionTuning::PredictLoop(int samples, SampledLoopResponse& loop, LoopTerms terms) const {
  return PredictPositionLoop(Setup(), samples, loop, terms);
}

// A position profile triggers short of its plateau: 95 % of the way for
// one direction, 90 % for the bidirectional one.
void CTestPositionTuning::ScopeTrigger(double amplitude, int referenceType, double& level, int& slope) const {
  if (referenceType == 1) {
    slope = amplitude < 0.0 ? 1 : 0;
    level = -0.95 * amplitude;
  } else {
    slope = amplitude >= 0.0 ? 1 : 0;
    level = (referenceType == 2 ? 0.9 : 0.95) * amplitude;
  }
}

std::vector<int> CTestPositionTuning::GainControls() const {
  return ControlIds({{1335, 1338}, {1340, 1343}, {1508, 1511}, {1345, 1349}, {1352, 1355}, {1357, 1360}});
}

void CTestPositionTuning::ExchangeTestControls() {
  const double c = Value("ControlMode"), k = Value("PositionControlType"), f = Value("PosSpd_in_FastLoop");
  for (int id : ControlIds({{3407, 3407}, {1101, 1101}, {1043, 1044}})) EnableChild(id, c == 0.0 && k == 1.0);
  const bool usable = !IsTestRunning() || Value(Names().displaySwitch) != 0.0;
  bool speed = false, acceleration = false;
  if (HasSpeedForward(Setup())) {
    speed = acceleration = f == 0.0 && c == 0.0 && (k == 0.0 || k == 1.0);
    EnableChild(1350, speed);
  } else {
    speed = c == 0.0 && k == 1.0;
    acceleration = c != 0.0 || k == 1.0 || f != 1.0;
  }
  EnableChild(1351, speed);
  EnableChild(1356, acceleration);
  for (int id : ControlIds({{1352, 1355}})) EnableChild(id, speed && usable);
  for (int id : ControlIds({{1357, 1360}})) EnableChild(id, acceleration && usable);
}

std::vector<const char*> CTestPositionTuning::RegistersOf(const char* name) const {
  if (Is(name, "filter_D")) return {"KDFP"};
  if (Is(name, "IPSatP")) return {"IMAXP"};
  if (Is(name, "KFFS_scl")) return {"SFTSFFW", "KFFS", "KFFA"};
  if (Is(name, "KFFA_scl")) return {"SFTAFFW", "SFTKFF", "KFFA"};
  return {};
}
