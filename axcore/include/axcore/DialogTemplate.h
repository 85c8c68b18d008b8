// A dialog's layout as a module's resources describe it: the resource id,
// the caption and, per control, its id, kind, text, the group box or tab
// page it sits in and its cell on that container's grid. The host builds
// every dialog from its template; no layout lives in code.
//
// File format (JSON, one file per dialog, `dialogs/<id>.json` in a module's
// resource folder):
//
//   { "format": "axdialog-1", "id": 106, "caption": "Drive Setup",
//     "controls": [
//       { "id": 3165, "kind": "group", "text": "Drive operation parameters", "at": [0, 0, 1, 3] },
//       { "id": 3167, "kind": "label", "text": "Power supply", "in": 3165, "at": [0, 0] },
//       { "id": 3163, "kind": "edit", "in": 3165, "at": [0, 1] },
//       ... ] }
//
// "at" is [row, column] or [row, column, rows, columns] on the grid of the
// container "in" (a group box or tab page; absent: the dialog itself).
// Optional keys: "disabled": true, "hidden": true, "image": a name of the
// module's images, "width": a minimum width in characters (edits, combos),
// "lines": a height in text lines (texts, lists, plots; a label of more than
// one line wraps its text within its width), "page": the page
// index of a control that sits on a tab control's page (then "in" names the
// tab control).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace axcore {

enum class ControlKind {
  Group,      // group box: a frame with a title around other controls
  Label,      // static text
  Text,       // read-only multi-line text (the guideline assistant's)
  Edit,       // a value field
  UnitCombo,  // the list of units of a bound value field
  Radio,      // one button of a radio group
  Check,      // check box
  Combo,      // drop-down list with item data
  Button,     // push button, with an optional image
  Slider,     // horizontal track bar
  Spin,       // an up-down button beside a slider's field
  Tab,        // tab control; its pages hold controls ("page")
  Image,      // a picture
  Plot,       // a plot document of the dialog, drawn by the view
};

const char* ControlKindName(ControlKind kind);
std::optional<ControlKind> ParseControlKind(std::string_view name);

struct ControlTemplate {
  int id = 0;
  ControlKind kind = ControlKind::Label;
  std::string text;
  int parent = 0;  // group box or tab control it sits in; 0: the dialog
  int page = -1;   // the tab page, when `parent` is a tab control
  int row = 0, column = 0, rows = 1, columns = 1;
  bool enabled = true;
  bool shown = true;
  std::string image;  // image resource name
  int width = 0;      // minimum width in characters; 0: the kind's default
  int lines = 0;      // height in text lines; 0: the kind's default
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  std::vector<ControlTemplate> controls;  // in tab order
  // Tab pages by tab control id: the page titles.
  std::vector<std::pair<int, std::vector<std::string>>> pages;

  const ControlTemplate* Find(int id) const;
};

// A template from its JSON text; on a bad text nothing, with one line
// naming `source`, the entry and the reason in `error`.
std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string_view source, std::string& error);

}  // namespace axcore
