// The plug-in's face to the host: functions exported by their plain names,
// and the application object that brings the module's resources into the
// host. Nothing else is visible from the module (see exports.map). No
// exception may cross this boundary: the host is not ours to unwind.
#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "../dialogs/DriveSetupDlg.h"
#include "../model/CodecDrivers.h"
#include "../model/Limits.h"
#include "../model/ScaleFactor.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"

#define QTX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Runs one stage; whatever it reports or throws, the next stage still runs.
template <typename Stage>
void RunStage(Stage stage, CMC_Setup& setup) noexcept {
  try {
    stage(setup);
  } catch (...) {
    // The stage left what it had written; the host gets no word of it, as of
    // any other stage that could not finish.
  }
}

}  // namespace

// The module's application object. The dialogs are built from the templates,
// strings, images and manual in the "resources" folder beside the module;
// the host finds them once the folder is registered, from load to unload.
class CQtxApp {
 public:
  CQtxApp() noexcept {
    try {
      m_folder = ResourceFolderOf(this);
      if (!m_folder.empty()) axcore::RegisterResourceFolder(m_folder);
    } catch (...) {
      // Without its resources the module still converts; its dialogs then
      // cannot be built and EditSetup gives 0.
      m_folder.clear();
    }
  }
  ~CQtxApp() {
    if (!m_folder.empty()) axcore::WithdrawResourceFolder(m_folder);
  }
  CQtxApp(const CQtxApp&) = delete;
  CQtxApp& operator=(const CQtxApp&) = delete;

 private:
  // "<directory of the loaded module>/resources", from any address inside it.
  static std::string ResourceFolderOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code error;
    std::filesystem::path module = std::filesystem::absolute(info.dli_fname, error);
    if (error) module = info.dli_fname;
    return (module.parent_path() / "resources").string();
  }

  std::string m_folder;
};

CQtxApp theApp;

// Derives the whole setup from the drive's registers: the user parameters,
// the ranges of the dependent ones, the options naming the closed loops and
// the load's units. The stages run in this order because each reads what the
// one before wrote: the limits and options read the decoded "ControlMode",
// "Limit_Speed" and the analogue reference values.
QTX_EXPORT void ComputeAllOptions(CMC_Setup* setup) {
  if (setup == nullptr) return;
  RunStage(DecodeRegisters, *setup);
  RunStage(SetParameterLimits, *setup);
  RunStage(SetControlStructureOptions, *setup);
  RunStage(SwitchUnitTypes, *setup);
}

// Runs the Drive Setup dialog modally on the setup: 1 when the user closed
// it with OK, else 0 (Cancel, or the dialog could not be built). The dialog
// keeps registers and user parameters in step itself while it runs.
QTX_EXPORT int EditSetup(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  try {
    CDriveSetupDlg dialog(setup);
    return dialog.DoModal() == 1 ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

QTX_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unit, const char* name) {
  if (setup == nullptr) return 1.0;
  try {
    return ComputeScaleFactor(*setup, unit, name);
  } catch (...) {
    return 1.0;
  }
}

QTX_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unit) {
  if (setup == nullptr) return 0.0;
  try {
    return ComputeScaleOffset(*setup, unit);
  } catch (...) {
    return 0.0;
  }
}
