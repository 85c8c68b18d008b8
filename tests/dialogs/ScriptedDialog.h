// Checking the controls a scripted run of a setup dialog left.
#pragma once

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "DialogRun.h"

namespace dialog_testing {

// An expected state of one control; a null text or a -1 flag is not checked.
struct Expect {
  int id;
  int shown = -1;
  int enabled = -1;
  const char* text = nullptr;
  int checked = -1;
};

template <typename Dialog>
void CheckControls(const DialogScriptRun<Dialog>& run, const std::vector<Expect>& expected) {
  for (const Expect& e : expected) {
    SCOPED_TRACE("control " + std::to_string(e.id));
    const ControlState& c = run.Control(e.id);
    if (e.shown >= 0) {
      EXPECT_EQ(c.shown, e.shown == 1);
    }
    if (e.enabled >= 0) {
      EXPECT_EQ(c.enabled, e.enabled == 1);
    }
    if (e.checked >= 0) {
      EXPECT_EQ(c.checked, e.checked == 1);
    }
    if (e.text != nullptr) {
      const bool list = c.kind == axcore::ControlKind::Combo || c.kind == axcore::ControlKind::UnitCombo;
      EXPECT_EQ(list ? run.Selected(e.id) : c.text, e.text);
    }
  }
}

}  // namespace dialog_testing
