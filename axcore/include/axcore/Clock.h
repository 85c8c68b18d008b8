// Time as the host's platform sees it. The desktop runs on the wall clock;
// the headless platform and the command line run on a virtual clock that
// moves only when told to, so a whole drive test runs deterministically.
// The virtual drive advances its simulation to the clock's time whenever it
// is asked anything.
#pragma once

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since an arbitrary start; never decreases.
  virtual double Now() const = 0;
};

class VirtualClock : public Clock {
 public:
  double Now() const override { return m_now_s; }
  // Moves the clock forward; a negative or non-finite step is ignored.
  void Advance(double seconds) {
    if (seconds > 0 && seconds < 1e12) m_now_s += seconds;
  }

 private:
  double m_now_s = 0.0;
};
