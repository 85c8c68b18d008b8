// The setup dialog base's recomputations for quantities the Drive Setup
// dialog does not show itself: a later dialog changes them, the base reacts.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "DialogRun.h"

namespace {

TEST(SetupDialogBase, AChangedQuantityResetsWhatDependsOnIt) {
  const struct {
    const char* name;
    std::function<void(CMC_Setup&)> change;
    const char* changed;  // as the hook is called, letter case as it comes
    const char* dependent;
    double maximum;  // of `dependent` afterwards
  } cases[] = {
      {"pole pitch below the encoder period", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("PolePitch", 10e-6); },
       "PolePitch", "EncRes", 10e-6},
      {"nominal current, angle controller", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("In", 2); }, "in",
       "MAX_CURRENT", 2},
      {"drive current, angle controller", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("InPS", 1); }, "INPS",
       "MAX_CURRENT", 1},
      {"nominal current, no angle controller",
       [](CMC_Setup& s) {
         s.RemoveParameter("KPTHT");
         s.SetParameterValueInBaseUnit("In", 2);
       },
       "In", "MAX_CURRENT", 3},
      {"no row: the supply", [](CMC_Setup& s) { s.SetParameterValueInBaseUnit("PolePitch", 10e-6); }, "Vdc",
       "EncRes", 0.032},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = dialog_testing::ExampleSetup();
    CDriveSetupDlg dialog(setup.get());
    c.change(*setup);
    dialog.OnChangedParameterValue(c.changed);
    EXPECT_DOUBLE_EQ(setup->FindParameter(c.dependent)->GetMaxInBaseUnit(), c.maximum);
  }
}

}  // namespace
