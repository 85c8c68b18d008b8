// The drive side of the wire protocol: virtual drives, one per axis ID,
// answering frames. No sockets here (axdrive/Network.h carries the bytes):
// a frame comes in with the connection it came on, the frames to send back
// go out, so the whole server can be driven, and fuzzed, without a network.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "axcore/Clock.h"
#include "drivewire/Frame.h"
#include "drivewire/Messages.h"
#include "virtualdrive/Plant.h"
#include "virtualdrive/VirtualDrive.h"

namespace axdrive {

struct AxisPlant {
  std::uint8_t axis = 1;
  virtualdrive::PlantParameters plant;
  // The plant file's text as read (kPlantText hands it to the host, whose
  // commissioning report compares with the plant's true values).
  std::string plantText;
};

// The wall clock times `speed` since construction: a drive in real time.
class WallClock : public Clock {
 public:
  explicit WallClock(double speed) : m_speed(speed), m_start(std::chrono::steady_clock::now()) {}
  double Now() const override {
    return m_speed * std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  }

 private:
  double m_speed;
  std::chrono::steady_clock::time_point m_start;
};

// The time the host's last request carried: a drive in lockstep with the host.
class HostClock : public Clock {
 public:
  double Now() const override { return m_now_s; }
  // Moves forward only; a non-finite time is ignored.
  void Follow(double time_s) {
    if (time_s > m_now_s && time_s < 1e12) m_now_s = time_s;
  }
  void Restart(double time_s) { m_now_s = time_s >= 0.0 && time_s < 1e12 ? time_s : 0.0; }

 private:
  double m_now_s = 0.0;
};

struct ServerCounts {
  std::uint64_t requests = 0;
  std::uint64_t repeated = 0;  // answered from memory (the host retried)
  std::uint64_t pushed = 0;    // drive messages sent
};

class DriveServer {
 public:
  DriveServer(std::vector<AxisPlant> axes, drivewire::ClockMode mode, double speed);

  // One frame from connection `connection`: appends the frames to send back
  // on it (the drive's pushed messages first, then the answer). A frame
  // that is not a request is ignored.
  void Handle(int connection, const drivewire::Frame& request, std::vector<drivewire::Frame>& out);
  // The connection is gone: its axes are released with their power stages off.
  void Disconnected(int connection);
  // Realtime: advances every axis to the wall clock; appends the drive
  // messages each owner should get as (connection, frame). An axis whose
  // host has sent nothing for kWatchdog_s has its program stopped and its
  // power stage turned off (a host gone quiet on a serial line, which has
  // no connection to close).
  static constexpr double kWatchdog_s = 5.0;
  void Tick(std::vector<std::pair<int, drivewire::Frame>>& pushes);
  // Stops every program and turns every power stage off (shutdown).
  void StopAll();
  const ServerCounts& Counts() const { return m_counts; }
  drivewire::ClockMode Mode() const { return m_mode; }

 private:
  struct Axis {
    AxisPlant config;
    HostClock hostClock;
    std::unique_ptr<virtualdrive::VirtualDrive> drive;
    int owner = -1;
    bool answered = false;
    std::uint16_t lastSequence = 0;
    std::uint16_t lastCode = 0;
    std::vector<std::uint8_t> lastAnswer;
    std::vector<std::vector<double>> log;
    std::uint16_t pushSequence = 0;
    std::chrono::steady_clock::time_point lastRequest{};
  };
  const Clock* ClockOf(Axis& axis) const;
  void Answer(Axis& axis, const drivewire::Frame& request, drivewire::PayloadReader& fields,
              drivewire::PayloadWriter& answer);
  void TakePushes(Axis& axis, std::vector<drivewire::Frame>& out);

  std::map<std::uint8_t, Axis> m_axes;
  drivewire::ClockMode m_mode;
  double m_speed;
  WallClock m_wall;
  ServerCounts m_counts;
};

}  // namespace axdrive
