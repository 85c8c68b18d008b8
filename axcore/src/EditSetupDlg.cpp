#include "axcore/EditSetupDlg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "axcore/Diagnostics.h"
#include "axcore/HostMenu.h"
#include "axcore/MessageText.h"
#include "axcore/Names.h"
#include "axcore/Resources.h"
#include "axcore/Setup.h"
#include "axcore/Units.h"
#include "MotorEditor.h"

using axcore::ControlKind;

namespace {

// Control ids of the host base's own controls.
constexpr int kGuidelinePrevious = 10005;
constexpr int kGuidelineNext = 10006;
constexpr int kGuidelineText = 10007;
constexpr int kCanBaudRate = 10021;
constexpr int kCanSettings = 10022;
constexpr int kHelp = 10024;

// The bit rates of CiA 301, kbit/s, as a CAN user knows them.
constexpr int kCanBitRates_kbit[] = {10, 20, 50, 125, 250, 500, 800, 1000};
constexpr int kDefaultCanBitRate_kbit = 500;
constexpr const char* kCanBitRateOption = "CAN_baudrate";

// A number typed into a field: optional blanks around it, an optional sign,
// digits with an optional point and exponent; nothing else.
std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// The first `count` characters of a UTF-8 text (all of it when shorter).
std::string_view FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count-- == 0) break;
  return text.substr(0, i);
}

std::string Describe(int id, const ControlState& state) {
  return std::string(axcore::ControlKindName(state.kind)) + " " + std::to_string(id);
}

}  // namespace

std::string FormatFieldValue(double value) {
  if (!std::isfinite(value)) return "";
  char buffer[64];
  const double magnitude = std::fabs(value);
  if (value == 0.0) return "0";
  if (magnitude < 1e-4 || magnitude >= 1e12) {
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
  }
  // Six significant digits without an exponent; trailing zeros dropped.
  const int decimals = std::max(0, 5 - static_cast<int>(std::floor(std::log10(magnitude))));
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

// ---------------------------------------------------------------- combo box

int CComboBox::AddString(std::string_view text) {
  ControlState* state = m_dialog ? m_dialog->MutableControl(m_id) : nullptr;
  if (state == nullptr) return -1;
  state->items.push_back({std::string(text), 0});
  m_dialog->Changed(m_id);
  return static_cast<int>(state->items.size()) - 1;
}

void CComboBox::ResetContent() {
  ControlState* state = m_dialog ? m_dialog->MutableControl(m_id) : nullptr;
  if (state == nullptr) return;
  state->items.clear();
  state->selection = -1;
  m_dialog->Changed(m_id);
}

int CComboBox::GetCount() const {
  const ControlState* state = m_dialog ? m_dialog->GetControl(m_id) : nullptr;
  return state ? static_cast<int>(state->items.size()) : 0;
}

int CComboBox::GetCurSel() const {
  const ControlState* state = m_dialog ? m_dialog->GetControl(m_id) : nullptr;
  return state ? state->selection : -1;
}

int CComboBox::SetCurSel(int index) {
  ControlState* state = m_dialog ? m_dialog->MutableControl(m_id) : nullptr;
  if (state == nullptr) return -1;
  state->selection = index >= 0 && index < static_cast<int>(state->items.size()) ? index : -1;
  m_dialog->Changed(m_id);
  return state->selection;
}

int CComboBox::FindStringExact(std::string_view text) const {
  const ControlState* state = m_dialog ? m_dialog->GetControl(m_id) : nullptr;
  if (state == nullptr) return -1;
  for (std::size_t i = 0; i < state->items.size(); ++i)
    if (axcore::EqualsIgnoreCase(state->items[i].text, text)) return static_cast<int>(i);
  return -1;
}

std::intptr_t CComboBox::GetItemData(int index) const {
  const ControlState* state = m_dialog ? m_dialog->GetControl(m_id) : nullptr;
  if (state == nullptr || index < 0 || index >= static_cast<int>(state->items.size())) return 0;
  return state->items[static_cast<std::size_t>(index)].data;
}

void CComboBox::SetItemData(int index, std::intptr_t data) {
  ControlState* state = m_dialog ? m_dialog->MutableControl(m_id) : nullptr;
  if (state == nullptr || index < 0 || index >= static_cast<int>(state->items.size())) return;
  state->items[static_cast<std::size_t>(index)].data = data;
}

std::string CComboBox::GetLBText(int index) const {
  const ControlState* state = m_dialog ? m_dialog->GetControl(m_id) : nullptr;
  if (state == nullptr || index < 0 || index >= static_cast<int>(state->items.size())) return {};
  return state->items[static_cast<std::size_t>(index)].text;
}

std::string CComboBox::GetWindowText() const { return GetLBText(GetCurSel()); }

// ---------------------------------------------------------------- dialog

CMC_EditSetupDlg::CMC_EditSetupDlg(CMC_Setup* setup, int resourceId, int flag, const char* const* guidelines,
                                   CMC_EditSetupDlg* parent)
    : m_setup(setup), m_resourceId(resourceId), m_flag(flag), m_parent(parent) {
  for (const char* const* step = guidelines; step != nullptr && *step != nullptr; ++step)
    m_guidelines.emplace_back(*step);
}

CMC_EditSetupDlg::~CMC_EditSetupDlg() = default;

int CMC_EditSetupDlg::DoModal() {
  m_ended = false;
  m_result = IDCANCEL;
  return axcore::CurrentPlatform().RunModal(*this);
}

void CMC_EditSetupDlg::EndDialog(int result) {
  m_ended = true;
  m_result = result;
}

bool CMC_EditSetupDlg::CreateDialog(axcore::DialogView* view) {
  m_template = m_ownTemplate ? m_ownTemplate.get() : axcore::FindDialogTemplate(m_resourceId, m_createError);
  if (m_template == nullptr) return false;
  m_controls.clear();
  m_order.clear();
  m_plots.clear();
  for (const axcore::ControlTemplate& control : m_template->controls) {
    ControlState state;
    state.id = control.id;
    state.kind = control.kind;
    state.text = control.text;
    state.enabled = control.enabled;
    state.shown = control.shown;
    state.image = control.image;
    if (control.kind == ControlKind::Plot) m_plots[control.id] = std::make_unique<axcore::PlotDocument>();
    if (control.kind == ControlKind::Tab) {
      for (const auto& [tab, titles] : m_template->pages)
        if (tab == control.id)
          for (const std::string& title : titles) state.items.push_back({title, 0});
      state.selection = state.items.empty() ? -1 : 0;
    }
    m_controls.emplace(control.id, std::move(state));
    m_order.push_back(control.id);
  }
  // A bound name the setup lacks is reported once, here.
  for (const Binding& binding : m_bindings)
    if (binding.own == nullptr) m_setup->FindParameter(binding.name);
  m_view = view;
  m_view->Create();
  OnInitDialog();
  return true;
}

void CMC_EditSetupDlg::DestroyDialog() {
  if (m_view != nullptr) m_view->Close();
  m_view = nullptr;
}

std::string CMC_EditSetupDlg::GetCaption() const { return m_template ? m_template->caption : std::string(); }

bool CMC_EditSetupDlg::OnInitDialog() {
  for (const Binding& binding : m_bindings) FillUnitCombo(binding);
  // Slider bindings span the range their parameter has as the dialog opens.
  for (Binding& binding : m_bindings) {
    if (binding.kind != Binding::Kind::Slider) continue;
    SetSliderRange(binding.first, 0, binding.steps);
  }
  if (!m_guidelines.empty()) ShowGuideline();
  if (m_canSettings) FillCanBitRates();
  if (m_motorEditor) m_motorEditor->Start();
  RefreshAllParameters(0);
  UpdateData(false);
  return true;
}

void CMC_EditSetupDlg::DoDataExchange(bool) {}

void CMC_EditSetupDlg::OnChangedParameterValue(const char*) {}
void CMC_EditSetupDlg::OnChangedParameterUnit(const char*) {}
void CMC_EditSetupDlg::OnRefreshParameterValue(const char*) {}

void CMC_EditSetupDlg::OnOK() {
  UpdateData(true);
  EndDialog(IDOK);
}

void CMC_EditSetupDlg::OnCancel() { EndDialog(IDCANCEL); }

void CMC_EditSetupDlg::OnHelp() { OpenHelpAt(0); }

bool CMC_EditSetupDlg::OnCommand(int id) {
  switch (id) {
    case IDOK:
      OnOK();
      return true;
    case IDCANCEL:
      OnCancel();
      return true;
    case kGuidelinePrevious:
      if (m_guideline > 0) --m_guideline;
      ShowGuideline();
      return true;
    case kGuidelineNext:
      if (m_guideline + 1 < m_guidelines.size()) ++m_guideline;
      ShowGuideline();
      return true;
    case kHelp:
      OnHelp();
      return true;
    case axcore::MotorEditor::kSave:
    case axcore::MotorEditor::kDelete:
      return m_motorEditor && m_motorEditor->OnCommand(id);
    case kCanSettings:
      if (!m_canSettings) return false;
      MessageBox("The CANopen settings of the drive are made through the CANopen master of the network; this "
                 "host sets the axis ID and the baud rate here.",
                 MB_OK | MB_ICONINFORMATION);
      return true;
    default:
      return false;
  }
}

void CMC_EditSetupDlg::OnSelChange(int id) {
  if (m_motorEditor && m_motorEditor->OnSelChange(id)) return;
  if (id == kCanBaudRate && m_canSettings) {
    CComboBox rates;
    rates.Attach(this, kCanBaudRate);
    if (rates.GetCurSel() >= 0)
      m_setup->SetOption(kCanBitRateOption, std::to_string(rates.GetItemData(rates.GetCurSel())));
  }
}

void CMC_EditSetupDlg::OnTabChange(int) {}
void CMC_EditSetupDlg::OnTimer(int) {}
void CMC_EditSetupDlg::OnShowWindow(bool show) {
  // Damaged database files are told once the dialog is on the screen.
  if (show && m_motorEditor) m_motorEditor->ReportSkipped();
}
void CMC_EditSetupDlg::OnKeyChord(std::string_view) {}
bool CMC_EditSetupDlg::OnContextMenu(int) { return false; }
void CMC_EditSetupDlg::OnControlMessage(int, unsigned, std::uintptr_t, std::intptr_t) {}

int CMC_EditSetupDlg::TrackHostMenu(int menuResource, int submenu) {
  const std::vector<axcore::HostMenuItem>* items = axcore::FindHostMenu(menuResource, submenu);
  if (items == nullptr) return 0;
  const int chosen = axcore::CurrentPlatform().TrackPopupMenu(*items, this);
  // Only a command of the menu counts: a separator or anything else is no choice.
  for (const axcore::HostMenuItem& item : *items)
    if (item.command != 0 && item.command == chosen) return chosen;
  return 0;
}

void CMC_EditSetupDlg::SetOwnTemplate(axcore::DialogTemplate layout) {
  m_ownTemplate = std::make_unique<axcore::DialogTemplate>(std::move(layout));
}

bool CMC_EditSetupDlg::UpdateData(bool save) {
  DoDataExchange(save);
  return true;
}

// ---------------------------------------------------------------- bindings

void CMC_EditSetupDlg::AddParameterControls(const char* name, int editId, int unitId) {
  Binding binding{Binding::Kind::Value, name};
  binding.first = binding.edit = editId;
  binding.unit = unitId;
  m_bindings.push_back(binding);
}

void CMC_EditSetupDlg::AddSliderParameterControls(const char* name, int sliderId, int editId, int spinUpId,
                                                  int spinDownId, int unitId, int steps) {
  Binding binding{Binding::Kind::Slider, name};
  binding.first = sliderId;
  binding.edit = editId;
  binding.spinUp = spinUpId;
  binding.spinDown = spinDownId;
  binding.unit = unitId;
  binding.steps = std::max(1, steps);
  m_bindings.push_back(binding);
}

void CMC_EditSetupDlg::SetSliderSpan(int sliderId, double lo, double hi) {
  for (Binding& binding : m_bindings)
    if (binding.kind == Binding::Kind::Slider && binding.first == sliderId && lo < hi) {
      binding.spanLo = lo;
      binding.spanHi = hi;
    }
}

void CMC_EditSetupDlg::AddSwitchParameterControls(const char* name, int firstId, int lastId) {
  Binding binding{Binding::Kind::Switch, name};
  binding.first = firstId;
  binding.last = lastId;
  m_bindings.push_back(binding);
}

void CMC_EditSetupDlg::AddCheckParameterControls(const char* name, int id) {
  Binding binding{Binding::Kind::Check, name};
  binding.first = id;
  m_bindings.push_back(binding);
}

void CMC_EditSetupDlg::AddComboParameterControls(const char* name, int comboId) {
  Binding binding{Binding::Kind::Combo, name};
  binding.first = comboId;
  m_bindings.push_back(binding);
}

void CMC_EditSetupDlg::AddUserParameterControls(CMC_Parameter* parameter, int editId, int unitId) {
  if (parameter == nullptr) return;
  Binding binding{Binding::Kind::Value, parameter->GetName()};
  binding.own = parameter;
  binding.first = binding.edit = editId;
  binding.unit = unitId;
  m_bindings.push_back(binding);
}

CMC_Parameter* CMC_EditSetupDlg::ParameterOf(const Binding& binding) const {
  return binding.own != nullptr ? binding.own : m_setup->FindParameter(binding.name);
}

const CMC_EditSetupDlg::Binding* CMC_EditSetupDlg::BindingOf(int id) const {
  for (const Binding& b : m_bindings) {
    switch (b.kind) {
      case Binding::Kind::Value:
        if (b.edit == id || (b.unit != 0 && b.unit == id)) return &b;
        break;
      case Binding::Kind::Slider:
        if (b.first == id || b.edit == id || (b.unit != 0 && b.unit == id) || (b.spinUp != 0 && b.spinUp == id) ||
            (b.spinDown != 0 && b.spinDown == id))
          return &b;
        break;
      case Binding::Kind::Switch:
        if (id >= b.first && id <= b.last) return &b;
        break;
      case Binding::Kind::Check:
      case Binding::Kind::Combo:
        if (b.first == id) return &b;
        break;
    }
  }
  return nullptr;
}

void CMC_EditSetupDlg::FillUnitCombo(const Binding& binding) {
  if (binding.unit == 0) return;
  ControlState* combo = MutableControl(binding.unit);
  if (combo == nullptr) return;
  combo->items.clear();
  combo->selection = -1;
  axcore::QuietLookup quiet;
  const CMC_Parameter* p = ParameterOf(binding);
  if (p != nullptr) {
    for (const CMC_Unit& unit : CMC_Units::All())
      if (unit.GetType() == p->GetBaseUnit().GetType()) combo->items.push_back({unit.GetName(), 0});
  }
  Changed(binding.unit);
}

// The slider's span: the one the dialog fixed, else the parameter's range
// where it has one, else half to one and a half times its value.
std::pair<double, double> CMC_EditSetupDlg::SliderSpan(const Binding& binding, const CMC_Parameter& p) {
  if (binding.spanLo < binding.spanHi) return {binding.spanLo, binding.spanHi};
  const double v = p.GetValueInBaseUnit();
  double lo = p.HasMin() ? p.GetMinInBaseUnit() : std::min(0.5 * v, 1.5 * v);
  double hi = p.HasMax() ? p.GetMaxInBaseUnit() : std::max(0.5 * v, 1.5 * v);
  if (!(hi > lo)) hi = lo + 1.0;
  return {lo, hi};
}

void CMC_EditSetupDlg::RefreshBinding(const Binding& binding) {
  axcore::QuietLookup quiet;
  const CMC_Parameter* p = ParameterOf(binding);
  if (p == nullptr) return;
  const double value = p->GetValueInBaseUnit();
  auto setText = [&](int id) {
    if (ControlState* edit = MutableControl(id); edit != nullptr) {
      edit->text = FormatFieldValue(p->GetValueInShownUnit());
      Changed(id);
    }
  };
  auto setUnit = [&](int id) {
    ControlState* combo = id != 0 ? MutableControl(id) : nullptr;
    if (combo == nullptr) return;
    auto select = [&] {
      combo->selection = -1;
      for (std::size_t i = 0; i < combo->items.size(); ++i)
        if (combo->items[i].text == p->GetShownUnit().GetName()) combo->selection = static_cast<int>(i);
    };
    select();
    // A parameter switched to another unit type (a load that now turns)
    // gets the units of its new type.
    if (combo->selection < 0 && !combo->items.empty()) {
      FillUnitCombo(binding);
      select();
    }
    Changed(id);
  };
  switch (binding.kind) {
    case Binding::Kind::Value:
      setText(binding.edit);
      setUnit(binding.unit);
      break;
    case Binding::Kind::Slider: {
      setText(binding.edit);
      setUnit(binding.unit);
      if (ControlState* slider = MutableControl(binding.first); slider != nullptr) {
        const auto [lo, hi] = SliderSpan(binding, *p);
        const double share = std::clamp((value - lo) / (hi - lo), 0.0, 1.0);
        slider->position = static_cast<int>(std::lround(share * binding.steps));
        Changed(binding.first);
      }
      break;
    }
    case Binding::Kind::Switch:
      for (int id = binding.first; id <= binding.last; ++id)
        if (ControlState* radio = MutableControl(id); radio != nullptr) {
          radio->checked = value == static_cast<double>(id - binding.first);
          Changed(id);
        }
      break;
    case Binding::Kind::Check:
      if (ControlState* check = MutableControl(binding.first); check != nullptr) {
        check->checked = value != 0.0;
        Changed(binding.first);
      }
      break;
    case Binding::Kind::Combo:
      if (ControlState* combo = MutableControl(binding.first); combo != nullptr) {
        combo->selection = -1;
        for (std::size_t i = 0; i < combo->items.size(); ++i)
          if (static_cast<double>(combo->items[i].data) == value) combo->selection = static_cast<int>(i);
        Changed(binding.first);
      }
      break;
  }
}

void CMC_EditSetupDlg::RefreshParameterControls(const char* name) {
  for (const Binding& binding : m_bindings)
    if (axcore::EqualsIgnoreCase(binding.name, name)) RefreshBinding(binding);
}

void CMC_EditSetupDlg::RefreshAllParameters(int) {
  for (const Binding& binding : m_bindings) RefreshBinding(binding);
}

void CMC_EditSetupDlg::CommitValue(const Binding& binding, double base) {
  CMC_Parameter* p = ParameterOf(binding);
  if (p == nullptr) return;
  CommitValue(*p, binding.name, base);
}

bool CMC_EditSetupDlg::SetParameterAsUser(const char* name, double base) {
  CMC_Parameter* p = nullptr;
  {
    axcore::QuietLookup quiet;
    p = name != nullptr ? m_setup->FindParameter(name) : nullptr;
  }
  if (p == nullptr) return false;
  if (p->GetValueInBaseUnit() != base) CommitValue(*p, p->GetName(), base);
  return true;
}

void CMC_EditSetupDlg::CommitValue(CMC_Parameter& parameter, const std::string& committed, double base) {
  CMC_Parameter* p = &parameter;
  const std::string name = committed;  // the hooks may rebuild the bindings
  if (p->SetValueInBaseUnit(base) == 0) {
    ShowStatus(axcore::QuoteForMessage(name) + ": the value was not taken; it stays " + p->PrintValue());
    RefreshParameterControls(name.c_str());
    return;
  }
  const double stored = p->GetValueInBaseUnit();
  if (stored != base && (p->HasMin() || p->HasMax()) &&
      (stored == p->GetMinInBaseUnit() || stored == p->GetMaxInBaseUnit())) {
    ShowStatus(axcore::QuoteForMessage(name) + ": limited to " + p->PrintValue() + ", the end of its range");
  } else {
    ShowStatus("");
  }
  OnChangedParameterValue(name.c_str());
  RefreshParameterControls(name.c_str());
  OnRefreshParameterValue(name.c_str());
}

// ---------------------------------------------------------------- controls

const ControlState* CMC_EditSetupDlg::GetControl(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : &it->second;
}

ControlState* CMC_EditSetupDlg::MutableControl(int id) {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : &it->second;
}

void CMC_EditSetupDlg::Changed(int id) {
  if (m_view == nullptr) return;
  if (const ControlState* state = GetControl(id); state != nullptr) m_view->Update(*state);
}

void CMC_EditSetupDlg::EnableChild(int id, bool enable, int) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->enabled != enable) {
    state->enabled = enable;
    Changed(id);
  }
}

void CMC_EditSetupDlg::ShowChild(int id, bool show) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->shown != show) {
    state->shown = show;
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetChildText(int id, std::string_view text) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->text != text) {
    state->text = text;
    Changed(id);
  }
}

std::string CMC_EditSetupDlg::GetChildText(int id) const {
  const ControlState* state = GetControl(id);
  return state ? state->text : std::string();
}

void CMC_EditSetupDlg::CheckDlgButton(int id, bool checked) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->checked != checked) {
    state->checked = checked;
    Changed(id);
  }
}

bool CMC_EditSetupDlg::IsDlgButtonChecked(int id) const {
  const ControlState* state = GetControl(id);
  return state != nullptr && state->checked;
}

void CMC_EditSetupDlg::SetChildImage(int id, std::string_view image) {
  if (ControlState* state = MutableControl(id); state != nullptr) {
    state->image = image;
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetChildAlert(int id, bool alert) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->alert != alert) {
    state->alert = alert;
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetChildTextLimit(int id, int chars) {
  if (ControlState* state = MutableControl(id); state != nullptr && state->limit != std::max(chars, 0)) {
    state->limit = std::max(chars, 0);
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetSliderRange(int id, int minimum, int maximum) {
  if (ControlState* state = MutableControl(id); state != nullptr) {
    state->minimum = minimum;
    state->maximum = std::max(minimum, maximum);
    state->position = std::clamp(state->position, state->minimum, state->maximum);
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetSliderPosition(int id, int position) {
  if (ControlState* state = MutableControl(id); state != nullptr) {
    state->position = std::clamp(position, state->minimum, state->maximum);
    Changed(id);
  }
}

void CMC_EditSetupDlg::SetTabSelection(int id, int page) {
  if (ControlState* state = MutableControl(id); state != nullptr) {
    state->selection = page >= 0 && page < static_cast<int>(state->items.size()) ? page : state->selection;
    Changed(id);
  }
}

axcore::PlotDocument* CMC_EditSetupDlg::GetPlot(int id) {
  const auto found = m_plots.find(id);
  return found == m_plots.end() ? nullptr : found->second.get();
}

const axcore::PlotDocument* CMC_EditSetupDlg::GetPlot(int id) const {
  const auto found = m_plots.find(id);
  return found == m_plots.end() ? nullptr : found->second.get();
}

void CMC_EditSetupDlg::RefreshPlot(int id) {
  if (m_view != nullptr && GetPlot(id) != nullptr) m_view->RefreshPlot(id);
}

void CMC_EditSetupDlg::EnableCANSettings() {
  m_canSettings = true;
  if (m_view != nullptr) FillCanBitRates();
}

void CMC_EditSetupDlg::FillCanBitRates() {
  CComboBox rates;
  rates.Attach(this, kCanBaudRate);
  rates.ResetContent();
  const int chosen =
      m_setup->HasOption(kCanBitRateOption) ? m_setup->GetIntOption(kCanBitRateOption) : kDefaultCanBitRate_kbit;
  for (int rate : kCanBitRates_kbit) {
    const int index = rates.AddString(std::to_string(rate) + " kbit/s");
    rates.SetItemData(index, rate);
    if (rate == chosen) rates.SetCurSel(index);
  }
}

void CMC_EditSetupDlg::InitializeMotorEditor(const char* const* parameters) {
  std::vector<std::string> names;
  for (const char* const* name = parameters; name != nullptr && *name != nullptr; ++name) names.emplace_back(*name);
  m_motorEditor = std::make_unique<axcore::MotorEditor>(*this, std::move(names));
  if (m_view != nullptr) m_motorEditor->Start();
}

void CMC_EditSetupDlg::ShowGuideline() {
  if (m_guidelines.empty()) return;
  m_guideline = std::min(m_guideline, m_guidelines.size() - 1);
  SetChildText(kGuidelineText, m_guidelines[m_guideline]);
  EnableChild(kGuidelinePrevious, m_guideline > 0);
  EnableChild(kGuidelineNext, m_guideline + 1 < m_guidelines.size());
}

void CMC_EditSetupDlg::ShowStatus(const std::string& text) {
  if (m_view != nullptr) m_view->ShowStatus(text);
}

bool CMC_EditSetupDlg::SetTimer(int id, int ms) { return axcore::CurrentPlatform().SetTimer(*this, id, ms); }
void CMC_EditSetupDlg::KillTimer(int id) { axcore::CurrentPlatform().KillTimer(*this, id); }
int CMC_EditSetupDlg::MessageBox(const std::string& text, unsigned style) {
  return axcore::CurrentPlatform().MessageBox(text, style, this);
}

void CMC_EditSetupDlg::OpenHelpAt(int contextId) {
  const std::string manual = GetHelpFileOfGUI(m_setup);
  if (manual.empty()) return;
  const std::string path = GetGUIDirectory() + manual;
  const std::string page = contextId != 0 ? axcore::HelpPageFor(path, contextId) : std::string();
  axcore::CurrentPlatform().OpenHelp(page.empty() ? path : page, contextId);
}

// ---------------------------------------------------------------- user input

const ControlState* CMC_EditSetupDlg::Usable(int id, std::string& why) const {
  const ControlState* state = GetControl(id);
  if (state == nullptr) {
    why = "control " + std::to_string(id) + " is not in dialog " + std::to_string(m_resourceId);
    return nullptr;
  }
  if (!state->shown) {
    why = Describe(id, *state) + " is hidden";
    return nullptr;
  }
  if (!state->enabled) {
    why = Describe(id, *state) + " is disabled";
    return nullptr;
  }
  return state;
}

static bool IsKind(const ControlState& state, std::initializer_list<ControlKind> kinds, const char* action,
                   std::string& why) {
  for (ControlKind kind : kinds)
    if (state.kind == kind) return true;
  why = std::string(axcore::ControlKindName(state.kind)) + " " + std::to_string(state.id) + " cannot be " + action;
  return false;
}

bool CMC_EditSetupDlg::UserTypes(int id, std::string_view text, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::Edit}, "typed into", why)) return false;
  if (state->limit > 0) text = FirstCharacters(text, static_cast<std::size_t>(state->limit));
  const Binding* binding = BindingOf(id);
  if (binding == nullptr) {
    SetChildText(id, text);
    return true;
  }
  if (text == state->text) return true;  // left unchanged
  axcore::QuietLookup quiet;
  const CMC_Parameter* p = ParameterOf(*binding);
  if (p == nullptr) return true;
  const auto number = ParseNumber(text);
  if (!number) {
    ShowStatus(axcore::QuoteForMessage(text) + " is not a number; " + axcore::QuoteForMessage(binding->name) +
               " stays " + p->PrintValue());
    RefreshBinding(*binding);
    return true;
  }
  const double base = *number * p->GetShownUnit().GetFactorToBase();
  if (!std::isfinite(base)) {
    ShowStatus(axcore::QuoteForMessage(binding->name) + ": " + std::string(text) + " " +
               p->GetShownUnit().GetName() + " is out of reach; it stays " + p->PrintValue());
    RefreshBinding(*binding);
    return true;
  }
  CommitValue(*binding, base);
  return true;
}

bool CMC_EditSetupDlg::UserPicksUnit(int id, std::string_view unit, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::UnitCombo}, "given a unit", why)) return false;
  const Binding* binding = BindingOf(id);
  auto item = std::find_if(state->items.begin(), state->items.end(),
                           [&](const ComboItem& i) { return i.text == unit; });
  if (binding == nullptr || item == state->items.end()) {
    why = "unit box " + std::to_string(id) + " does not offer " + axcore::QuoteForMessage(unit);
    return false;
  }
  const std::string name = binding->name;
  CMC_Parameter* p = ParameterOf(*binding);
  if (p == nullptr || p->SetShownUnit(unit) == 0) {
    why = "the document refuses the unit " + axcore::QuoteForMessage(unit) + " for " + axcore::QuoteForMessage(name);
    return false;
  }
  RefreshParameterControls(name.c_str());
  OnChangedParameterUnit(name.c_str());
  return true;
}

bool CMC_EditSetupDlg::UserChecks(int id, bool checked, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::Check}, "checked", why)) return false;
  if (state->checked == checked) return true;
  CheckDlgButton(id, checked);
  if (const Binding* binding = BindingOf(id); binding != nullptr && binding->kind == Binding::Kind::Check)
    CommitValue(*binding, checked ? 1.0 : 0.0);
  OnCommand(id);
  return true;
}

bool CMC_EditSetupDlg::UserClicksRadio(int id, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::Radio}, "pressed as a radio button", why)) return false;
  const Binding* binding = BindingOf(id);
  if (binding != nullptr && binding->kind == Binding::Kind::Switch) {
    axcore::QuietLookup quiet;
    const CMC_Parameter* p = m_setup->FindParameter(binding->name);
    const double value = static_cast<double>(id - binding->first);
    if (p != nullptr && p->GetValueInBaseUnit() != value) {
      CommitValue(*binding, value);
    } else {
      RefreshBinding(*binding);
    }
  } else {
    // An unbound group: the buttons of consecutive ids in the same container.
    const int parent = m_template ? m_template->Find(id)->parent : 0;
    auto sibling = [&](int other) {
      const ControlState* s = GetControl(other);
      const axcore::ControlTemplate* t = m_template ? m_template->Find(other) : nullptr;
      return s != nullptr && s->kind == ControlKind::Radio && t != nullptr && t->parent == parent;
    };
    for (int other = id - 1; sibling(other); --other) CheckDlgButton(other, false);
    for (int other = id + 1; sibling(other); ++other) CheckDlgButton(other, false);
    CheckDlgButton(id, true);
  }
  OnCommand(id);
  return true;
}

bool CMC_EditSetupDlg::UserSelects(int id, std::string_view itemText, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr) return false;
  if (state->kind == ControlKind::UnitCombo) return UserPicksUnit(id, itemText, why);
  if (!IsKind(*state, {ControlKind::Combo}, "chosen from", why)) return false;
  auto item = std::find_if(state->items.begin(), state->items.end(),
                           [&](const ComboItem& i) { return i.text == itemText; });
  if (item == state->items.end()) {
    why = "combo " + std::to_string(id) + " has no item " + axcore::QuoteForMessage(itemText);
    return false;
  }
  const int index = static_cast<int>(item - state->items.begin());
  if (index == state->selection) return true;
  const std::intptr_t data = item->data;
  MutableControl(id)->selection = index;
  Changed(id);
  if (const Binding* binding = BindingOf(id); binding != nullptr && binding->kind == Binding::Kind::Combo)
    CommitValue(*binding, static_cast<double>(data));
  OnSelChange(id);
  return true;
}

bool CMC_EditSetupDlg::UserSelectsTab(int id, int page, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::Tab}, "turned to a page", why)) return false;
  if (page < 0 || page >= static_cast<int>(state->items.size())) {
    why = "tab control " + std::to_string(id) + " has no page " + std::to_string(page);
    return false;
  }
  if (page == state->selection) return true;
  SetTabSelection(id, page);
  OnTabChange(id);
  return true;
}

bool CMC_EditSetupDlg::UserSlides(int id, int position, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr || !IsKind(*state, {ControlKind::Slider}, "slid", why)) return false;
  if (position < state->minimum || position > state->maximum) {
    why = "slider " + std::to_string(id) + " goes from " + std::to_string(state->minimum) + " to " +
          std::to_string(state->maximum) + ", not to " + std::to_string(position);
    return false;
  }
  SetSliderPosition(id, position);
  if (const Binding* binding = BindingOf(id); binding != nullptr && binding->kind == Binding::Kind::Slider) {
    axcore::QuietLookup quiet;
    if (const CMC_Parameter* p = m_setup->FindParameter(binding->name); p != nullptr) {
      const auto [lo, hi] = SliderSpan(*binding, *p);
      CommitValue(*binding, lo + (hi - lo) * position / binding->steps);
    }
  }
  return true;
}

bool CMC_EditSetupDlg::UserClicks(int id, std::string& why) {
  const ControlState* state = Usable(id, why);
  if (state == nullptr) return false;
  switch (state->kind) {
    case ControlKind::Check:
      return UserChecks(id, !state->checked, why);
    case ControlKind::Radio:
      return UserClicksRadio(id, why);
    case ControlKind::Spin: {
      const Binding* binding = BindingOf(id);
      if (binding != nullptr && binding->kind == Binding::Kind::Slider) {
        const ControlState* slider = GetControl(binding->first);
        if (slider != nullptr) {
          const int step = id == binding->spinUp ? 1 : -1;
          const int position = std::clamp(slider->position + step, slider->minimum, slider->maximum);
          if (position != slider->position) return UserSlides(binding->first, position, why);
        }
      }
      OnCommand(id);
      return true;
    }
    case ControlKind::Button:
      OnCommand(id);
      return true;
    default:
      why = Describe(id, *state) + " cannot be clicked";
      return false;
  }
}

bool CMC_EditSetupDlg::UserPressesKeys(std::string_view chord, std::string& why) {
  if (chord.empty()) {
    why = "no key given";
    return false;
  }
  std::string normal(chord);
  std::transform(normal.begin(), normal.end(), normal.begin(), [](unsigned char c) { return std::tolower(c); });
  OnKeyChord(normal);
  return true;
}

bool CMC_EditSetupDlg::UserRightClicks(int id, std::string& why, bool* handled) {
  if (Usable(id, why) == nullptr) return false;
  const bool taken = OnContextMenu(id);
  if (handled != nullptr) *handled = taken;
  return true;
}

bool CMC_EditSetupDlg::UserSendsMessage(int id, unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                                        std::string& why) {
  if (Usable(id, why) == nullptr) return false;
  OnControlMessage(id, message, wParam, lParam);
  return true;
}
