// The axis ID list of the Drive Setup dialog: IDs 1 to 255 and "H/W" (the
// ID set by the drive's hardware pins, stored as 0).
#pragma once

#include <string>

class CComboBox;
class CMC_Setup;

// Fills the list, unsorted, and selects the item of "Axis_ID_list"; an ID
// the list does not hold leaves nothing selected.
void FillAxisIdList(CComboBox& list, const CMC_Setup& setup);

// CANopen addresses only 1 to 127: the items of IDs 128 to 255 leave a
// CANopen drive unconfigured.
bool IsBeyondCanOpenRange(int itemIndex);

// Stores the chosen ID in "Axis_ID_list" when it differs from the value
// held. Nothing is stored while no item is chosen. 1 when it wrote.
int StoreChosenAxisId(const CComboBox& list, CMC_Setup& setup);

// "Axis_ID_list" as the list names it: "%d" of the value.
std::string AxisIdText(const CMC_Setup& setup);
