// The host's dialog base: a modal dialog built from a module's template,
// whose controls can be bound to parameters of the setup document.
//
// The dialog keeps every control's state by control id (kind, text,
// enabled, shown, checked, items with item data, selection, slider range
// and position, image) and mirrors each change into its view. What the
// user does arrives through the User... operations, from the Qt view or
// from a script, and runs the framework's rules:
//
// - A bound value field commits when the user leaves it: the text is read
//   as a number in the shown unit and written through the document's write
//   rules; the field then shows the value the document holds. Text that is
//   no number leaves the parameter as it was, shows its value again and
//   says why in the status line. A committed change runs
//   OnChangedParameterValue(name) once, refreshes the parameter's controls,
//   then runs OnRefreshParameterValue(name) once.
// - A unit box shows the parameter in the unit picked, then runs
//   OnChangedParameterUnit(name).
// - A radio button of a bound range stores its index (0 for the range's
//   first id), a bound check box 1 or 0, a bound combo the item data of the
//   item chosen; the hooks run as for a value field and only then the
//   dialog's command (or selection) handler for the control.
// - RefreshAllParameters and RefreshParameterControls only show values;
//   they call no hook.
//
// Command ids the base handles itself: 1 OK (OnOK), 2 Cancel (OnCancel),
// 10005 / 10006 the guideline assistant's Previous / Next (text 10007),
// 10024 Help (OnHelp), 10021 / 10022 the CAN baud rate and settings (after
// EnableCANSettings), 10010 to 10014 the motor database editor (after
// InitializeMotorEditor).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "axcore/DialogTemplate.h"
#include "axcore/Platform.h"
#include "axcore/PlotDocument.h"

class CMC_Setup;
class CMC_Parameter;
namespace axcore {
class MotorEditor;

// The message a plot control sends its dialog when the user turns the
// wheel over it (OnControlMessage): wParam the control's id, lParam
// (steps << 16) | curve, steps a signed 16-bit count (+1 a notch away from
// the user, -1 towards), curve 1, 2, ... the curve (a scope's channel)
// picked in the legend.
inline constexpr unsigned kPlotWheelMessage = 0x467;
}  // namespace axcore

// The text a value field shows for a value in its shown unit: six
// significant digits, no exponent between 1e-4 and 1e12, no trailing zeros.
std::string FormatFieldValue(double value);

struct ComboItem {
  std::string text;
  std::intptr_t data = 0;
};

struct ControlState {
  int id = 0;
  axcore::ControlKind kind = axcore::ControlKind::Label;
  std::string text;  // caption, label or the text of a value field
  bool enabled = true;
  bool shown = true;
  bool checked = false;          // check boxes and radio buttons
  std::vector<ComboItem> items;  // combos and unit boxes
  int selection = -1;            // combos, unit boxes, tab controls
  int minimum = 0, maximum = 100, position = 0;  // sliders
  std::string image;             // image resource name
  bool alert = false;            // text in the warning colour (red)
  int limit = 0;                 // edits: the most characters the user can type; 0: no limit
};

// A drop-down list of a dialog, addressed by its control id (the
// framework's combo box object).
class CComboBox {
 public:
  CComboBox() = default;
  void Attach(CMC_EditSetupDlg* dialog, int id) {
    m_dialog = dialog;
    m_id = id;
  }
  bool IsAttached() const { return m_dialog != nullptr; }
  int GetDlgCtrlID() const { return m_id; }
  int AddString(std::string_view text);  // index of the new item
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;  // -1: none
  int SetCurSel(int index);
  int FindStringExact(std::string_view text) const;  // -1: none
  std::intptr_t GetItemData(int index) const;
  void SetItemData(int index, std::intptr_t data);
  std::string GetLBText(int index) const;
  // The text of the selected item, "" when none is selected.
  std::string GetWindowText() const;

 private:
  CMC_EditSetupDlg* m_dialog = nullptr;
  int m_id = 0;
};

class CMC_EditSetupDlg {
 public:
  // `guidelines`: the guideline assistant's step texts, ended by a null
  // entry, or null. `flag` is kept for the modules that pass it (1).
  CMC_EditSetupDlg(CMC_Setup* setup, int resourceId, int flag, const char* const* guidelines = nullptr,
                   CMC_EditSetupDlg* parent = nullptr);
  virtual ~CMC_EditSetupDlg();
  CMC_EditSetupDlg(const CMC_EditSetupDlg&) = delete;
  CMC_EditSetupDlg& operator=(const CMC_EditSetupDlg&) = delete;

  // Runs the dialog on the current platform: 1 for OK, 2 for Cancel (or
  // what EndDialog was given), -1 when it could not be created.
  virtual int DoModal();
  void EndDialog(int result);

  // --- virtual operations of the framework
  virtual bool OnInitDialog();
  // `save` false: from the setup to the controls (the enable and show rules
  // of the derived dialogs run here); true: from the controls to the setup.
  virtual void DoDataExchange(bool save);
  virtual void OnChangedParameterValue(const char* name);
  virtual void OnChangedParameterUnit(const char* name);
  virtual void OnRefreshParameterValue(const char* name);
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnHelp();
  // A button, check box or radio button was pressed (after any bound value
  // was stored); true when handled. The base handles its own ids.
  virtual bool OnCommand(int id);
  // The user chose another item of combo `id` (after a bound combo's value
  // was stored).
  virtual void OnSelChange(int id);
  virtual void OnTabChange(int id);
  virtual void OnTimer(int id);
  // The window is shown (`show` true) or hidden.
  virtual void OnShowWindow(bool show);
  // A key chord pressed anywhere in the dialog ("ctrl+alt+shift+K").
  virtual void OnKeyChord(std::string_view chord);
  // The user right-clicked control `id`. True when the dialog handled the
  // click (showed its menu, typically with TrackHostMenu); false leaves
  // the click to the view, which zooms a plot out a step. The base: false.
  virtual bool OnContextMenu(int id);
  // A window message from control `id` (a plot's user message 0x467: the
  // wheel over a scope graph, lParam = (steps << 16) | channel). The base
  // ignores it.
  virtual void OnControlMessage(int id, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  bool UpdateData(bool save);

  // --- bindings of controls to parameters (before the view is created)
  // A value field `editId` with its unit box `unitId` (0: none).
  void AddParameterControls(const char* name, int editId, int unitId = 0);
  // A slider with its value field, two spin buttons (0: none) and a unit
  // box; the slider spans the parameter's range in `steps` steps.
  void AddSliderParameterControls(const char* name, int sliderId, int editId, int spinUpId, int spinDownId,
                                  int unitId = 0, int steps = 100);
  // Fixes the span of slider `sliderId` (bound above) to [lo, hi] in base
  // units instead of the parameter's range; ignored unless lo < hi.
  void SetSliderSpan(int sliderId, double lo, double hi);
  // Radio buttons firstId..lastId: value k checks the k-th.
  void AddSwitchParameterControls(const char* name, int firstId, int lastId);
  // A check box holding 1 or 0.
  void AddCheckParameterControls(const char* name, int id);
  // A combo whose items carry values: the item whose data equals the value
  // is selected; choosing an item stores its data.
  void AddComboParameterControls(const char* name, int comboId);
  // A value field for a parameter of the dialog's own that is not in the
  // setup document (a value derived for display); the dialog keeps it alive.
  void AddUserParameterControls(CMC_Parameter* parameter, int editId, int unitId = 0);

  void RefreshParameterControls(const char* name);
  void RefreshAllParameters(int flag = 0);

  // Stores `base` into the setup's parameter as a value the user typed: the
  // document's write rules, then, when the value changed, the change hooks
  // and the refresh of its controls. False when the setup has no such name.
  bool SetParameterAsUser(const char* name, double base);

  // The motor database editor: combos 10010 (database) and 10011 (motor),
  // the motor's name 10014 and buttons 10012 (save to the user database)
  // and 10013 (delete). Choosing a motor sets `parameters` (a list ended by
  // a null entry, in the order they are to be set) as the user would;
  // saving stores those of them the setup has.
  void InitializeMotorEditor(const char* const* parameters);

  // --- controls by id
  // `flag` is kept for the modules that pass it (1 for a field whose value
  // does not apply while it is disabled); the field is greyed either way.
  void EnableChild(int id, bool enable, int flag = 0);
  void ShowChild(int id, bool show);
  void SetChildText(int id, std::string_view text);
  std::string GetChildText(int id) const;
  void CheckDlgButton(int id, bool checked);
  bool IsDlgButtonChecked(int id) const;
  void SetChildImage(int id, std::string_view image);
  // Shows the control's text in the warning colour, or in the normal one.
  void SetChildAlert(int id, bool alert);
  // The most characters the user can type into edit `id` (0: no limit);
  // text typed beyond it is cut off, as a field that takes no more keys.
  void SetChildTextLimit(int id, int chars);
  void SetSliderRange(int id, int minimum, int maximum);
  void SetSliderPosition(int id, int position);
  void SetTabSelection(int id, int page);
  // The CAN baud-rate list (combo 10021, the setup option "CAN_baudrate" in
  // kbit/s) and the CANopen settings button (10022).
  void EnableCANSettings();

  const ControlState* GetControl(int id) const;
  ControlState* MutableControl(int id);  // the view is told by Changed(id)
  void Changed(int id);
  const std::vector<int>& ControlOrder() const { return m_order; }

  // The document of plot control `id`, null when the dialog has no such
  // plot. Every plot control of the template gets an empty one when the
  // dialog is created; the dialog fills it and calls RefreshPlot, which
  // redraws it on the view.
  axcore::PlotDocument* GetPlot(int id);
  const axcore::PlotDocument* GetPlot(int id) const;
  void RefreshPlot(int id);
  const axcore::DialogTemplate* GetTemplate() const { return m_template; }
  int GetResourceId() const { return m_resourceId; }
  std::string GetCaption() const;
  CMC_Setup* GetSetup() const { return m_setup; }
  CMC_EditSetupDlg* GetParent() const { return m_parent; }
  bool IsRunning() const { return m_view != nullptr; }
  bool HasEnded() const { return m_ended; }
  int GetResult() const { return m_result; }

  // --- what the user does (views and scripts). False, with the reason in
  // `why`, when the control is absent, hidden, disabled or of another kind;
  // nothing then changes.
  bool UserTypes(int id, std::string_view text, std::string& why);
  bool UserPicksUnit(int id, std::string_view unit, std::string& why);
  bool UserChecks(int id, bool checked, std::string& why);
  bool UserClicksRadio(int id, std::string& why);
  bool UserSelects(int id, std::string_view itemText, std::string& why);
  bool UserSelectsTab(int id, int page, std::string& why);
  bool UserSlides(int id, int position, std::string& why);
  bool UserClicks(int id, std::string& why);
  bool UserPressesKeys(std::string_view chord, std::string& why);
  // A right click on control `id` (OnContextMenu); `handled`, when given,
  // tells whether the dialog took the click.
  bool UserRightClicks(int id, std::string& why, bool* handled = nullptr);
  // Control `id` sends the dialog `message` (OnControlMessage).
  bool UserSendsMessage(int id, unsigned message, std::uintptr_t wParam, std::intptr_t lParam, std::string& why);

  // --- for the platform
  // Builds the controls from the template and runs OnInitDialog; false
  // when the template cannot be had (the reason in GetCreateError).
  bool CreateDialog(axcore::DialogView* view);
  const std::string& GetCreateError() const { return m_createError; }
  void DestroyDialog();
  void ShowStatus(const std::string& text);

 protected:
  // Timers and message boxes through the platform, owned by this dialog.
  bool SetTimer(int id, int ms);
  void KillTimer(int id);
  int MessageBox(const std::string& text, unsigned style = MB_OK);
  // Opens the manual at `contextId` (GetGUIDirectory + GetHelpFileOfGUI).
  void OpenHelpAt(int contextId);
  // Handles the messages pending now (the user's input, due timers), for
  // a dialog that polls inside a message handler.
  void PumpMessages() { axcore::CurrentPlatform().PumpMessages(); }
  // Shows submenu `submenu` of the host's menu resource `menuResource`
  // (HostMenu.h) at the pointer and gives the command chosen, 0 when none
  // was (or the host has no such menu). The caller carries the command
  // out, usually with OnCommand.
  int TrackHostMenu(int menuResource, int submenu);
  // A dialog of the host's own: built from `layout` instead of a template
  // of the registered resources. Before DoModal.
  void SetOwnTemplate(axcore::DialogTemplate layout);

 private:
  friend class axcore::MotorEditor;

  struct Binding {
    enum class Kind { Value, Slider, Switch, Check, Combo } kind;
    std::string name;
    CMC_Parameter* own = nullptr;  // a parameter of the dialog's own, not the setup's
    int first = 0, last = 0;  // value field, slider or check: first; radios: first..last
    int edit = 0, unit = 0, spinUp = 0, spinDown = 0, steps = 100;
    double spanLo = 0.0, spanHi = 0.0;  // a slider's fixed span when spanLo < spanHi
  };
  // The span of a slider binding in base units.
  static std::pair<double, double> SliderSpan(const Binding& binding, const CMC_Parameter& p);
  const Binding* BindingOf(int id) const;
  // The parameter a binding shows; null when the setup lacks it (reported
  // unless the caller looks quietly).
  CMC_Parameter* ParameterOf(const Binding& binding) const;
  const ControlState* Usable(int id, std::string& why) const;
  void RefreshBinding(const Binding& binding);
  void CommitValue(const Binding& binding, double base);
  void CommitValue(CMC_Parameter& parameter, const std::string& name, double base);
  void ShowGuideline();
  void FillCanBitRates();
  void FillUnitCombo(const Binding& binding);

  CMC_Setup* m_setup;
  int m_resourceId;
  int m_flag;
  std::vector<std::string> m_guidelines;
  std::size_t m_guideline = 0;
  CMC_EditSetupDlg* m_parent;
  const axcore::DialogTemplate* m_template = nullptr;
  std::unique_ptr<axcore::DialogTemplate> m_ownTemplate;
  std::string m_createError;
  std::map<int, ControlState> m_controls;
  std::map<int, std::unique_ptr<axcore::PlotDocument>> m_plots;
  std::vector<int> m_order;
  std::vector<Binding> m_bindings;
  axcore::DialogView* m_view = nullptr;
  bool m_ended = false;
  int m_result = 2;
  bool m_canSettings = false;
  std::unique_ptr<axcore::MotorEditor> m_motorEditor;
};
