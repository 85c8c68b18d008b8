#include "DriveSetupAxisId.h"

#include <cstdio>

#include "DialogValues.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/Setup.h"

namespace {

constexpr int kHighestId = 255;
constexpr const char* kHardwareId = "H/W";
// Items 0 to 126 hold IDs 1 to 127; "H/W" is the last item.
constexpr int kFirstBeyondCanOpen = 127;
constexpr int kLastBeyondCanOpen = 254;

// The leading digits of an item, as the drive's ID; "H/W" has none: 0.
int LeadingInteger(const std::string& text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 1000000) break;
  }
  return value;
}

}  // namespace

std::string AxisIdText(const CMC_Setup& setup) {
  const int id = dialogs::IntegerValue(setup, "Axis_ID_list");
  if (id == dialogs::kNoInteger) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%d", id);
  return text;
}

void FillAxisIdList(CComboBox& list, const CMC_Setup& setup) {
  for (int id = 1; id <= kHighestId; ++id) list.AddString(std::to_string(id));
  list.AddString(kHardwareId);
  const std::string current = AxisIdText(setup);
  list.SetCurSel(current == "0" ? list.FindStringExact(kHardwareId) : list.FindStringExact(current));
}

bool IsBeyondCanOpenRange(int itemIndex) {
  return itemIndex >= kFirstBeyondCanOpen && itemIndex <= kLastBeyondCanOpen;
}

int StoreChosenAxisId(const CComboBox& list, CMC_Setup& setup) {
  const std::string chosen = list.GetWindowText();
  // No item chosen (an ID the list does not hold): the ID stays as it is
  // rather than falling back to the hardware ID.
  if (chosen.empty() || chosen == AxisIdText(setup)) return 0;
  return setup.SetParameterValueInBaseUnit("Axis_ID_list", LeadingInteger(chosen));
}
