// axdrive's transports: the DriveServer's frames over TCP connections or a
// pseudo-terminal (a serial line without hardware), with link faults
// injected on demand for rehearsal. One thread runs everything.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "axdrive/DriveServer.h"
#include "drivewire/ByteStream.h"

namespace axdrive {

// Faults the server puts on its link, in both directions: each frame is
// dropped with probability `drop`, else damaged (one bit flipped) with
// probability `corrupt`; each frame sent waits `delay` plus a uniform
// random part of up to `jitter`; after `cutAfter` (from the start) nothing
// passes either way, as when the cable is pulled.
struct LinkFaults {
  double drop = 0.0;
  double corrupt = 0.0;
  double delay_s = 0.0;
  double jitter_s = 0.0;
  std::optional<double> cutAfter_s;
};

// "drop=0.05,corrupt=0.01,delay=2ms,jitter=1ms,cut-after=4s" (times in ms or
// s); nothing, with the reason, for anything else.
std::optional<LinkFaults> ParseFaults(const std::string& text, std::string& error);

struct NetworkCounts {
  std::uint64_t connections = 0;
  std::uint64_t droppedIn = 0, droppedOut = 0, corruptedIn = 0, corruptedOut = 0, refused = 0;
};

class Network {
 public:
  Network(DriveServer& server, const LinkFaults& faults, std::uint64_t seed);
  ~Network();
  // Listens on HOST:PORT (PORT 0: one the system picks); the port listened
  // on goes to `bound`.
  bool ListenTcp(const std::string& host, std::uint16_t port, std::uint16_t& bound, std::string& error);
  // Opens a pseudo-terminal pair; the device a host opens goes to `path`.
  bool ListenPty(std::string& path, std::string& error);
  // Runs until Stop or, with `signals`, SIGINT or SIGTERM; every power stage
  // is off when it returns.
  void Run(bool signals);
  // Safe from any thread.
  void Stop();
  const NetworkCounts& Counts() const { return m_counts; }

 private:
  struct Session;
  void Accept();
  void StartSession(std::unique_ptr<drivewire::ByteStream> stream, bool permanent);
  void Read(const std::shared_ptr<Session>& session);
  void Received(const std::shared_ptr<Session>& session, const drivewire::Frame& frame);
  void Send(const std::shared_ptr<Session>& session, const drivewire::Frame& frame);
  void Enqueue(const std::shared_ptr<Session>& session, std::vector<std::uint8_t> bytes);
  void Flush(const std::shared_ptr<Session>& session);
  void Close(const std::shared_ptr<Session>& session);
  void Tick();
  bool Cut() const;
  bool Chance(double p);

  DriveServer& m_server;
  LinkFaults m_faults;
  std::mt19937_64 m_random;
  asio::io_context m_io;
  std::optional<asio::ip::tcp::acceptor> m_acceptor;
  asio::steady_timer m_tick;
  std::map<int, std::shared_ptr<Session>> m_sessions;
  int m_nextId = 1;
  int m_ptySlave = -1;
  std::chrono::steady_clock::time_point m_started;
  NetworkCounts m_counts;
};

}  // namespace axdrive
