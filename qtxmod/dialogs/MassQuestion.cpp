#include "MassQuestion.h"

#include "axcore/Setup.h"

namespace {

constexpr int kResourceId = 3056;
constexpr int kIncreaseRadio = 3333;
constexpr int kDisregardRadio = 3334;

}  // namespace

CMassQuestion::CMassQuestion(CMC_Setup* setup) : CMySetupDlg(setup, kResourceId, 1) {}

bool CMassQuestion::OnInitDialog() {
  const bool result = CMySetupDlg::OnInitDialog();
  CheckDlgButton(kIncreaseRadio, m_selection == kIncreaseTotalMass);
  return result;
}

void CMassQuestion::DoDataExchange(bool save) {
  CMySetupDlg::DoDataExchange(save);
  if (save) return;
  EnableChild(IDOK, m_selection == kIncreaseTotalMass || m_selection == kDisregardMotorMass);
}

bool CMassQuestion::OnCommand(int id) {
  if (id == kIncreaseRadio || id == kDisregardRadio) {
    m_selection = id == kIncreaseRadio ? kIncreaseTotalMass : kDisregardMotorMass;
    UpdateData(false);
    return true;
  }
  return CMySetupDlg::OnCommand(id);
}

void CMassQuestion::OnOK() {
  CMC_Setup& setup = Setup();
  if (m_selection == kIncreaseTotalMass) {
    // 1 % above the motor mass, so that the total is never below it.
    setup.SetParameterValueInBaseUnit("Mt", setup.GetParameterValueInBaseUnit("M") * 1.01);
  } else if (m_selection == kDisregardMotorMass) {
    setup.SetParameterValueInBaseUnit("isMotorMassUnknown", 1);
  }
  CMySetupDlg::OnOK();
}
