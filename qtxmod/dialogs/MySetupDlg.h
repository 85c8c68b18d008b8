// The base of every setup dialog of the plug-in.
//
// The host base binds the controls to the setup document and stores each
// change at once. This base adds what the drive needs on top: a controller
// gain is held by the drive as a 15-bit mantissa and a power-of-two shift,
// so the moment the user changes a gain its registers are encoded and the
// gain decoded from them again; the dialog then shows the gain the drive
// will really run with. The motor's pole pitch and nominal currents bound
// other parameters and re-set those bounds when they change.
#pragma once

#include <utility>

#include "axcore/EditSetupDlg.h"

class CMC_Setup;

class CMySetupDlg : public CMC_EditSetupDlg {
 public:
  // Passed unchanged to the host base. Every dialog of the plug-in passes
  // flag 1 and no parent (the host centres and parents its dialogs itself);
  // `guidelines` is the guideline assistant's step list, ended by a null
  // entry, for the two dialogs that have one.
  CMySetupDlg(CMC_Setup* setup, int resourceId, int flag, const char* const* guidelines = nullptr,
              CMC_EditSetupDlg* parent = nullptr)
      : CMC_EditSetupDlg(setup, resourceId, flag, guidelines, parent) {}

  void OnChangedParameterValue(const char* name) override;

 protected:
  // Opening a child dialog or test from a button: the whole setup is encoded
  // and decoded first so the child starts from registers and user values
  // that agree; the child runs modally on this setup; when it ends with OK
  // the registers and user values are brought into step again and this
  // dialog reloads its values and its enable and show state. Any other end
  // changes nothing here. Gives the child's result.
  template <typename Child, typename... Args>
  int RunChildDialog(Args&&... args) {
    PrepareChild();
    Child child(std::forward<Args>(args)...);
    const int result = child.DoModal();
    if (result == 1) ReloadAfterChild();
    return result;
  }

  // The two halves of RunChildDialog, for the children whose opening or
  // ending differs.
  void PrepareChild();      // EncodeRegisters, DecodeRegisters
  void ReloadAfterChild();  // EncodeRegisters, DecodeRegisters, values, enable state

  CMC_Setup& Setup() const { return *GetSetup(); }
};
