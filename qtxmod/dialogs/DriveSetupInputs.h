// The digital inputs of the Drive Setup dialog: the row labels of the
// polarity table and the input type (sourcing NPN or sinking PNP).
//
// An input is wired either to a supply or left open. Which of the two the
// drive reads as active depends on the input type, so the rows of the
// polarity table are labelled by the physical state of the line.
#pragma once

class CMC_EditSetupDlg;
class CMC_Setup;

// Row labels 3403 (upper row) and 3404 (lower row) for a sinking (PNP) or
// sourcing (NPN) input stage.
void SetInputRowLabels(CMC_EditSetupDlg& dialog, bool pnp);

// The input type radios and row labels when the dialog opens: from the
// drive's description when the setup does not say whether the type is
// programmable, from "InputsPolarityType" when the drive has it, else from
// the inputs polarity bit of "ASR".
void InitInputsType(CMC_EditSetupDlg& dialog, const CMC_Setup& setup);

// After the user switched the input type: each input keeps its active
// physical state, so each polarity that exists flips (0 becomes 1, any other
// value 0), and the row labels follow the new type.
void FollowInputsTypeChange(CMC_EditSetupDlg& dialog, CMC_Setup& setup);
