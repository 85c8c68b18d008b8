// The drive's scope as the host offers it to a test: the drive streams its
// channels in scope frames while a test program runs (ScopeSettings in
// DriveLink.h), and the host shows them on a screen like an oscilloscope's,
// a window of a fixed number of points that new sweeps overwrite.
//
// Channels are drive variables added with AddVariable, in order; channel k
// (1, 2, ...) is column k of the graph document, column 0 the time. The
// rows are the points of the window, in base units (the setup's variable of
// each name converts the drive's value; a name the setup lacks keeps it):
// row i is window point i, so a dialog draws a sweep point by point with
// CGraphWindow::UpdatePoint, the index wrapping at GetPointsNo.
//
// Trigger modes:
//   1  free running: the samples fill the window from point 0 as they come
//      and wrap round to it, each sweep overwriting the last; the time of
//      point i is i sample periods (the first sweep starts with the first
//      sample the drive took);
//   2  normal: the scope waits for the trigger, fills one window around it,
//      then waits for the next trigger; the window shown stays until a new
//      trigger overwrites it;
//   4  single: as 2, once; DoGracefulStop then reports the end.
// The trigger fires on the first sample of the trigger channel that crosses
// the level (in the channel's base unit) in the direction of the slope: 1
// rising (the sample before below the level, this one at or above it), 0
// falling (the one before above, this one at or below). The trigger sample
// is window point P = the pre-trigger percentage of the window (at most the
// last point); points 0 to P - 1 are the samples before it (blank, NaN,
// where the scope had not yet seen that many), and the time of point i is
// (i - P) sample periods: 0 at the trigger. The scope triggers in the host,
// on the samples streamed; the drive sends all of them.
//
// Display: the screen has kDivisions divisions, from -4 at the bottom to 4
// at the top; channel value v (in the channel's display unit) is drawn at
// (v - offset) / scale divisions. A channel starts at 1 base unit per
// division, offset 0. Rows and the saved CSV keep the values in base units.
//
// Settings (channels, their scales, the graph's curves, window, trigger and
// divider) are kept as one JSON text, in a setup option or a file (by
// default NAME.axscope, DoPromptScopeLoggerFileName below):
//   {"format": "axscope-1", "window_points": 400, "divider": 1,
//    "trigger": {"mode": 4, "slope": 1, "channel": "Speed_Reference",
//                "level": 0.5, "pretrigger_percent": 13},
//    "channels": [{"name": "Speed_Reference", "unit": "m/s",
//                  "per_division": 0.2, "offset": 0}, ...],
//    "curves": [{"x": 0, "y": 1, "axis": 1, "colour": 2, "style": 2}, ...]}
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "axcore/Logger.h"

class CMC_EditSetupDlg;
class CMC_Variable;

// Asks the user for a scope settings file: mode 1 one to load, 0 one to
// save to; `name` gives the name offered, NAME.axscope ("Scope.axscope"
// without one), in the graph folder (CMC_Logger::GetGraphFolder). The path
// chosen, "" when the user cancelled.
std::string DoPromptScopeLoggerFileName(int mode, const char* name);

class CMC_ScopeLogger : public CMC_Logger {
 public:
  static constexpr int kFreeRunning = 1;
  static constexpr int kNormal = 2;
  static constexpr int kSingle = 4;
  static constexpr int kDivisions = 8;
  static constexpr int kMaxWindowPoints = 100000;
  // Curves a scope draws at most: one for each pair of its columns (time
  // and the drive's eight channels).
  static constexpr int kMaxCurves = (ScopeSettings::kMaxChannels + 1) * (ScopeSettings::kMaxChannels + 1);

  explicit CMC_ScopeLogger(CMC_Setup* setup);

  // The window of `windowPoints` samples (1 to kMaxWindowPoints), the
  // trigger mode (1, 2 or 4), slope (1 rising, 0 falling), channel (by name;
  // null or "" with mode 1), level (base unit of the channel) and the part
  // of the window before the trigger (0 to 100 %). Non-zero when sound;
  // otherwise nothing changes. The trigger channel is looked up when the
  // upload begins.
  int ChangeSettings(int windowPoints, int triggerMode, int triggerSlope, const char* triggerChannel,
                     double triggerLevel, double preTriggerPercent);
  // Speed-loop periods between two samples (1 to 1000); non-zero when sound.
  int SetDivider(int divider);
  int GetDivider() const { return m_divider; }
  int GetTriggerMode() const { return m_mode; }
  int GetTriggerSlope() const { return m_slope; }
  const std::string& GetTriggerChannel() const { return m_triggerChannel; }
  double GetTriggerLevel() const { return m_level; }
  double GetPreTriggerPercent() const { return m_preTrigger; }
  int GetPointsNo() const override { return m_windowPoints; }
  // The trigger sample's window point (0 in free-running mode).
  int GetTriggerPoint() const;

  // Shows channel `name` in `unit` (null or "": its base unit; else a unit
  // of the same type) at `scalePerDivision` units per division (> 0), the
  // value `offset` (in `unit`) on the centre line. Non-zero on success.
  int RescaleVariable(const char* name, const char* unit, double scalePerDivision, double offset);
  // The user's scale change on the screen: channel `channel` (1, 2, ...)
  // `steps` steps coarser (positive) or finer (negative) along 1, 2, 5,
  // 10, ... units per division, its offset kept in divisions. `steps` is a
  // signed 16-bit count: 0x8000 to 0xFFFF count as negative, so the high
  // word of a window message goes in as it is. Non-zero when the scale
  // changed.
  int ChangeChannelScale(int channel, int steps);
  // Scale per division and offset of a channel in its display unit, and the
  // unit ("" when the channel has none); false for an unknown channel.
  bool GetChannelScale(int channel, double& scalePerDivision, double& offset, std::string& unit) const;
  // Rescales every channel so that the values the window holds now fill
  // the screen: the smallest scale of 1, 2, 5, 10, ... units per division
  // that shows them all, the offset a whole number of divisions (the centre
  // line near their middle). A channel with nothing to show keeps its
  // scale; a flat one keeps its scale and is centred. Non-zero when a scale
  // or offset changed.
  int Autoscale();
  // The host's dialog of the scope's settings, modal over `parent`: the
  // window (points, divider), the trigger (mode, slope, channel, level,
  // pre-trigger %) and each channel's unit, scale per division and offset.
  // Non-zero when the user closed it with OK and changed something.
  //
  // Dialog kSettingsDialog, "Scope Settings"; its controls for scripts:
  //   102 points, 104 divider (edits);
  //   112 mode ("Free running", "Normal", "Single"), 114 slope ("Rising",
  //   "Falling"), 116 channel (the channels' names) (combos); 118 level with
  //   its unit box 119, 121 pre-trigger % (edits);
  //   channel k (1, 2, ...): 200 + 10k + 2 scale per division with its unit
  //   box 200 + 10k + 3, 200 + 10k + 4 offset (in that unit);
  //   1 OK, 2 Cancel.
  static constexpr int kSettingsDialog = 30100;
  int EditSettings(CMC_EditSetupDlg* parent);

  // Back to a new scope's state: no channels, no curves, window of 1000
  // points, free running, divider 1.
  void SetDefaultValues();
  // The settings as JSON text and from it (false with the reason, nothing
  // changed, when the text is not valid).
  std::string SettingsToJson() const;
  bool SettingsFromJson(const std::string& text, std::string& why);
  // The settings in setup option `option`: non-zero when the option holds
  // valid settings (loaded) or was written.
  int LoadSettingsFromSetupOption(const char* option);
  int SaveSettingsToSetupOption(const char* option) const;
  // The settings file: non-zero when read (and valid) or written whole;
  // otherwise GetSettingsError says why.
  int Load(const char* path);
  int Save(const char* path) const;
  const std::string& GetSettingsError() const { return m_settingsError; }

  // Asks the drive to stream the channels (DriveLink::StartScope) and
  // empties the window; non-zero when the drive took it, else the reason is
  // in CMC_Comm::GetLastErrorText (also for no channels or a trigger
  // channel that is not one of them).
  int BeginUploadData() override;
  // One frame's payload (ScopeFramePayload): its samples into the window.
  // Gives the number of window points written (0: none; a frame while not
  // uploading, one out of order or whose size does not fit the channels is
  // dropped). A gap in the sample index (frames lost on the way) is drawn
  // as blank points. An empty payload is the drive's end of stream.
  int OnFrameReceive(std::span<const std::uint8_t> payload);
  // The window points written since the last call: `count` points from
  // `first` on, the index wrapping at GetPointsNo (at most a whole
  // window); false when there are none.
  bool GetPointsToBeDrawn(int& first, int& count);
  // Between a successful BeginUploadData and EndUploadData or the drive's
  // end of stream.
  bool IsUploading() const { return m_uploading; }
  // True once a single window is complete or the drive ended its stream.
  bool DoGracefulStop() const { return m_complete || m_ended; }
  // Stops the drive's scope; the window keeps what it shows. Non-zero when
  // the drive stopped it, else the reason is in CMC_Comm::GetLastErrorText.
  int EndUploadData();
  // Samples the drive dropped on the way (the gaps) and frames this host
  // dropped, since the upload began.
  std::uint64_t GetLostSamples() const { return m_lostSamples; }
  std::uint64_t GetDroppedFrames() const { return m_droppedFrames; }

 protected:
  std::string DefaultGraphName() const override { return "Scope"; }

 private:
  struct Scale {
    std::string unit;
    double perDivision = 1.0;
    double offset = 0.0;
  };
  int ChannelCount() const { return static_cast<int>(GetSettings().variables.size()); }
  Scale& ScaleOf(int channel);
  void ApplyDisplay();
  void TakeSample(const std::vector<double>& values);
  void Write(const std::vector<double>& values);

  int m_windowPoints = 1000;
  int m_mode = kFreeRunning;
  int m_slope = 1;
  std::string m_triggerChannel;
  double m_level = 0.0;
  double m_preTrigger = 0.0;
  int m_divider = 1;
  std::vector<Scale> m_scales;
  mutable std::string m_settingsError;

  // Upload state.
  bool m_uploading = false, m_ended = false, m_complete = false;
  bool m_capturing = false, m_first = true;
  int m_triggerColumn = 0;  // channel number; 0 none
  double m_period_s = 0.0;
  std::uint32_t m_expected = 0;
  double m_previous = 0.0;  // the trigger channel's last sample
  std::vector<const CMC_Variable*> m_variables;  // by channel; null: drive units
  std::deque<std::vector<double>> m_history;  // samples before a trigger
  int m_position = 0;
  int m_dirtyFirst = 0, m_dirtyCount = 0;
  std::uint64_t m_writes = 0;  // window points written, ever
  std::uint64_t m_lostSamples = 0, m_droppedFrames = 0;
};
