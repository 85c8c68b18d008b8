#include "axdrive/Network.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <deque>
#include <iostream>
#include <sstream>

namespace axdrive {

using drivewire::Frame;

struct Network::Session {
  int id = 0;
  std::unique_ptr<drivewire::ByteStream> stream;
  std::array<std::uint8_t, 4096> buffer{};
  drivewire::FrameReader wire;     // what arrives
  drivewire::ReaderCounts damaged;  // frames the faults damaged, refused here as a drive refuses them
  std::chrono::steady_clock::time_point lastBytes{};
  std::deque<std::vector<std::uint8_t>> queue;
  bool writing = false;
  bool closed = false;
  bool permanent = false;  // a pseudo-terminal stays open for the next host
};

namespace {

// The longest pause between two bytes of one frame.
constexpr auto kFrameGap = std::chrono::milliseconds(50);

bool Duration(const std::string& text, double& seconds) {
  double scale = 0.0;
  std::string number;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
    scale = 1e-3;
    number = text.substr(0, text.size() - 2);
  } else if (text.size() > 1 && text.back() == 's') {
    scale = 1.0;
    number = text.substr(0, text.size() - 1);
  } else {
    return false;
  }
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(value) || value < 0 ||
      value > 86400)
    return false;
  seconds = value * scale;
  return true;
}

}  // namespace

std::optional<LinkFaults> ParseFaults(const std::string& text, std::string& error) {
  LinkFaults faults;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    const std::size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    if (key == "drop" || key == "corrupt") {
      char* end = nullptr;
      const double p = std::strtod(value.c_str(), &end);
      if (value.empty() || end != value.c_str() + value.size() || !(p >= 0.0 && p <= 1.0)) {
        error = key + " takes a probability from 0 to 1, not \"" + value + "\"";
        return std::nullopt;
      }
      (key == "drop" ? faults.drop : faults.corrupt) = p;
    } else if (key == "delay" || key == "jitter" || key == "cut-after") {
      double seconds = 0.0;
      if (!Duration(value, seconds)) {
        error = key + " takes a time such as 2ms or 4s, not \"" + value + "\"";
        return std::nullopt;
      }
      if (key == "delay") faults.delay_s = seconds;
      if (key == "jitter") faults.jitter_s = seconds;
      if (key == "cut-after") faults.cutAfter_s = seconds;
    } else {
      error = "unknown fault \"" + key + "\" (drop, corrupt, delay, jitter, cut-after)";
      return std::nullopt;
    }
  }
  return faults;
}

Network::Network(DriveServer& server, const LinkFaults& faults, std::uint64_t seed)
    : m_server(server), m_faults(faults), m_random(seed), m_tick(m_io), m_started(std::chrono::steady_clock::now()) {}

Network::~Network() {
  if (m_ptySlave >= 0) ::close(m_ptySlave);
}

bool Network::ListenTcp(const std::string& host, std::uint16_t port, std::uint16_t& bound, std::string& error) {
  asio::error_code ec;
  const asio::ip::address address = asio::ip::make_address(host, ec);
  if (ec) {
    error = "--listen tcp:" + host + ":" + std::to_string(port) + ": " + host + " is not an IP address";
    return false;
  }
  asio::ip::tcp::acceptor acceptor(m_io);
  const asio::ip::tcp::endpoint endpoint(address, port);
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "--listen tcp:" + host + ":" + std::to_string(port) + ": " + ec.message();
    return false;
  }
  bound = acceptor.local_endpoint().port();
  m_acceptor.emplace(std::move(acceptor));
  Accept();
  return true;
}

bool Network::ListenPty(std::string& path, std::string& error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname(master) == nullptr) {
    if (master >= 0) ::close(master);
    error = "--listen pty: no pseudo-terminal to be had";
    return false;
  }
  path = ::ptsname(master);
  // The server keeps the host's end open itself, raw (no echo, no line
  // editing: the bytes are frames), so that a host may come and go.
  m_ptySlave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  if (m_ptySlave < 0 || ::tcgetattr(m_ptySlave, &raw) != 0) {
    ::close(master);
    error = "--listen pty: cannot open " + path;
    return false;
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(m_ptySlave, TCSANOW, &raw);
  StartSession(std::make_unique<drivewire::StreamOf<asio::posix::stream_descriptor>>(
                   asio::posix::stream_descriptor(m_io, master)),
               true);
  return true;
}

void Network::Accept() {
  m_acceptor->async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec) return;
    asio::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    ++m_counts.connections;
    StartSession(std::make_unique<drivewire::StreamOf<asio::ip::tcp::socket>>(std::move(socket)), false);
    Accept();
  });
}

void Network::StartSession(std::unique_ptr<drivewire::ByteStream> stream, bool permanent) {
  auto session = std::make_shared<Session>();
  session->id = m_nextId++;
  session->stream = std::move(stream);
  session->permanent = permanent;
  m_sessions[session->id] = session;
  Read(session);
}

bool Network::Cut() const {
  return m_faults.cutAfter_s &&
         std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count() >= *m_faults.cutAfter_s;
}

bool Network::Chance(double p) {
  return p > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < p;
}

void Network::Read(const std::shared_ptr<Session>& session) {
  session->stream->ReadSome(asio::buffer(session->buffer), [this, session](const asio::error_code& ec, std::size_t n) {
    if (ec) {
      // A pseudo-terminal whose host went away reads an error once in a
      // while; it stays open for the next host.
      if (session->permanent && !session->closed && ec != asio::error::operation_aborted) {
        m_server.Disconnected(session->id);
        asio::post(m_io, [this, session] { Read(session); });
        return;
      }
      Close(session);
      return;
    }
    // A frame's bytes come back to back: after a quiet gap, what a frame
    // began with is not going to be completed.
    const auto now = std::chrono::steady_clock::now();
    if (now - session->lastBytes > kFrameGap)
      while (session->wire.Partial()) session->wire.Expire();
    session->lastBytes = now;
    session->wire.Feed(std::span<const std::uint8_t>(session->buffer.data(), n));
    Frame frame;
    while (session->wire.Next(frame)) {
      if (Cut()) continue;
      if (Chance(m_faults.drop)) {
        ++m_counts.droppedIn;
        continue;
      }
      if (Chance(m_faults.corrupt)) {
        ++m_counts.corruptedIn;
        std::vector<std::uint8_t> bytes = drivewire::Encode(frame);
        const std::size_t bit = std::uniform_int_distribution<std::size_t>(0, bytes.size() * 8 - 1)(m_random);
        bytes[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        drivewire::FrameReader reader;
        reader.Feed(bytes);
        while (reader.Partial()) reader.Expire();
        Frame survived;
        while (reader.Next(survived)) Received(session, survived);
        session->damaged.badCrc += reader.Counts().Refused();
        continue;
      }
      Received(session, frame);
    }
    m_counts.refused = 0;
    for (const auto& [id, s] : m_sessions) m_counts.refused += s->wire.Counts().Refused() + s->damaged.badCrc;
    if (!session->closed) Read(session);
  });
}

void Network::Received(const std::shared_ptr<Session>& session, const Frame& frame) {
  std::vector<Frame> out;
  m_server.Handle(session->id, frame, out);
  for (const Frame& f : out) Send(session, f);
}

void Network::Send(const std::shared_ptr<Session>& session, const Frame& frame) {
  if (Cut()) return;
  if (Chance(m_faults.drop)) {
    ++m_counts.droppedOut;
    return;
  }
  std::vector<std::uint8_t> bytes = drivewire::Encode(frame);
  if (Chance(m_faults.corrupt)) {
    ++m_counts.corruptedOut;
    const std::size_t bit = std::uniform_int_distribution<std::size_t>(0, bytes.size() * 8 - 1)(m_random);
    bytes[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  double delay_s = m_faults.delay_s;
  if (m_faults.jitter_s > 0.0) delay_s += std::uniform_real_distribution<double>(0.0, m_faults.jitter_s)(m_random);
  if (delay_s <= 0.0) {
    Enqueue(session, std::move(bytes));
    return;
  }
  auto timer = std::make_shared<asio::steady_timer>(
      m_io, std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(delay_s)));
  timer->async_wait([this, session, timer, bytes = std::move(bytes)](const asio::error_code& ec) mutable {
    if (!ec) Enqueue(session, std::move(bytes));
  });
}

void Network::Enqueue(const std::shared_ptr<Session>& session, std::vector<std::uint8_t> bytes) {
  if (session->closed) return;
  session->queue.push_back(std::move(bytes));
  if (!session->writing) Flush(session);
}

void Network::Flush(const std::shared_ptr<Session>& session) {
  if (session->queue.empty() || session->closed) {
    session->writing = false;
    return;
  }
  session->writing = true;
  session->stream->AsyncWriteAll(asio::buffer(session->queue.front()),
                                 [this, session](const asio::error_code& ec, std::size_t) {
                                   if (ec) {
                                     Close(session);
                                     return;
                                   }
                                   session->queue.pop_front();
                                   Flush(session);
                                 });
}

void Network::Close(const std::shared_ptr<Session>& session) {
  if (session->closed) return;
  session->closed = true;
  session->stream->Close();
  m_server.Disconnected(session->id);
  m_sessions.erase(session->id);
}

void Network::Tick() {
  std::vector<std::pair<int, Frame>> pushes;
  m_server.Tick(pushes);
  for (auto& [id, frame] : pushes) {
    auto found = m_sessions.find(id);
    if (found != m_sessions.end()) Send(found->second, frame);
  }
  // The drive's scope sends a frame at least every 10 ms of drive time.
  m_tick.expires_after(std::chrono::milliseconds(2));
  m_tick.async_wait([this](const asio::error_code& ec) {
    if (!ec) Tick();
  });
}

void Network::Run(bool signals) {
  asio::signal_set stops(m_io);
  if (signals) {
    stops.add(SIGINT);
    stops.add(SIGTERM);
    stops.async_wait([this](const asio::error_code& ec, int) {
      if (!ec) m_io.stop();
    });
  }
  if (m_server.Mode() == drivewire::ClockMode::Realtime) Tick();
  m_io.run();
  m_server.StopAll();
}

void Network::Stop() {
  asio::post(m_io, [this] { m_io.stop(); });
}

}  // namespace axdrive
