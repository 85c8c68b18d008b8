#include "axdrive/DriveServer.h"

#include <cmath>

namespace axdrive {

using drivewire::Frame;
using drivewire::PayloadReader;
using drivewire::PayloadWriter;
using drivewire::Status;

namespace {

void Fail(PayloadWriter& answer, Status status, double time_s, const std::string& why) {
  answer.Payload().clear();
  answer.U8(static_cast<std::uint8_t>(status)).F64(time_s).Str(why);
}

Frame AnswerFrame(const Frame& request, std::vector<std::uint8_t> payload) {
  Frame frame;
  frame.axis = request.axis;
  frame.kind = drivewire::Kind::Answer;
  frame.sequence = request.sequence;
  frame.code = request.code;
  frame.payload = std::move(payload);
  return frame;
}

}  // namespace

DriveServer::DriveServer(std::vector<AxisPlant> axes, drivewire::ClockMode mode, double speed)
    : m_mode(mode), m_speed(speed), m_wall(speed) {
  for (AxisPlant& config : axes) {
    Axis& axis = m_axes[config.axis];
    axis.config = std::move(config);
    axis.drive = std::make_unique<virtualdrive::VirtualDrive>(axis.config.plant, ClockOf(axis));
  }
}

const Clock* DriveServer::ClockOf(Axis& axis) const {
  if (m_mode == drivewire::ClockMode::Realtime) return &m_wall;
  return &axis.hostClock;
}

void DriveServer::Handle(int connection, const Frame& request, std::vector<Frame>& out) {
  if (request.kind != drivewire::Kind::Request) return;
  ++m_counts.requests;
  PayloadWriter answer;
  const std::string axisName = "axis " + std::to_string(request.axis);
  auto found = m_axes.find(request.axis);
  if (found == m_axes.end()) {
    Fail(answer, Status::NoSuchAxis, 0.0, "no drive answers to " + axisName);
    out.push_back(AnswerFrame(request, std::move(answer.Payload())));
    return;
  }
  Axis& axis = found->second;
  if (axis.owner != connection) {
    if (axis.owner >= 0) {
      Fail(answer, Status::AxisInUse, axis.drive->Now_s(), axisName + " is in use by another host");
    } else if (request.code != drivewire::kHello) {
      Fail(answer, Status::NotGreeted, axis.drive->Now_s(), axisName + " was not greeted on this link");
    } else {
      axis.owner = connection;
      axis.answered = false;
    }
    if (axis.owner != connection) {
      out.push_back(AnswerFrame(request, std::move(answer.Payload())));
      return;
    }
  }
  // A request the drive has answered already (the answer was lost, or the
  // host gave up waiting): the answer again, from memory, and nothing done
  // twice.
  if (axis.answered && request.sequence == axis.lastSequence && request.code == axis.lastCode) {
    ++m_counts.repeated;
    out.push_back(AnswerFrame(request, axis.lastAnswer));
    return;
  }
  axis.lastRequest = std::chrono::steady_clock::now();
  PayloadReader fields(request.payload);
  Answer(axis, request, fields, answer);
  axis.answered = true;
  axis.lastSequence = request.sequence;
  axis.lastCode = request.code;
  axis.lastAnswer = answer.Payload();
  TakePushes(axis, out);
  out.push_back(AnswerFrame(request, std::move(answer.Payload())));
}

void DriveServer::Answer(Axis& axis, const Frame& request, PayloadReader& fields, PayloadWriter& answer) {
  using namespace drivewire;
  const double hostTime_s = fields.F64();
  if (!fields.Ok()) {
    Fail(answer, Status::BadPayload, axis.drive->Now_s(), "the request carries no time");
    return;
  }
  if (request.code == kRestart) {
    if (!fields.AtEnd()) {
      Fail(answer, Status::BadPayload, axis.drive->Now_s(), "restart takes no fields");
      return;
    }
    axis.hostClock.Restart(hostTime_s);
    axis.drive = std::make_unique<virtualdrive::VirtualDrive>(axis.config.plant, ClockOf(axis));
    axis.log.clear();
    answer.U8(static_cast<std::uint8_t>(Status::Ok)).F64(axis.drive->Now_s());
    return;
  }
  axis.hostClock.Follow(hostTime_s);
  virtualdrive::VirtualDrive& drive = *axis.drive;
  // The fields of the request; the answer's fields go to `result`.
  PayloadWriter result;
  std::string error;
  bool known = true;
  bool done = true;
  switch (request.code) {
    case kHello: {
      const std::uint16_t version = fields.U16();
      fields.Str();
      if (fields.AtEnd() && version != kProtocolVersion) {
        done = false;
        error = "the drive speaks protocol version " + std::to_string(kProtocolVersion) + ", the host " +
                std::to_string(version);
      }
      result.U16(kProtocolVersion).Str("axdrive virtual drive").Str("virtualdrive 1").U8(axis.config.axis).U8(
          static_cast<std::uint8_t>(m_mode)).F64(m_speed);
      break;
    }
    case kKeepAlive:
      drive.AdvanceTo(ClockOf(axis)->Now());
      break;
    case kReadVariable: {
      const std::string name = fields.Str();
      double value = 0.0;
      if (fields.AtEnd()) done = drive.ReadVariable(name, value, error);
      result.F64(value);
      break;
    }
    case kWriteVariable: {
      const std::string name = fields.Str();
      const double value = fields.F64();
      if (fields.AtEnd()) done = drive.WriteVariable(name, value, error);
      break;
    }
    case kWriteRegister: {
      const std::string name = fields.Str();
      const double value = fields.F64();
      const std::uint8_t flags = fields.U8();
      if (fields.AtEnd()) done = drive.LoadRegister(name, value, (flags & kRegisterInteger) != 0, error);
      break;
    }
    case kSetProgramVariable: {
      const std::string program = fields.Str();
      const std::string name = fields.Str();
      const double value = fields.F64();
      if (fields.AtEnd()) done = drive.SetProgramVariable(program, name, value, error);
      break;
    }
    case kGetProgramVariable: {
      const std::string program = fields.Str();
      const std::string name = fields.Str();
      double value = 0.0;
      if (fields.AtEnd()) done = drive.GetProgramVariable(program, name, value, error);
      result.F64(value);
      break;
    }
    case kStartProgram: {
      const std::string program = fields.Str();
      const bool withLogger = fields.U8() != 0;
      LoggerSettings logger;
      if (withLogger) {
        logger.points = static_cast<int>(fields.U32() & 0x7FFFFFFF);
        logger.logType = fields.U8();
        logger.step = static_cast<int>(fields.U32() & 0x7FFFFFFF);
        const int n = fields.U8();
        for (int k = 0; k < n && fields.Ok(); ++k) logger.variables.push_back(fields.Str());
      }
      if (fields.AtEnd()) done = drive.StartProgram(program, withLogger ? &logger : nullptr, error);
      break;
    }
    case kStopProgram:
      if (fields.AtEnd()) done = drive.StopProgram(error);
      break;
    case kGetAxisOn: {
      bool on = false;
      if (fields.AtEnd()) done = drive.GetAxisOn(on, error);
      result.U8(on ? 1 : 0);
      break;
    }
    case kLogSize: {
      // The log as it stands now is what the chunks that follow hand out.
      if (fields.AtEnd()) done = drive.UploadLog(axis.log, error);
      std::size_t values = 0;
      for (const auto& point : axis.log) values = std::max(values, point.size());
      for (auto& point : axis.log) point.resize(values, 0.0);
      if (values > 255 || axis.log.size() > 0xFFFFFFFFu) {
        done = false;
        error = "the log has more values than the wire carries";
      }
      result.U32(static_cast<std::uint32_t>(axis.log.size())).U8(static_cast<std::uint8_t>(values));
      break;
    }
    case kLogChunk: {
      const std::uint32_t first = fields.U32();
      const std::uint16_t count = fields.U16();
      if (!fields.AtEnd()) break;
      const std::size_t values = axis.log.empty() ? 0 : axis.log.front().size();
      if (first > axis.log.size() || count > axis.log.size() - first || count > LogPointsPerChunk(values)) {
        done = false;
        error = "no such part of the log";
        break;
      }
      for (std::size_t k = first; k < first + count; ++k)
        for (double v : axis.log[k]) result.F64(v);
      break;
    }
    case kStartScope: {
      ScopeSettings scope;
      scope.divider = fields.U16();
      const int n = fields.U8();
      for (int k = 0; k < n && fields.Ok(); ++k) scope.variables.push_back(fields.Str());
      if (fields.AtEnd()) done = drive.StartScope(scope, error);
      break;
    }
    case kStopScope:
      if (fields.AtEnd()) done = drive.StopScope(error);
      break;
    case kBenchAnalogue: {
      const double volts = fields.F64();
      if (fields.AtEnd()) drive.SetAnalogueInput_V(volts);
      break;
    }
    case kBenchMove: {
      const double distance_m = fields.F64();
      const double duration_s = fields.F64();
      if (fields.AtEnd()) drive.MoveByHand(distance_m, duration_s);
      break;
    }
    case kPlantText: {
      const std::uint32_t offset = fields.U32();
      const std::string& text = axis.config.plantText;
      if (!fields.AtEnd()) break;
      if (offset > text.size()) {
        done = false;
        error = "the plant text is shorter";
        break;
      }
      const std::size_t n = std::min(kMaxTextChunk, text.size() - offset);
      result.U32(static_cast<std::uint32_t>(text.size()))
          .Bytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()) + offset, n));
      break;
    }
    case kWrittenVariables: {
      if (!fields.AtEnd()) break;
      // As many names as one frame carries (a program writes a handful).
      const std::vector<std::string>& names = drive.WrittenVariables();
      std::size_t n = 0, bytes = 1;
      while (n < names.size() && n < 255 && bytes + 1 + std::min<std::size_t>(names[n].size(), 255) <=
                                                    kMaxPayload - kAnswerHead)
        bytes += 1 + std::min<std::size_t>(names[n++].size(), 255);
      result.U8(static_cast<std::uint8_t>(n));
      for (std::size_t k = 0; k < n; ++k) result.Str(names[k]);
      break;
    }
    default:
      known = false;
      break;
  }
  if (!known) {
    Fail(answer, Status::UnknownCode, drive.Now_s(), "unknown message code " + std::to_string(request.code));
  } else if (!fields.AtEnd()) {
    Fail(answer, Status::BadPayload, drive.Now_s(), "the fields of message " + std::to_string(request.code) +
                                                        " do not parse");
  } else if (!done) {
    Fail(answer, Status::Refused, drive.Now_s(), error);
  } else {
    answer.U8(static_cast<std::uint8_t>(Status::Ok)).F64(drive.Now_s()).Bytes(result.Payload());
  }
}

void DriveServer::TakePushes(Axis& axis, std::vector<Frame>& out) {
  std::vector<UnsolicitedMessage> messages;
  std::string error;
  if (!axis.drive->TakeUnsolicitedMessages(messages, error)) return;
  for (UnsolicitedMessage& message : messages) {
    if (message.bytes.size() > drivewire::kMaxPayload) continue;
    Frame frame;
    frame.axis = axis.config.axis;
    frame.kind = drivewire::Kind::Push;
    frame.sequence = axis.pushSequence++;
    frame.code = drivewire::kDriveMessage;
    frame.payload = std::move(message.bytes);
    out.push_back(std::move(frame));
    ++m_counts.pushed;
  }
}

void DriveServer::Disconnected(int connection) {
  for (auto& [id, axis] : m_axes) {
    if (axis.owner != connection) continue;
    std::string error;
    axis.drive->StopProgram(error);
    axis.owner = -1;
    axis.answered = false;
  }
}

void DriveServer::Tick(std::vector<std::pair<int, Frame>>& pushes) {
  for (auto& [id, axis] : m_axes) {
    axis.drive->AdvanceTo(ClockOf(axis)->Now());
    if (axis.owner < 0) continue;
    if (axis.drive->ProgramRunning() &&
        std::chrono::steady_clock::now() - axis.lastRequest > std::chrono::duration<double>(kWatchdog_s)) {
      std::string error;
      axis.drive->StopProgram(error);
    }
    std::vector<Frame> frames;
    TakePushes(axis, frames);
    for (Frame& frame : frames) pushes.emplace_back(axis.owner, std::move(frame));
  }
}

void DriveServer::StopAll() {
  for (auto& [id, axis] : m_axes) {
    std::string error;
    axis.drive->StopProgram(error);
  }
}

}  // namespace axdrive
