// The drive's scope: while a test program runs and the host has started
// it, it samples its variables every `divider` speed-loop periods and sends
// the samples to the host in scope frames (the layout is ScopeSettings' in
// axcore/DriveLink.h), queued for the host to take.
//
// The queue holds kQueueFrames frames (2.5 s of samples at the usual rate).
// A host that stops taking them meets what a real link does when its
// buffer overflows: the drive drops the oldest frame for each new one and
// counts the drops; the host sees the gap in the sample index of the next
// frame it gets. The end-of-stream frame is always queued.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "axcore/DriveLink.h"

namespace virtualdrive {

class DriveFirmware;

class DriveScope {
 public:
  static constexpr std::size_t kQueueFrames = 256;

  // Checks the settings and finds every variable; false with the reason
  // (the scope keeps what it did) when one is out of range or unknown.
  bool Start(const ScopeSettings& settings, DriveFirmware& drive, std::string& error);
  // Stops at once: what is not yet sent is dropped, no end of stream.
  void Stop();
  bool Started() const { return m_started; }
  // Called in the first current-loop period of each speed-loop period while
  // a program runs, where the data logger records, `speedLoopPeriod_s` the
  // speed-loop period.
  void SpeedLoopTick(double speedLoopPeriod_s);
  // The program ended: the samples held go out, then the end of stream,
  // and the scope stops. Nothing happens when it never sampled.
  void ProgramEnded();
  // The queued frames, oldest first; the queue is emptied.
  void Take(std::vector<UnsolicitedMessage>& messages);
  std::uint64_t DroppedFrames() const { return m_dropped; }

 private:
  void Send();
  void Queue(UnsolicitedMessage message);

  bool m_started = false;
  bool m_sampled = false;
  int m_divider = 1;
  int m_countdown = 0;
  int m_frameSamples = ScopeSettings::kMaxSamplesPerFrame;
  std::uint32_t m_period_ns = 0;
  std::vector<const double*> m_sources;
  std::uint32_t m_nextIndex = 0;   // index of the next sample taken
  std::uint32_t m_frameFirst = 0;  // index of the first sample held
  std::vector<std::uint16_t> m_words;  // samples held, encoded
  int m_held = 0;
  std::deque<UnsolicitedMessage> m_queue;
  std::uint64_t m_dropped = 0;
};

}  // namespace virtualdrive
