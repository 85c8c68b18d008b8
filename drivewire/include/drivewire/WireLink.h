// The drive link over a wire: the host's client of the wire protocol
// (docs/drive-link-protocol.md) over TCP or a serial line.
//
// Every request waits for its answer at most `timeout_ms` (plus, when the
// drive runs in lockstep, the time the drive needs to simulate up to the
// request's time); a request that gets no answer, or a damaged one, is sent
// again with the same sequence number, and the drive answers a repeat from
// its memory, so nothing is done twice. After `tries` sends the call fails
// with "the drive at SPEC does not answer: N tries in M ms". A connection
// that closes fails the call at once with "the link to the drive at SPEC is
// lost: REASON"; every call after a lost link fails the same way.
//
// One thread: a call runs the link's own Asio context until its answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "axcore/Clock.h"
#include "axcore/DriveLink.h"
#include "drivewire/Address.h"
#include "drivewire/ByteStream.h"
#include "drivewire/Frame.h"
#include "drivewire/Messages.h"

namespace drivewire {

struct LinkOptions {
  int timeout_ms = 200;  // per try
  int tries = 3;
  // The host's --verbose: the link's counts (requests, retries, damaged
  // frames) go to standard error after the run.
  bool reportCounts = false;
};

struct LinkCounts {
  std::uint64_t requests = 0;
  std::uint64_t retries = 0;        // sends after the first
  std::uint64_t timeouts = 0;       // tries that ended without an answer
  std::uint64_t damaged = 0;        // frames refused by the reader (bad CRC, length, kind)
  std::uint64_t late = 0;           // answers to a request already answered
  std::uint64_t pushed = 0;         // drive messages received
  std::uint64_t pushesLost = 0;     // gaps in the drive messages' sequence
};

struct Greeting {
  std::uint16_t version = 0;
  std::string product;
  std::string firmware;
  std::uint8_t axis = 0;
  ClockMode clock = ClockMode::Lockstep;
};

class WireLink : public DriveLink {
 public:
  // Connects to the drive `spec` names and greets its axis. Null, with one
  // line in `error`, when `spec` names no wire, the drive cannot be
  // reached or refuses (another host holds the axis).
  static std::unique_ptr<WireLink> Connect(const std::string& spec, const LinkOptions& options, std::string& error);
  ~WireLink() override;

  const std::string& Spec() const { return m_spec; }
  const Greeting& Hello() const { return m_greeting; }
  const LinkCounts& Counts() const { return m_counts; }
  // The host clock whose time every request carries (null: 0). In real
  // time, a request whose time is ahead of the drive's waits until the
  // drive's clock reaches it, so a host on a virtual clock keeps pace.
  void SetClock(const Clock* clock) { m_clock = clock; }

  // The axis as after power-on: program stopped, power stage off, the
  // firmware's own registers; in lockstep its clock restarts at the host's.
  bool Restart(std::string& error);
  // One register or constant of a setup; `integer` keeps it rounded.
  bool LoadRegister(std::string_view name, double value, bool integer, std::string& error);
  // A virtual drive's bench, and the plant file it simulates.
  bool BenchAnalogue(double volts, std::string& error);
  bool BenchMove(double distance_m, double duration_s, std::string& error);
  // `text` empty with true when the drive knows no such message: a real
  // drive simulates no plant.
  bool PlantText(std::string& text, std::string& error);
  bool WrittenVariables(std::vector<std::string>& names, std::string& error);

  bool ReadVariable(std::string_view name, double& value, std::string& error) override;
  bool WriteVariable(std::string_view name, double value, std::string& error) override;
  bool WriteRegister(std::string_view name, double value, std::string& error) override;
  bool SetProgramVariable(std::string_view program, std::string_view name, double value,
                          std::string& error) override;
  bool GetProgramVariable(std::string_view program, std::string_view name, double& value,
                          std::string& error) override;
  bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) override;
  bool StopProgram(std::string& error) override;
  bool GetAxisOn(bool& on, std::string& error) override;
  bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) override;
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) override;
  bool StartScope(const ScopeSettings& settings, std::string& error) override;
  bool StopScope(std::string& error) override;

  // "the link to the drive at SPEC is lost: REASON" once the link is lost
  // (every call fails so from then on); "" while it holds.
  const std::string& LostText() const { return m_lostText; }

 private:
  WireLink(std::string spec, Address address, const LinkOptions& options);
  bool Open(std::string& error);
  void StartRead();
  // Sends a request of `code` with `fields`; on status Ok the answer's
  // fields are in `result`.
  bool Call(std::uint16_t code, PayloadWriter fields, std::vector<std::uint8_t>& result, std::string& error);
  bool Lost(std::string& error);
  void Pace(double hostTime_s);
  void TakeFrames(std::uint16_t sequence, std::optional<Frame>& answer);

  std::string m_spec;
  Address m_address;
  LinkOptions m_options;
  asio::io_context m_io;
  std::unique_ptr<ByteStream> m_stream;
  std::array<std::uint8_t, 4096> m_buffer{};
  FrameReader m_reader;
  std::uint16_t m_sequence = 0;
  std::optional<std::uint16_t> m_pushSequence;
  std::deque<UnsolicitedMessage> m_pushes;
  const Clock* m_clock = nullptr;
  Greeting m_greeting;
  LinkCounts m_counts;
  bool m_lost = false;
  // The status of the last answer; Ok when the last request got none.
  Status m_lastStatus = Status::Ok;
  std::string m_lostText;
  // The drive's clock at its last answer, and when that came.
  double m_driveTime_s = 0.0;
  std::chrono::steady_clock::time_point m_driveTimeAt{};
  // The host's and the drive's clocks at the last Restart: in real time the
  // drive's clock runs on from the server's start, the host's from its own.
  double m_hostEpoch_s = 0.0;
  double m_driveEpoch_s = 0.0;
  double m_speed = 1.0;
};

}  // namespace drivewire
