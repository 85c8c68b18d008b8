// The host's own popup menus, by menu resource and submenu, as a dialog
// opens them with CMC_EditSetupDlg::TrackHostMenu.
//
// Menu 101, submenu 0: the scope menu of a scope graph. The host lists its
// commands; the dialog that opened the menu carries out the one chosen:
//   10062 Edit...           the scope's settings (CMC_ScopeLogger::EditSettings)
//   10063 Default Settings  the dialog's own default scope settings
//   10064 Autoscale         CMC_ScopeLogger::Autoscale
//   ---
//   10065 Load Settings...  a settings file (DoPromptScopeLoggerFileName, mode 1)
//   10066 Save Settings...  to a settings file (DoPromptScopeLoggerFileName, mode 0)
//   ---
//   10067 Save Plots        CMC_Logger::SaveGraph
//   10068 Export Picture... CGraphWindow::CreateWMF
//   10069 Export Data...    CGraphFilter::ExportToASCII
#pragma once

#include <vector>

#include "axcore/Platform.h"

namespace axcore {

inline constexpr int kScopeMenuResource = 101;
inline constexpr int kScopeSubmenu = 0;
inline constexpr int kScopeMenuEdit = 10062;
inline constexpr int kScopeMenuDefaults = 10063;
inline constexpr int kScopeMenuAutoscale = 10064;
inline constexpr int kScopeMenuLoad = 10065;
inline constexpr int kScopeMenuSave = 10066;
inline constexpr int kScopeMenuSavePlots = 10067;
inline constexpr int kScopeMenuExportPicture = 10068;
inline constexpr int kScopeMenuExportData = 10069;

// Submenu `submenu` of the host's menu resource `menuResource`; null when
// the host has no such menu.
const std::vector<HostMenuItem>* FindHostMenu(int menuResource, int submenu);

}  // namespace axcore
