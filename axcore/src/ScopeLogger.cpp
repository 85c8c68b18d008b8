#include "axcore/ScopeLogger.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "axcore/Comm.h"
#include "axcore/Diagnostics.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/JsonInput.h"
#include "axcore/MessageText.h"
#include "axcore/Names.h"
#include "axcore/Setup.h"
#include "axcore/SetupFile.h"
#include "axcore/Units.h"
#include "ScopeSettingsDlg.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint32_t Long(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The next value of 1, 2, 5, 10, 20, ... above `s` (up) or below it (down).
double NextScale(double s, bool up) {
  const double decade = std::pow(10.0, std::floor(std::log10(s)));
  double best = up ? std::numeric_limits<double>::infinity() : 0.0;
  for (double d : {decade / 10, decade, decade * 10})
    for (double m : {1.0, 2.0, 5.0}) {
      const double c = m * d;
      if (up && c > s * (1 + 1e-9)) best = std::min(best, c);
      if (!up && c < s * (1 - 1e-9)) best = std::max(best, c);
    }
  return best;
}

// The smallest of 1, 2, 5, 10, 20, ... that is not below `x` (> 0), a
// hair's breadth of rounding forgiven.
double ScaleAtLeast(double x) { return NextScale(x * (1 - 1e-6), true); }

// The unit's factor to the base unit when `unit` names a unit of the same
// type as `base` (or is empty: the base unit itself); 0 otherwise.
double UnitFactor(const std::string& base, const std::string& unit) {
  if (unit.empty() || unit == base) return 1.0;
  const CMC_Unit* target = CMC_Units::FindUnit(unit);
  const CMC_Unit* own = CMC_Units::FindUnit(base);
  if (target == nullptr || own == nullptr || target->GetType() != own->GetType()) return 0.0;
  return target->GetFactorToBase() / own->GetFactorToBase();
}

}  // namespace

CMC_ScopeLogger::CMC_ScopeLogger(CMC_Setup* setup) : CMC_Logger(setup) { GetPlotDocument().SetDivisions(kDivisions); }

int CMC_ScopeLogger::ChangeSettings(int windowPoints, int triggerMode, int triggerSlope, const char* triggerChannel,
                                    double triggerLevel, double preTriggerPercent) {
  const std::string channel = triggerChannel != nullptr ? triggerChannel : "";
  if (windowPoints < 1 || windowPoints > kMaxWindowPoints) return 0;
  if (triggerMode != kFreeRunning && triggerMode != kNormal && triggerMode != kSingle) return 0;
  if ((triggerSlope != 0 && triggerSlope != 1) || !std::isfinite(triggerLevel)) return 0;
  if (!(preTriggerPercent >= 0.0 && preTriggerPercent <= 100.0)) return 0;
  if (triggerMode != kFreeRunning && channel.empty()) return 0;
  m_windowPoints = windowPoints;
  m_mode = triggerMode;
  m_slope = triggerSlope;
  m_triggerChannel = channel;
  m_level = triggerLevel;
  m_preTrigger = preTriggerPercent;
  return 1;
}

int CMC_ScopeLogger::SetDivider(int divider) {
  if (divider < 1 || divider > 1000) return 0;
  m_divider = divider;
  return 1;
}

int CMC_ScopeLogger::GetTriggerPoint() const {
  if (m_mode == kFreeRunning) return 0;
  const double point = std::floor(m_preTrigger / 100.0 * m_windowPoints + 0.5);
  return std::clamp(static_cast<int>(point), 0, m_windowPoints - 1);
}

CMC_ScopeLogger::Scale& CMC_ScopeLogger::ScaleOf(int channel) {
  const auto k = static_cast<std::size_t>(channel - 1);
  if (m_scales.size() <= k) m_scales.resize(k + 1);
  return m_scales[k];
}

void CMC_ScopeLogger::ApplyDisplay() {
  CGraphDocument& graph = GetPlotDocument();
  const std::vector<GraphColumn>& columns = graph.Columns();
  for (int channel = 1; channel <= ChannelCount() && static_cast<std::size_t>(channel) < columns.size(); ++channel) {
    const Scale& scale = ScaleOf(channel);
    const double factor = UnitFactor(columns[static_cast<std::size_t>(channel)].unit, scale.unit);
    if (factor == 0.0) continue;
    graph.SetColumnDisplay(channel, 1.0 / (factor * scale.perDivision), -scale.offset / scale.perDivision);
    // The screen counts divisions: the legend tells what one is worth.
    const std::string unit = scale.unit.empty() ? columns[static_cast<std::size_t>(channel)].unit : scale.unit;
    std::string note = FormatFieldValue(scale.perDivision) + (unit.empty() ? "" : " " + unit) + "/div";
    if (scale.offset != 0.0) note += ", " + FormatFieldValue(scale.offset) + (unit.empty() ? "" : " " + unit) + " at 0";
    graph.SetColumnNote(channel, note);
  }
}

int CMC_ScopeLogger::RescaleVariable(const char* name, const char* unit, double scalePerDivision, double offset) {
  if (name == nullptr || !(scalePerDivision > 0.0) || !std::isfinite(scalePerDivision) || !std::isfinite(offset))
    return 0;
  const std::vector<std::string>& variables = GetSettings().variables;
  for (std::size_t k = 0; k < variables.size(); ++k) {
    if (!axcore::EqualsIgnoreCase(variables[k], name)) continue;
    const int channel = static_cast<int>(k) + 1;
    const std::string shown = unit != nullptr ? unit : "";
    if (UnitFactor(GetPlotDocument().Columns()[k + 1].unit, shown) == 0.0) return 0;
    ScaleOf(channel) = {shown, scalePerDivision, offset};
    ApplyDisplay();
    return 1;
  }
  return 0;
}

int CMC_ScopeLogger::ChangeChannelScale(int channel, int steps) {
  steps &= 0xFFFF;
  if (steps >= 0x8000) steps -= 0x10000;
  if (channel < 1 || channel > ChannelCount() || steps == 0) return 0;
  Scale& scale = ScaleOf(channel);
  const double divisions = scale.offset / scale.perDivision;
  double s = scale.perDivision;
  for (int k = 0; k < std::abs(steps); ++k) s = NextScale(s, steps > 0);
  if (!(s > 0.0) || !std::isfinite(s) || s == scale.perDivision) return 0;
  scale.perDivision = s;
  scale.offset = divisions * s;
  ApplyDisplay();
  return 1;
}

bool CMC_ScopeLogger::GetChannelScale(int channel, double& scalePerDivision, double& offset, std::string& unit) const {
  if (channel < 1 || channel > ChannelCount()) return false;
  const auto k = static_cast<std::size_t>(channel - 1);
  const Scale scale = k < m_scales.size() ? m_scales[k] : Scale{};
  scalePerDivision = scale.perDivision;
  offset = scale.offset;
  unit = scale.unit.empty() ? GetPlotDocument().Columns()[k + 1].unit : scale.unit;
  return true;
}

int CMC_ScopeLogger::Autoscale() {
  const CGraphDocument& graph = GetPlotDocument();
  const std::vector<GraphColumn>& columns = graph.Columns();
  const double half = 0.5 * kDivisions;
  int changed = 0;
  for (int channel = 1; channel <= ChannelCount() && static_cast<std::size_t>(channel) < columns.size(); ++channel) {
    const auto k = static_cast<std::size_t>(channel);
    Scale& scale = ScaleOf(channel);
    const double factor = UnitFactor(columns[k].unit, scale.unit);
    if (factor == 0.0) continue;
    // The values shown now, in the channel's display unit.
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const std::vector<double>& row : graph.Rows()) {
      if (k >= row.size() || !std::isfinite(row[k])) continue;
      lo = std::min(lo, row[k] / factor);
      hi = std::max(hi, row[k] / factor);
    }
    if (!(lo <= hi) || !std::isfinite(hi - lo)) continue;
    double s = hi > lo ? ScaleAtLeast((hi - lo) / kDivisions) : scale.perDivision;
    double offset = 0.0;
    // A centre line on a whole division may leave half a division too
    // little on one side: the next coarser scale then.
    for (int tries = 0; tries < 8 && std::isfinite(s); ++tries) {
      offset = std::round(0.5 * (lo + hi) / s) * s + 0.0;
      const double slack = 1e-9 * s;
      if (lo >= offset - half * s - slack && hi <= offset + half * s + slack) break;
      s = NextScale(s, true);
    }
    if (!(s > 0.0) || !std::isfinite(s) || !std::isfinite(offset)) continue;
    if (s == scale.perDivision && offset == scale.offset) continue;
    scale.perDivision = s;
    scale.offset = offset;
    changed = 1;
  }
  if (changed != 0) ApplyDisplay();
  return changed;
}

int CMC_ScopeLogger::EditSettings(CMC_EditSetupDlg* parent) {
  const std::string before = SettingsToJson();
  axcore::ScopeSettingsDlg dialog(*this, parent);
  if (dialog.DoModal() != IDOK) return 0;
  return SettingsToJson() != before ? 1 : 0;
}

std::string DoPromptScopeLoggerFileName(int mode, const char* name) {
  axcore::FilePrompt prompt;
  prompt.open = mode == 1;
  prompt.title = prompt.open ? "Load Scope Settings" : "Save Scope Settings";
  prompt.defaultName = std::string(name != nullptr && *name != '\0' ? name : "Scope") + ".axscope";
  prompt.filter = "Scope settings (*.axscope)";
  prompt.folder = CMC_Logger::GetGraphFolder();
  return axcore::CurrentPlatform().PromptFileName(prompt, nullptr);
}

void CMC_ScopeLogger::SetDefaultValues() {
  Reset();
  GetPlotDocument().SetDivisions(kDivisions);
  m_scales.clear();
  m_windowPoints = 1000;
  m_mode = kFreeRunning;
  m_slope = 1;
  m_triggerChannel.clear();
  m_level = 0.0;
  m_preTrigger = 0.0;
  m_divider = 1;
}

std::string CMC_ScopeLogger::SettingsToJson() const {
  nlohmann::ordered_json json;
  json["format"] = "axscope-1";
  json["window_points"] = m_windowPoints;
  json["divider"] = m_divider;
  json["trigger"] = {{"mode", m_mode},
                     {"slope", m_slope},
                     {"channel", m_triggerChannel},
                     {"level", m_level},
                     {"pretrigger_percent", m_preTrigger}};
  json["channels"] = nlohmann::ordered_json::array();
  const std::vector<std::string>& variables = GetSettings().variables;
  for (std::size_t k = 0; k < variables.size(); ++k) {
    const Scale scale = k < m_scales.size() ? m_scales[k] : Scale{};
    json["channels"].push_back(
        {{"name", variables[k]}, {"unit", scale.unit}, {"per_division", scale.perDivision}, {"offset", scale.offset}});
  }
  json["curves"] = nlohmann::ordered_json::array();
  for (const CXYCurve& c : GetPlotDocument().GetCurveSet(0).Curves())
    json["curves"].push_back(
        {{"x", c.XColumn()}, {"y", c.YColumn()}, {"axis", c.Axis()}, {"colour", c.Colour()}, {"style", c.Style()}});
  return json.dump();
}

bool CMC_ScopeLogger::SettingsFromJson(const std::string& text, std::string& why) {
  // Through the one reader of JSON input: nesting, repeated keys and huge
  // numbers are refused there, as in every file the host reads.
  const axcore::JsonInput input = axcore::ParseJsonInput(text, "the scope settings");
  if (!input.json || !input.json->is_object()) {
    why = input.json ? "the scope settings are not a JSON object" : input.error;
    return false;
  }
  const nlohmann::ordered_json& json = *input.json;
  // Everything is checked on a new scope first, so that a bad text leaves
  // this one as it was.
  CMC_ScopeLogger loaded(GetSetup());
  // A whole number of `key` in `node` from `minimum` to `maximum`; a number
  // read from a file is converted to an int only after this check.
  auto whole = [&why](const nlohmann::ordered_json& node, const char* key, long long minimum, long long maximum,
                      std::optional<long long> fallback = std::nullopt) -> std::optional<int> {
    long long number = 0;
    const auto it = node.find(key);
    if (it == node.end() && fallback) return static_cast<int>(*fallback);
    if (it == node.end() || !axcore::JsonWholeNumber(*it, minimum, maximum, number)) {
      why = std::string("the scope settings' \"") + key + "\" must be a whole number from " + std::to_string(minimum) +
            " to " + std::to_string(maximum);
      return std::nullopt;
    }
    return static_cast<int>(number);
  };
  constexpr long long kIntMin = std::numeric_limits<int>::min(), kIntMax = std::numeric_limits<int>::max();
  try {
    if (json.value("format", std::string()) != "axscope-1") {
      why = "the scope settings are not of format \"axscope-1\"";
      return false;
    }
    // The drive streams at most kMaxChannels variables; more would only fail
    // when the test starts, with a reason that names something else.
    const auto& channels = json.at("channels");
    if (!channels.is_array() || channels.size() > static_cast<std::size_t>(ScopeSettings::kMaxChannels)) {
      why = "the scope settings have " + std::to_string(channels.is_array() ? channels.size() : 0) +
            " channels; the drive's scope takes 1 to " + std::to_string(ScopeSettings::kMaxChannels);
      if (!channels.is_array()) why = "the scope settings' \"channels\" must be a list";
      return false;
    }
    for (const auto& channel : channels) {
      const std::string name = channel.at("name").get<std::string>();
      if (loaded.AddVariable(name.c_str(), 1) == 0 ||
          loaded.RescaleVariable(name.c_str(), channel.value("unit", std::string()).c_str(),
                                 channel.value("per_division", 1.0), channel.value("offset", 0.0)) == 0) {
        why = "the scope settings' channel \"" + name + "\" is not valid";
        return false;
      }
    }
    const int columns = static_cast<int>(loaded.GetPlotDocument().Columns().size());
    const auto& curves = json.at("curves");
    if (!curves.is_array() || curves.size() > static_cast<std::size_t>(kMaxCurves)) {
      why = curves.is_array() ? "the scope settings have " + std::to_string(curves.size()) +
                                    " curves; a scope draws at most " + std::to_string(kMaxCurves)
                              : "the scope settings' \"curves\" must be a list";
      return false;
    }
    for (const auto& c : curves) {
      const auto x = whole(c, "x", 0, columns - 1), y = x ? whole(c, "y", 0, columns - 1) : std::nullopt;
      const auto axis = y ? whole(c, "axis", 1, 2) : std::nullopt;
      const auto colour = axis ? whole(c, "colour", kIntMin, kIntMax) : std::nullopt;
      const auto style = colour ? whole(c, "style", kIntMin, kIntMax) : std::nullopt;
      if (!style) return false;
      loaded.GetPlotDocument().GetCurveSet(0).AddCurve(CXYCurve(*x, *y, *axis, *colour, *style));
    }
    const auto& trigger = json.at("trigger");
    const auto points = whole(json, "window_points", 1, kMaxWindowPoints);
    const auto mode = points ? whole(trigger, "mode", kIntMin, kIntMax) : std::nullopt;
    const auto slope = mode ? whole(trigger, "slope", 0, 1) : std::nullopt;
    const auto divider = slope ? whole(json, "divider", 1, 1000, 1) : std::nullopt;
    if (!divider) return false;
    if (loaded.ChangeSettings(*points, *mode, *slope, trigger.value("channel", std::string()).c_str(),
                              trigger.at("level").get<double>(), trigger.at("pretrigger_percent").get<double>()) == 0 ||
        loaded.SetDivider(*divider) == 0) {
      why = "the scope settings' window or trigger is out of range";
      return false;
    }
  } catch (const nlohmann::json::exception&) {
    why = "the scope settings lack an entry or hold one of the wrong kind";
    return false;
  }
  // Take the checked settings over.
  SetDefaultValues();
  for (const std::string& name : loaded.GetSettings().variables) AddVariable(name.c_str(), 1);
  for (const CXYCurve& c : loaded.GetPlotDocument().GetCurveSet(0).Curves()) GetPlotDocument().GetCurveSet(0).AddCurve(c);
  m_scales = loaded.m_scales;
  m_scales.resize(static_cast<std::size_t>(ChannelCount()));
  ApplyDisplay();
  ChangeSettings(loaded.m_windowPoints, loaded.m_mode, loaded.m_slope, loaded.m_triggerChannel.c_str(), loaded.m_level,
                 loaded.m_preTrigger);
  m_divider = loaded.m_divider;
  GetPlotDocument().LocateItems();
  return true;
}

int CMC_ScopeLogger::LoadSettingsFromSetupOption(const char* option) {
  if (GetSetup() == nullptr || option == nullptr) return 0;
  const std::string text = GetSetup()->GetOptionNoError(option);
  if (text.empty()) return 0;
  return SettingsFromJson(text, m_settingsError) ? 1 : 0;
}

int CMC_ScopeLogger::SaveSettingsToSetupOption(const char* option) const {
  if (GetSetup() == nullptr || option == nullptr || *option == '\0') return 0;
  GetSetup()->SetOption(option, SettingsToJson());
  return 1;
}

int CMC_ScopeLogger::Load(const char* path) {
  // Only a regular file of sane size is read: a device or a FIFO chosen in
  // the file prompt is refused, not read until memory or patience runs out.
  const std::string file = path != nullptr ? path : "";
  std::string text;
  if (std::string reason = axcore::ReadInputFile(file, text); !reason.empty()) {
    m_settingsError = axcore::QuoteForMessage(file) + ": " + reason;
    return 0;
  }
  return SettingsFromJson(text, m_settingsError) ? 1 : 0;
}

int CMC_ScopeLogger::Save(const char* path) const {
  m_settingsError = axcore::ReplaceFile(path != nullptr ? path : "", SettingsToJson() + "\n");
  return m_settingsError.empty() ? 1 : 0;
}

int CMC_ScopeLogger::BeginUploadData() {
  m_uploading = m_ended = m_complete = m_capturing = false;
  m_first = true;
  m_period_s = 0.0;
  m_expected = 0;
  m_previous = kNaN;
  m_history.clear();
  m_position = m_dirtyFirst = m_dirtyCount = 0;
  m_lostSamples = m_droppedFrames = 0;
  GetPlotDocument().ClearRows();
  const std::vector<std::string>& variables = GetSettings().variables;
  if (variables.empty()) {
    CMC_Comm::SetLastErrorText("the scope has no channels");
    return 0;
  }
  m_triggerColumn = 0;
  if (m_mode != kFreeRunning) {
    for (std::size_t k = 0; k < variables.size() && m_triggerColumn == 0; ++k)
      if (axcore::EqualsIgnoreCase(variables[k], m_triggerChannel)) m_triggerColumn = static_cast<int>(k) + 1;
    if (m_triggerColumn == 0) {
      CMC_Comm::SetLastErrorText("the scope's trigger channel \"" + m_triggerChannel + "\" is not one of its channels");
      return 0;
    }
  }
  m_variables.clear();
  {
    axcore::QuietLookup quiet;
    for (const std::string& name : variables)
      m_variables.push_back(GetSetup() != nullptr ? GetSetup()->FindVariable(name) : nullptr);
  }
  DriveLink* link = CMC_Comm::GetLink();
  if (link == nullptr) {
    CMC_Comm::SetLastErrorText(kNoDriveConnected);
    return 0;
  }
  ScopeSettings settings;
  settings.variables = variables;
  settings.divider = m_divider;
  std::string error;
  if (!link->StartScope(settings, error)) {
    CMC_Comm::SetLastErrorText(error);
    return 0;
  }
  m_uploading = true;
  return 1;
}

int CMC_ScopeLogger::EndUploadData() {
  m_uploading = false;
  DriveLink* link = CMC_Comm::GetLink();
  if (link == nullptr) {
    CMC_Comm::SetLastErrorText(kNoDriveConnected);
    return 0;
  }
  std::string error;
  if (!link->StopScope(error)) {
    CMC_Comm::SetLastErrorText(error);
    return 0;
  }
  return 1;
}

int CMC_ScopeLogger::OnFrameReceive(std::span<const std::uint8_t> payload) {
  if (!m_uploading) return 0;
  if (payload.empty()) {
    // The drive's end of stream: the program ended, the scope stopped.
    m_ended = true;
    m_uploading = false;
    return 0;
  }
  const std::size_t channels = static_cast<std::size_t>(ChannelCount());
  const std::size_t sampleBytes = 4 * channels;
  const std::size_t header = 2 * ScopeSettings::kHeaderWords;
  if (payload.size() < header || (payload.size() - header) % sampleBytes != 0) {
    ++m_droppedFrames;
    return 0;
  }
  const std::uint32_t index = Long(payload, 0);
  const std::uint32_t period_ns = Long(payload, 4);
  if (period_ns == 0 || (!m_first && index < m_expected)) {
    ++m_droppedFrames;
    return 0;
  }
  m_period_s = period_ns * 1e-9;
  const std::uint64_t writesBefore = m_writes;
  if (!m_first && index > m_expected) {
    // Frames lost on the way: blank points keep the time of those after.
    const std::uint64_t gap = index - m_expected;
    m_lostSamples += gap;
    const std::vector<double> blank(channels, kNaN);
    for (std::uint64_t k = 0; k < std::min<std::uint64_t>(gap, static_cast<std::uint64_t>(m_windowPoints)); ++k)
      TakeSample(blank);
  }
  m_first = false;
  const std::size_t samples = (payload.size() - header) / sampleBytes;
  m_expected = index + static_cast<std::uint32_t>(samples);
  std::vector<double> values(channels);
  for (std::size_t s = 0; s < samples && !m_complete; ++s) {
    for (std::size_t c = 0; c < channels; ++c) {
      const auto raw = static_cast<std::int32_t>(Long(payload, header + s * sampleBytes + 4 * c));
      const double drive = raw / ScopeSettings::kValueScale;
      values[c] = m_variables[c] != nullptr ? m_variables[c]->InternalToBase(drive) : drive;
    }
    TakeSample(values);
  }
  return static_cast<int>(std::min<std::uint64_t>(m_writes - writesBefore, static_cast<std::uint64_t>(m_windowPoints)));
}

void CMC_ScopeLogger::TakeSample(const std::vector<double>& values) {
  if (m_complete) return;
  if (m_mode == kFreeRunning) {
    Write(values);
    if (m_position == m_windowPoints) m_position = 0;
    return;
  }
  const double v = values[static_cast<std::size_t>(m_triggerColumn - 1)];
  if (!m_capturing) {
    const bool fires = m_slope == 1 ? (m_previous < m_level && v >= m_level) : (m_previous > m_level && v <= m_level);
    m_previous = v;
    const auto before = static_cast<std::size_t>(GetTriggerPoint());
    if (!fires) {
      if (before == 0) return;
      m_history.push_back(values);
      if (m_history.size() > before) m_history.pop_front();
      return;
    }
    m_capturing = true;
    m_position = 0;
    const std::vector<double> blank(values.size(), kNaN);
    for (std::size_t k = m_history.size(); k < before; ++k) Write(blank);
    for (const std::vector<double>& old : m_history) Write(old);
    m_history.clear();
  } else {
    m_previous = v;
  }
  Write(values);
  if (m_position == m_windowPoints) {
    m_capturing = false;
    m_position = 0;
    m_previous = v;
    if (m_mode == kSingle) m_complete = true;
  }
}

void CMC_ScopeLogger::Write(const std::vector<double>& values) {
  std::vector<double> row;
  row.reserve(values.size() + 1);
  row.push_back((m_position - GetTriggerPoint()) * m_period_s);
  row.insert(row.end(), values.begin(), values.end());
  GetPlotDocument().SetRow(static_cast<std::size_t>(m_position), std::move(row));
  if (m_dirtyCount == 0) m_dirtyFirst = m_position;
  if (m_dirtyCount < m_windowPoints) {
    ++m_dirtyCount;
  } else {
    m_dirtyFirst = (m_dirtyFirst + 1) % m_windowPoints;
  }
  ++m_position;
  ++m_writes;
}

bool CMC_ScopeLogger::GetPointsToBeDrawn(int& first, int& count) {
  first = m_dirtyFirst;
  count = m_dirtyCount;
  m_dirtyCount = 0;
  return count > 0;
}
