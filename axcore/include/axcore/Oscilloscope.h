// The polling plot of a test dialog: the dialog reads a few drive variables
// as fast as its loop turns and adds one sample of each with AddPoints; the
// plot shows the last GetWindowPoints samples of every channel in a plot
// control, the newest on the right, rolling on as samples come. Pausing is
// the caller's: it simply stops adding.
//
// Each channel has a span: the value `from` at the top of the plot, `to` at
// the bottom (from may be below to: the plot is then upside down for that
// channel). The vertical axis is channel 0's, in its values; another
// channel is drawn so that its own span fills the same height. The
// horizontal axis counts the samples added since Initialize ("Samples").
// Channels are numbered from 0, in the order of AddPoints' values.
#pragma once

#include <deque>
#include <span>
#include <string>
#include <vector>

class CMC_EditSetupDlg;

class CMC_Oscilloscope {
 public:
  static constexpr int kMaxChannels = 8;
  static constexpr int kDefaultWindowPoints = 500;

  // Starts afresh with `channels` channels (1 to kMaxChannels), an empty
  // window, each channel spanning 1 (top) to 0 (bottom), drawn in the host
  // colours 0, 1, ... (RGB16); `name` titles the plot (null or "": none);
  // `flags` are kept for the callers that pass them and change nothing.
  // Non-zero on success; a binding to a plot control stays.
  int Initialize(const char* name, int channels, int flags);
  // Channel `channel` spans `from` at the top to `to` at the bottom; both
  // finite and different, else nothing changes and 0 is returned.
  int SetChannelSpan(int channel, double from, double to);
  // The colour of a channel's trace, an index of the host's palette.
  int SetTraceColour(int channel, int colour);
  // "#rrggbb" of a channel's trace (for the dialog's swatch); "" for none.
  std::string GetTraceColour(int channel) const;
  // Samples the window shows (2 to 100000); older ones roll off.
  int SetWindowPoints(int points);
  int GetWindowPoints() const { return m_window; }

  // Draws into plot control `id` of `dialog` from now on; false when the
  // dialog has no such plot control.
  bool SubclassDlgItem(int id, CMC_EditSetupDlg* dialog);
  // One sample of each channel, in channel order; the plot is redrawn.
  // Non-zero when exactly one value per channel was given (a NaN value
  // breaks the trace there).
  int AddPoints(std::span<const double> values);
  template <class... Values>
  int AddPoints(double first, Values... rest) {
    const double values[] = {first, static_cast<double>(rest)...};
    return AddPoints(std::span<const double>(values));
  }
  // The samples the window holds now, oldest first (a row per sample).
  const std::deque<std::vector<double>>& GetWindow() const { return m_samples; }
  // Samples added since Initialize.
  long long GetSampleCount() const { return m_count; }
  // Draws the window into the plot control again.
  void Redraw();

 private:
  struct Channel {
    double from = 1.0, to = 0.0;
    int colour = 0;
  };
  std::string m_name;
  std::vector<Channel> m_channels;
  int m_window = kDefaultWindowPoints;
  std::deque<std::vector<double>> m_samples;
  long long m_count = 0;
  CMC_EditSetupDlg* m_dialog = nullptr;
  int m_id = 0;
};
