#include "axcore/HostMenu.h"

#include <utility>

namespace axcore {
namespace {

struct HostMenu {
  int resource;
  int submenu;
  std::vector<HostMenuItem> items;
};

const std::vector<HostMenu>& Menus() {
  static const std::vector<HostMenu> menus = {
      {kScopeMenuResource,
       kScopeSubmenu,
       {{kScopeMenuEdit, "&Edit..."},
        {kScopeMenuDefaults, "&Default Settings"},
        {kScopeMenuAutoscale, "&Autoscale"},
        {0, ""},
        {kScopeMenuLoad, "&Load Settings..."},
        {kScopeMenuSave, "&Save Settings..."},
        {0, ""},
        {kScopeMenuSavePlots, "Save &Plots"},
        {kScopeMenuExportPicture, "Export P&icture..."},
        {kScopeMenuExportData, "Export Da&ta..."}}},
  };
  return menus;
}

}  // namespace

const std::vector<HostMenuItem>* FindHostMenu(int menuResource, int submenu) {
  for (const HostMenu& menu : Menus())
    if (menu.resource == menuResource && menu.submenu == submenu) return &menu.items;
  return nullptr;
}

}  // namespace axcore
