// Runs one setup dialog of the plug-in by itself, as its parent opens it,
// on the headless platform with a scripted user (see DialogRun.h).
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DialogRun.h"

namespace dialog_testing {

template <typename Dialog>
using ChildRun = DialogScriptRun<Dialog>;

template <typename Dialog>
ChildRun<Dialog> RunChildDialog(CMC_Setup& setup, const std::string& script) {
  return RunDialog<Dialog>(setup, script);
}

}  // namespace dialog_testing
