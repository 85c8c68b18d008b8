#include "drivewire/WireLink.h"

#include <cmath>
#include <random>
#include <thread>

namespace drivewire {

using Clock_t = std::chrono::steady_clock;

namespace {

// A lockstep drive simulates the time between two requests before it
// answers; on this machine's slowest build it simulates a second of drive
// time in well under this many seconds.
constexpr double kSimulationAllowance = 4.0;

}  // namespace

WireLink::WireLink(std::string spec, Address address, const LinkOptions& options)
    : m_spec(std::move(spec)), m_address(std::move(address)), m_options(options) {
  // A host that starts where the last one stopped must not have its first
  // request taken for a repeat of the last one's.
  m_sequence = static_cast<std::uint16_t>(std::random_device{}() & 0xFFFF);
}

WireLink::~WireLink() {
  if (m_stream) m_stream->Close();
}

std::unique_ptr<WireLink> WireLink::Connect(const std::string& spec, const LinkOptions& options, std::string& error) {
  const std::optional<Address> address = ParseAddress(spec, error);
  if (!address) return nullptr;
  std::unique_ptr<WireLink> link(new WireLink(spec, *address, options));
  if (!link->Open(error)) return nullptr;
  PayloadWriter hello;
  hello.U16(kProtocolVersion).Str("axhost");
  std::vector<std::uint8_t> result;
  if (!link->Call(kHello, std::move(hello), result, error)) return nullptr;
  PayloadReader fields(result);
  Greeting& g = link->m_greeting;
  g.version = fields.U16();
  g.product = fields.Str();
  g.firmware = fields.Str();
  g.axis = fields.U8();
  g.clock = fields.U8() == 1 ? ClockMode::Realtime : ClockMode::Lockstep;
  const double speed = fields.F64();
  if (!fields.AtEnd()) {
    error = "the drive at " + spec + " gave a greeting that does not parse";
    return nullptr;
  }
  if (std::isfinite(speed) && speed > 0.0) link->m_speed = speed;
  return link;
}

bool WireLink::Open(std::string& error) {
  asio::error_code ec;
  if (m_address.transport == Address::Transport::Tcp) {
    asio::ip::tcp::resolver resolver(m_io);
    const auto endpoints = resolver.resolve(m_address.host, std::to_string(m_address.port), ec);
    asio::ip::tcp::socket socket(m_io);
    if (!ec) asio::connect(socket, endpoints, ec);
    if (ec) {
      error = "cannot reach the drive at " + m_spec + ": " + ec.message();
      return false;
    }
    // A request is one small frame: it goes out at once.
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    m_stream = std::make_unique<StreamOf<asio::ip::tcp::socket>>(std::move(socket));
  } else {
    asio::serial_port port(m_io);
    port.open(m_address.device, ec);
    if (!ec) port.set_option(asio::serial_port_base::baud_rate(m_address.baud), ec);
    if (!ec) port.set_option(asio::serial_port_base::character_size(8), ec);
    if (!ec) port.set_option(asio::serial_port_base::parity(asio::serial_port_base::parity::none), ec);
    if (!ec) port.set_option(asio::serial_port_base::stop_bits(asio::serial_port_base::stop_bits::one), ec);
    if (!ec) port.set_option(asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none), ec);
    if (ec) {
      error = "cannot open the drive at " + m_spec + ": " + ec.message();
      return false;
    }
    m_stream = std::make_unique<StreamOf<asio::serial_port>>(std::move(port));
  }
  StartRead();
  return true;
}

void WireLink::StartRead() {
  m_stream->ReadSome(asio::buffer(m_buffer), [this](const asio::error_code& ec, std::size_t n) {
    if (ec) {
      if (ec == asio::error::operation_aborted) return;
      m_lost = true;
      m_lostText = "the link to the drive at " + m_spec + " is lost: " +
                   (ec == asio::error::eof ? std::string("the drive closed the connection") : ec.message());
      return;
    }
    m_reader.Feed(std::span<const std::uint8_t>(m_buffer.data(), n));
    StartRead();
  });
}

bool WireLink::Lost(std::string& error) {
  error = m_lostText;
  return false;
}

void WireLink::TakeFrames(std::uint16_t sequence, std::optional<Frame>& answer) {
  Frame frame;
  while (m_reader.Next(frame)) {
    if (frame.axis != m_address.axis) continue;
    if (frame.kind == Kind::Push) {
      if (frame.code != kDriveMessage) continue;
      if (m_pushSequence && frame.sequence != static_cast<std::uint16_t>(*m_pushSequence + 1))
        m_counts.pushesLost += static_cast<std::uint16_t>(frame.sequence - *m_pushSequence - 1);
      m_pushSequence = frame.sequence;
      ++m_counts.pushed;
      m_pushes.push_back(UnsolicitedMessage{std::move(frame.payload)});
    } else if (frame.kind == Kind::Answer && frame.sequence == sequence && !answer) {
      answer = std::move(frame);
    } else if (frame.kind == Kind::Answer) {
      ++m_counts.late;
    }
  }
}

void WireLink::Pace(double hostTime_s) {
  if (m_greeting.clock != ClockMode::Realtime || m_driveTimeAt == Clock_t::time_point{}) return;
  const double driveNow_s =
      m_driveTime_s + m_speed * std::chrono::duration<double>(Clock_t::now() - m_driveTimeAt).count();
  const double ahead_s = ((hostTime_s - m_hostEpoch_s) - (driveNow_s - m_driveEpoch_s)) / m_speed;
  if (ahead_s > 0.0 && ahead_s < 3600.0) std::this_thread::sleep_for(std::chrono::duration<double>(ahead_s));
}

bool WireLink::Call(std::uint16_t code, PayloadWriter fields, std::vector<std::uint8_t>& result, std::string& error) {
  m_lastStatus = Status::Ok;
  if (m_lost) return Lost(error);
  const double hostTime_s = m_clock != nullptr ? m_clock->Now() : 0.0;
  Pace(hostTime_s);
  Frame request;
  request.axis = m_address.axis;
  request.kind = Kind::Request;
  request.sequence = ++m_sequence;
  request.code = code;
  PayloadWriter payload;
  payload.F64(hostTime_s).Bytes(fields.Payload());
  request.payload = std::move(payload.Payload());
  const std::vector<std::uint8_t> bytes = Encode(request);
  if (bytes.empty()) {
    error = "a request to the drive at " + m_spec + " is longer than a frame";
    return false;
  }
  ++m_counts.requests;
  // The drive in lockstep first simulates up to the request's time.
  double allowance_s = 0.0;
  if (m_greeting.clock == ClockMode::Lockstep && hostTime_s > m_driveTime_s && hostTime_s - m_driveTime_s < 1e6)
    allowance_s = kSimulationAllowance * (hostTime_s - m_driveTime_s);
  const auto perTry = std::chrono::milliseconds(m_options.timeout_ms) +
                      std::chrono::duration_cast<Clock_t::duration>(std::chrono::duration<double>(allowance_s));
  const auto started = Clock_t::now();
  bool allTimedOut = true;
  std::optional<Frame> answer;
  for (int attempt = 1; attempt <= m_options.tries && !answer; ++attempt) {
    if (attempt > 1) ++m_counts.retries;
    asio::error_code ec;
    m_stream->WriteAll(asio::buffer(bytes), ec);
    if (ec) {
      m_lost = true;
      m_lostText = "the link to the drive at " + m_spec + " is lost: " + ec.message();
      return Lost(error);
    }
    const auto deadline = Clock_t::now() + perTry;
    const std::uint64_t refused = m_reader.Counts().Refused();
    for (;;) {
      TakeFrames(request.sequence, answer);
      if (answer) break;
      if (m_lost) return Lost(error);
      // A damaged frame may have been the answer: ask again at once.
      if (m_reader.Counts().Refused() != refused) {
        m_counts.damaged += m_reader.Counts().Refused() - refused;
        allTimedOut = false;
        break;
      }
      if (Clock_t::now() >= deadline) {
        ++m_counts.timeouts;
        // What arrived of a frame begun will not be completed: the answer
        // may lie in what the reader holds after it.
        m_reader.Expire();
        TakeFrames(request.sequence, answer);
        break;
      }
      m_io.run_one_until(deadline);
      if (m_io.stopped()) m_io.restart();
    }
  }
  if (!answer) {
    const long long ms =
        allTimedOut ? static_cast<long long>(m_options.tries) * m_options.timeout_ms
                    : std::chrono::duration_cast<std::chrono::milliseconds>(Clock_t::now() - started).count();
    error = "the drive at " + m_spec + " does not answer: " + std::to_string(m_options.tries) + " tr" +
            (m_options.tries == 1 ? "y" : "ies") + " in " + std::to_string(ms) + " ms";
    return false;
  }
  PayloadReader reader(answer->payload);
  const auto status = static_cast<Status>(reader.U8());
  const double driveTime_s = reader.F64();
  if (!reader.Ok()) {
    error = "the drive at " + m_spec + " gave an answer that does not parse";
    return false;
  }
  if (std::isfinite(driveTime_s)) {
    m_driveTime_s = driveTime_s;
    m_driveTimeAt = Clock_t::now();
  }
  m_lastStatus = status;
  if (status != Status::Ok) {
    std::string why = reader.Str();
    error = reader.Ok() && !why.empty() ? why : StatusText(status);
    return false;
  }
  const auto rest = reader.Rest();
  result.assign(rest.begin(), rest.end());
  return true;
}

namespace {

bool Done(bool called, PayloadReader& reader, const std::string& spec, std::string& error) {
  if (!called) return false;
  if (reader.AtEnd()) return true;
  error = "the drive at " + spec + " gave an answer that does not parse";
  return false;
}

}  // namespace

bool WireLink::Restart(std::string& error) {
  std::vector<std::uint8_t> result;
  if (!Call(kRestart, {}, result, error)) return false;
  m_hostEpoch_s = m_clock != nullptr ? m_clock->Now() : 0.0;
  m_driveEpoch_s = m_driveTime_s;
  return true;
}

bool WireLink::LoadRegister(std::string_view name, double value, bool integer, std::string& error) {
  PayloadWriter f;
  f.Str(name).F64(value).U8(integer ? kRegisterInteger : 0);
  std::vector<std::uint8_t> result;
  return Call(kWriteRegister, std::move(f), result, error);
}

bool WireLink::BenchAnalogue(double volts, std::string& error) {
  PayloadWriter f;
  f.F64(volts);
  std::vector<std::uint8_t> result;
  return Call(kBenchAnalogue, std::move(f), result, error);
}

bool WireLink::BenchMove(double distance_m, double duration_s, std::string& error) {
  PayloadWriter f;
  f.F64(distance_m).F64(duration_s);
  std::vector<std::uint8_t> result;
  return Call(kBenchMove, std::move(f), result, error);
}

bool WireLink::PlantText(std::string& text, std::string& error) {
  text.clear();
  for (;;) {
    PayloadWriter f;
    f.U32(static_cast<std::uint32_t>(text.size()));
    std::vector<std::uint8_t> result;
    if (!Call(kPlantText, std::move(f), result, error)) {
      if (m_lastStatus != Status::UnknownCode || !text.empty()) return false;
      error.clear();
      return true;
    }
    PayloadReader reader(result);
    const std::uint32_t total = reader.U32();
    const auto chunk = reader.Rest();
    if (!reader.Ok() || text.size() + chunk.size() > total || (chunk.empty() && text.size() < total)) {
      error = "the drive at " + m_spec + " gave its plant in pieces that do not fit";
      return false;
    }
    text.append(chunk.begin(), chunk.end());
    if (text.size() == total) return true;
  }
}

bool WireLink::WrittenVariables(std::vector<std::string>& names, std::string& error) {
  names.clear();
  std::vector<std::uint8_t> result;
  const bool called = Call(kWrittenVariables, {}, result, error);
  PayloadReader reader(result);
  const std::size_t n = called ? reader.U8() : 0;
  for (std::size_t k = 0; k < n && reader.Ok(); ++k) names.push_back(reader.Str());
  return Done(called, reader, m_spec, error);
}

bool WireLink::ReadVariable(std::string_view name, double& value, std::string& error) {
  PayloadWriter f;
  f.Str(name);
  std::vector<std::uint8_t> result;
  const bool called = Call(kReadVariable, std::move(f), result, error);
  PayloadReader reader(result);
  value = reader.F64();
  return Done(called, reader, m_spec, error);
}

bool WireLink::WriteVariable(std::string_view name, double value, std::string& error) {
  PayloadWriter f;
  f.Str(name).F64(value);
  std::vector<std::uint8_t> result;
  return Call(kWriteVariable, std::move(f), result, error);
}

bool WireLink::WriteRegister(std::string_view name, double value, std::string& error) {
  return LoadRegister(name, value, true, error);
}

bool WireLink::SetProgramVariable(std::string_view program, std::string_view name, double value, std::string& error) {
  PayloadWriter f;
  f.Str(program).Str(name).F64(value);
  std::vector<std::uint8_t> result;
  return Call(kSetProgramVariable, std::move(f), result, error);
}

bool WireLink::GetProgramVariable(std::string_view program, std::string_view name, double& value,
                                  std::string& error) {
  PayloadWriter f;
  f.Str(program).Str(name);
  std::vector<std::uint8_t> result;
  const bool called = Call(kGetProgramVariable, std::move(f), result, error);
  PayloadReader reader(result);
  value = reader.F64();
  return Done(called, reader, m_spec, error);
}

bool WireLink::StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) {
  PayloadWriter f;
  f.Str(program).U8(logger != nullptr ? 1 : 0);
  if (logger != nullptr) {
    if (logger->points < 0 || logger->step < 0 || logger->logType < 0 || logger->logType > 255 ||
        logger->variables.size() > 255) {
      error = "the logger settings do not fit the wire";
      return false;
    }
    f.U32(static_cast<std::uint32_t>(logger->points))
        .U8(static_cast<std::uint8_t>(logger->logType))
        .U32(static_cast<std::uint32_t>(logger->step))
        .U8(static_cast<std::uint8_t>(logger->variables.size()));
    for (const std::string& name : logger->variables) f.Str(name);
  }
  std::vector<std::uint8_t> result;
  return Call(kStartProgram, std::move(f), result, error);
}

bool WireLink::StopProgram(std::string& error) {
  std::vector<std::uint8_t> result;
  return Call(kStopProgram, {}, result, error);
}

bool WireLink::GetAxisOn(bool& on, std::string& error) {
  std::vector<std::uint8_t> result;
  const bool called = Call(kGetAxisOn, {}, result, error);
  PayloadReader reader(result);
  on = reader.U8() != 0;
  return Done(called, reader, m_spec, error);
}

bool WireLink::UploadLog(std::vector<std::vector<double>>& points, std::string& error) {
  points.clear();
  std::vector<std::uint8_t> result;
  if (!Call(kLogSize, {}, result, error)) return false;
  PayloadReader size(result);
  const std::uint32_t count = size.U32();
  const std::size_t values = size.U8();
  if (!Done(true, size, m_spec, error)) return false;
  if (count > 0 && values == 0) {
    points.assign(count, {});
    return true;
  }
  const std::size_t perChunk = LogPointsPerChunk(values);
  points.reserve(count);
  while (points.size() < count) {
    const std::size_t n = std::min<std::size_t>(perChunk, count - points.size());
    PayloadWriter f;
    f.U32(static_cast<std::uint32_t>(points.size())).U16(static_cast<std::uint16_t>(n));
    if (!Call(kLogChunk, std::move(f), result, error)) return false;
    PayloadReader chunk(result);
    for (std::size_t k = 0; k < n; ++k) {
      std::vector<double> point(values);
      for (double& v : point) v = chunk.F64();
      points.push_back(std::move(point));
    }
    if (!Done(true, chunk, m_spec, error)) return false;
  }
  return true;
}

bool WireLink::TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) {
  // The keep-alive brings the drive to the host's time; what it sent on the
  // way arrives before the answer.
  std::vector<std::uint8_t> result;
  if (!Call(kKeepAlive, {}, result, error)) return false;
  messages.assign(std::make_move_iterator(m_pushes.begin()), std::make_move_iterator(m_pushes.end()));
  m_pushes.clear();
  return true;
}

bool WireLink::StartScope(const ScopeSettings& settings, std::string& error) {
  if (settings.divider < 0 || settings.divider > 0xFFFF || settings.variables.size() > 255) {
    error = "the scope settings do not fit the wire";
    return false;
  }
  PayloadWriter f;
  f.U16(static_cast<std::uint16_t>(settings.divider)).U8(static_cast<std::uint8_t>(settings.variables.size()));
  for (const std::string& name : settings.variables) f.Str(name);
  std::vector<std::uint8_t> result;
  return Call(kStartScope, std::move(f), result, error);
}

bool WireLink::StopScope(std::string& error) {
  std::vector<std::uint8_t> result;
  return Call(kStopScope, {}, result, error);
}

}  // namespace drivewire
