#include "ScopeSettingsDlg.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "axcore/Names.h"
#include "axcore/Units.h"

namespace axcore {
namespace {

// Controls (see CMC_ScopeLogger::EditSettings).
constexpr int kWindowGroup = 100;
constexpr int kPointsEdit = 102;
constexpr int kDividerEdit = 104;
constexpr int kTriggerGroup = 110;
constexpr int kModeCombo = 112;
constexpr int kSlopeCombo = 114;
constexpr int kChannelCombo = 116;
constexpr int kLevelEdit = 118;
constexpr int kLevelUnit = 119;
constexpr int kPreTriggerEdit = 121;
constexpr int kChannelsGroup = 200;
// Channel k's row: its name, scale per division, the scale's unit, the
// offset and the offset's unit.
constexpr int ChannelControl(int channel, int column) { return kChannelsGroup + 10 * channel + column; }
constexpr int kNameColumn = 1, kScaleColumn = 2, kUnitColumn = 3, kOffsetColumn = 4, kOffsetUnitColumn = 5;

// Names of the dialog's own values.
constexpr const char* kPoints = "WindowPoints";
constexpr const char* kDivider = "Divider";
constexpr const char* kMode = "TriggerMode";
constexpr const char* kSlope = "TriggerSlope";
constexpr const char* kChannel = "TriggerChannel";
constexpr const char* kLevel = "TriggerLevel";
constexpr const char* kPreTrigger = "PreTrigger";
std::string ScaleName(int channel) { return "Scale" + std::to_string(channel); }
std::string OffsetName(int channel) { return "Offset" + std::to_string(channel); }

void Add(DialogTemplate& layout, int id, ControlKind kind, std::string text, int parent, int row, int column,
         int rows = 1, int columns = 1, int width = 0) {
  ControlTemplate control;
  control.id = id;
  control.kind = kind;
  control.text = std::move(text);
  control.parent = parent;
  control.row = row;
  control.column = column;
  control.rows = rows;
  control.columns = columns;
  control.width = width;
  layout.controls.push_back(std::move(control));
}

DialogTemplate MakeTemplate(const std::vector<std::string>& channels) {
  DialogTemplate layout;
  layout.id = CMC_ScopeLogger::kSettingsDialog;
  layout.caption = "Scope Settings";
  Add(layout, kWindowGroup, ControlKind::Group, "Window", 0, 0, 0);
  Add(layout, 101, ControlKind::Label, "Points", kWindowGroup, 0, 0);
  Add(layout, kPointsEdit, ControlKind::Edit, "", kWindowGroup, 0, 1);
  Add(layout, 103, ControlKind::Label, "Sample every", kWindowGroup, 1, 0);
  Add(layout, kDividerEdit, ControlKind::Edit, "", kWindowGroup, 1, 1);
  Add(layout, 105, ControlKind::Label, "speed-loop periods", kWindowGroup, 1, 2);

  Add(layout, kTriggerGroup, ControlKind::Group, "Trigger", 0, 1, 0);
  Add(layout, 111, ControlKind::Label, "Mode", kTriggerGroup, 0, 0);
  Add(layout, kModeCombo, ControlKind::Combo, "", kTriggerGroup, 0, 1, 1, 2, 12);
  Add(layout, 113, ControlKind::Label, "Slope", kTriggerGroup, 1, 0);
  Add(layout, kSlopeCombo, ControlKind::Combo, "", kTriggerGroup, 1, 1, 1, 2, 12);
  Add(layout, 115, ControlKind::Label, "Channel", kTriggerGroup, 2, 0);
  Add(layout, kChannelCombo, ControlKind::Combo, "", kTriggerGroup, 2, 1, 1, 2, 16);
  Add(layout, 117, ControlKind::Label, "Level", kTriggerGroup, 3, 0);
  Add(layout, kLevelEdit, ControlKind::Edit, "", kTriggerGroup, 3, 1);
  Add(layout, kLevelUnit, ControlKind::UnitCombo, "", kTriggerGroup, 3, 2);
  Add(layout, 120, ControlKind::Label, "Pre-trigger (%)", kTriggerGroup, 4, 0);
  Add(layout, kPreTriggerEdit, ControlKind::Edit, "", kTriggerGroup, 4, 1);

  Add(layout, kChannelsGroup, ControlKind::Group, "Channels", 0, 0, 1, 2, 1);
  Add(layout, 201, ControlKind::Label, channels.empty() ? "The scope has no channels." : "Channel", kChannelsGroup, 0,
      0);
  if (!channels.empty()) {
    Add(layout, 202, ControlKind::Label, "Per division", kChannelsGroup, 0, 1);
    Add(layout, 203, ControlKind::Label, "Unit", kChannelsGroup, 0, 2);
    Add(layout, 204, ControlKind::Label, "Offset", kChannelsGroup, 0, 3);
  }
  for (std::size_t k = 0; k < channels.size(); ++k) {
    const int channel = static_cast<int>(k) + 1;
    Add(layout, ChannelControl(channel, kNameColumn), ControlKind::Label, channels[k], kChannelsGroup, channel, 0);
    Add(layout, ChannelControl(channel, kScaleColumn), ControlKind::Edit, "", kChannelsGroup, channel, 1);
    Add(layout, ChannelControl(channel, kUnitColumn), ControlKind::UnitCombo, "", kChannelsGroup, channel, 2);
    Add(layout, ChannelControl(channel, kOffsetColumn), ControlKind::Edit, "", kChannelsGroup, channel, 3);
    Add(layout, ChannelControl(channel, kOffsetUnitColumn), ControlKind::Label, "", kChannelsGroup, channel, 4, 1, 1,
        5);
  }
  Add(layout, IDOK, ControlKind::Button, "OK", 0, 0, 2);
  Add(layout, IDCANCEL, ControlKind::Button, "Cancel", 0, 1, 2);
  return layout;
}

// A value of the dialog's own; a unit the catalogue lacks gives a plain number.
CMC_Parameter* AddValue(CMC_Setup& values, const std::string& name, const std::string& unit, bool isInt,
                        std::optional<double> minimum, std::optional<double> maximum) {
  ParameterSpec spec;
  spec.name = name;
  spec.unit = CMC_Units::FindUnit(unit) != nullptr ? unit : "";
  spec.isInt = isInt;
  spec.min = minimum;
  spec.max = maximum;
  return values.AddParameter(spec);
}

// Values that differ by more than rounding in a unit conversion.
bool Differs(double a, double b) { return std::fabs(a - b) > 1e-9 * std::max(std::fabs(a), std::fabs(b)); }

}  // namespace

ScopeSettingsDlg::ScopeSettingsDlg(CMC_ScopeLogger& scope, CMC_EditSetupDlg* parent)
    : CMC_EditSetupDlg(&values, CMC_ScopeLogger::kSettingsDialog, 1, nullptr, parent), m_scope(scope) {
  const std::vector<std::string>& channels = scope.GetSettings().variables;
  SetOwnTemplate(MakeTemplate(channels));

  int trigger = 0;
  for (int channel = 1; channel <= Channels() && trigger == 0; ++channel)
    if (EqualsIgnoreCase(channels[static_cast<std::size_t>(channel - 1)], scope.GetTriggerChannel())) trigger = channel;
  if (trigger == 0 && Channels() > 0) trigger = 1;

  AddValue(values, kPoints, "", true, 1.0, CMC_ScopeLogger::kMaxWindowPoints)->SetValueInBaseUnit(scope.GetPointsNo());
  AddValue(values, kDivider, "", true, 1.0, 1000.0)->SetValueInBaseUnit(scope.GetDivider());
  AddValue(values, kMode, "", true, {}, {})->SetValueInBaseUnit(scope.GetTriggerMode());
  AddValue(values, kSlope, "", true, 0.0, 1.0)->SetValueInBaseUnit(scope.GetTriggerSlope());
  AddValue(values, kChannel, "", true, 0.0, Channels())->SetValueInBaseUnit(trigger);
  AddValue(values, kLevel, ColumnUnit(trigger), false, {}, {})->SetValueInBaseUnit(scope.GetTriggerLevel());
  AddValue(values, kPreTrigger, "", false, 0.0, 100.0)->SetValueInBaseUnit(scope.GetPreTriggerPercent());
  AddParameterControls(kPoints, kPointsEdit);
  AddParameterControls(kDivider, kDividerEdit);
  AddComboParameterControls(kMode, kModeCombo);
  AddComboParameterControls(kSlope, kSlopeCombo);
  AddComboParameterControls(kChannel, kChannelCombo);
  AddParameterControls(kLevel, kLevelEdit, kLevelUnit);
  AddParameterControls(kPreTrigger, kPreTriggerEdit);

  for (int channel = 1; channel <= Channels(); ++channel) {
    double perDivision = 1.0, offset = 0.0;
    std::string unit;
    scope.GetChannelScale(channel, perDivision, offset, unit);
    // The smallest scale a field takes: a scale must stay above zero.
    CMC_Parameter* scale = AddValue(values, ScaleName(channel), ColumnUnit(channel), false, 1e-12, {});
    CMC_Parameter* shift = AddValue(values, OffsetName(channel), ColumnUnit(channel), false, {}, {});
    for (CMC_Parameter* p : {scale, shift}) p->SetShownUnit(unit);
    scale->SetValueInBaseUnit(perDivision * scale->GetShownUnit().GetFactorToBase());
    shift->SetValueInBaseUnit(offset * shift->GetShownUnit().GetFactorToBase());
    AddParameterControls(ScaleName(channel).c_str(), ChannelControl(channel, kScaleColumn),
                         ChannelControl(channel, kUnitColumn));
    AddParameterControls(OffsetName(channel).c_str(), ChannelControl(channel, kOffsetColumn));
  }
}

int ScopeSettingsDlg::Channels() const { return static_cast<int>(m_scope.GetSettings().variables.size()); }

std::string ScopeSettingsDlg::ColumnUnit(int channel) const {
  const std::vector<GraphColumn>& columns = m_scope.GetPlotDocument().Columns();
  return channel >= 1 && static_cast<std::size_t>(channel) < columns.size()
             ? columns[static_cast<std::size_t>(channel)].unit
             : std::string();
}

bool ScopeSettingsDlg::OnInitDialog() {
  auto fill = [this](int id, const std::vector<std::pair<std::string, int>>& items) {
    CComboBox combo;
    combo.Attach(this, id);
    for (const auto& [text, data] : items) combo.SetItemData(combo.AddString(text), data);
  };
  fill(kModeCombo, {{"Free running", CMC_ScopeLogger::kFreeRunning},
                    {"Normal", CMC_ScopeLogger::kNormal},
                    {"Single", CMC_ScopeLogger::kSingle}});
  fill(kSlopeCombo, {{"Rising", 1}, {"Falling", 0}});
  std::vector<std::pair<std::string, int>> channels;
  for (int channel = 1; channel <= Channels(); ++channel)
    channels.emplace_back(m_scope.GetSettings().variables[static_cast<std::size_t>(channel - 1)], channel);
  if (channels.empty()) channels.emplace_back("(none)", 0);
  fill(kChannelCombo, channels);
  CMC_EditSetupDlg::OnInitDialog();
  for (int channel = 1; channel <= Channels(); ++channel) FollowScaleUnit(channel);
  return true;
}

void ScopeSettingsDlg::DoDataExchange(bool save) {
  if (save) return;
  // A free-running scope has no trigger to set.
  const bool triggered = static_cast<int>(values.GetParameterValueInBaseUnit(kMode)) != CMC_ScopeLogger::kFreeRunning;
  for (int id : {kSlopeCombo, kChannelCombo, kLevelEdit, kLevelUnit, kPreTriggerEdit}) EnableChild(id, triggered);
}

void ScopeSettingsDlg::OnChangedParameterValue(const char* name) {
  const std::string changed = name != nullptr ? name : "";
  if (changed == kMode) UpdateData(false);
  if (changed == kChannel) FollowTriggerChannel();
}

void ScopeSettingsDlg::OnChangedParameterUnit(const char* name) {
  for (int channel = 1; channel <= Channels(); ++channel)
    if (ScaleName(channel) == (name != nullptr ? name : "")) FollowScaleUnit(channel);
}

void ScopeSettingsDlg::FollowTriggerChannel() {
  const int channel = static_cast<int>(values.GetParameterValueInBaseUnit(kChannel));
  const std::string unit = ColumnUnit(channel);
  if (CMC_Parameter* level = values.FindParameter(kLevel); level != nullptr && CMC_Units::FindUnit(unit) != nullptr)
    level->ChangeUnitType(unit);
  RefreshParameterControls(kLevel);
}

void ScopeSettingsDlg::FollowScaleUnit(int channel) {
  const CMC_Parameter* scale = values.FindParameter(ScaleName(channel));
  CMC_Parameter* offset = values.FindParameter(OffsetName(channel));
  if (scale == nullptr || offset == nullptr) return;
  offset->SetShownUnit(scale->GetShownUnit().GetName());
  RefreshParameterControls(OffsetName(channel).c_str());
  SetChildText(ChannelControl(channel, kOffsetUnitColumn), scale->GetShownUnit().GetName());
}

bool ScopeSettingsDlg::Apply(std::string& why) {
  const std::vector<std::string>& channels = m_scope.GetSettings().variables;
  const int mode = static_cast<int>(values.GetParameterValueInBaseUnit(kMode));
  const int channel = static_cast<int>(values.GetParameterValueInBaseUnit(kChannel));
  // A free-running scope keeps the channel it had: the dialog greys it.
  std::string trigger = mode == CMC_ScopeLogger::kFreeRunning ? m_scope.GetTriggerChannel() : std::string();
  if (mode != CMC_ScopeLogger::kFreeRunning && channel >= 1 && channel <= Channels()) {
    trigger = channels[static_cast<std::size_t>(channel - 1)];
    // The name as the scope has it, when it is the same channel.
    if (EqualsIgnoreCase(trigger, m_scope.GetTriggerChannel())) trigger = m_scope.GetTriggerChannel();
  }
  if (mode != CMC_ScopeLogger::kFreeRunning && trigger.empty()) {
    why = "A triggered scope needs a channel to trigger on: add channels to the scope or let it run free.";
    return false;
  }
  const int points = static_cast<int>(values.GetParameterValueInBaseUnit(kPoints));
  const int divider = static_cast<int>(values.GetParameterValueInBaseUnit(kDivider));
  if (m_scope.ChangeSettings(points, mode, static_cast<int>(values.GetParameterValueInBaseUnit(kSlope)),
                             trigger.c_str(), values.GetParameterValueInBaseUnit(kLevel),
                             values.GetParameterValueInBaseUnit(kPreTrigger)) == 0 ||
      m_scope.SetDivider(divider) == 0) {
    why = "The scope cannot take this window or trigger.";
    return false;
  }
  for (int k = 1; k <= Channels(); ++k) {
    const CMC_Parameter* scale = values.FindParameter(ScaleName(k));
    const CMC_Parameter* offset = values.FindParameter(OffsetName(k));
    if (scale == nullptr || offset == nullptr) continue;
    double perDivision = 1.0, shift = 0.0;
    std::string unit;
    m_scope.GetChannelScale(k, perDivision, shift, unit);
    const std::string shown = scale->GetShownUnit().GetName();
    // A channel left as it was keeps its settings exactly (no rounding
    // through the unit shown).
    if (shown == unit && !Differs(perDivision, scale->GetValueInShownUnit()) &&
        !Differs(shift, offset->GetValueInShownUnit()))
      continue;
    if (m_scope.RescaleVariable(channels[static_cast<std::size_t>(k - 1)].c_str(), shown.c_str(),
                                scale->GetValueInShownUnit(), offset->GetValueInShownUnit()) == 0) {
      why = "The scale of channel " + channels[static_cast<std::size_t>(k - 1)] + " must be above zero.";
      return false;
    }
  }
  return true;
}

void ScopeSettingsDlg::OnOK() {
  std::string why;
  if (!Apply(why)) {
    MessageBox(why, MB_OK | MB_ICONWARNING);
    return;
  }
  EndDialog(IDOK);
}

}  // namespace axcore
