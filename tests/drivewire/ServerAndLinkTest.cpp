// The drive's server and the host's link together: a repeated request is
// answered from memory and not carried out twice, each refusal has its
// status, and a log of 2,000 points of 8 variables crosses a lossy link in
// chunks exactly as the drive in process gives it.
#include <gtest/gtest.h>

#include <thread>

#include "axdrive/DriveServer.h"
#include "axdrive/Network.h"
#include "drivewire/WireLink.h"
#include "virtualdrive/PlantFile.h"

namespace {

using drivewire::Frame;
using drivewire::PayloadWriter;
using drivewire::Status;

std::vector<axdrive::AxisPlant> ExampleAxes(int count) {
  std::vector<axdrive::AxisPlant> axes;
  for (int k = 1; k <= count; ++k)
    axes.push_back({static_cast<std::uint8_t>(k), virtualdrive::ExamplePlant(),
                    std::string(virtualdrive::ExamplePlantText())});
  return axes;
}

Frame Request(std::uint8_t axis, std::uint16_t sequence, std::uint16_t code, PayloadWriter fields = {},
              double time_s = 0.0) {
  PayloadWriter payload;
  payload.F64(time_s).Bytes(fields.Payload());
  return Frame{axis, drivewire::Kind::Request, sequence, code, std::move(payload.Payload())};
}

PayloadWriter Hello() {
  PayloadWriter w;
  w.U16(drivewire::kProtocolVersion).Str("test");
  return w;
}

// The answer among `out` (pushed frames come first), its status and reason.
std::pair<Status, std::string> Answered(const std::vector<Frame>& out) {
  for (const Frame& f : out) {
    if (f.kind != drivewire::Kind::Answer) continue;
    drivewire::PayloadReader r(f.payload);
    const auto status = static_cast<Status>(r.U8());
    r.F64();
    return {status, status == Status::Ok ? "" : r.Str()};
  }
  return {Status::Ok, "no answer"};
}

TEST(DriveServer, AnswersARepeatedRequestFromMemoryAndRefusesWithTheRightStatus) {
  axdrive::DriveServer server(ExampleAxes(2), drivewire::ClockMode::Lockstep, 1.0);
  std::vector<Frame> out;
  auto send = [&](int connection, const Frame& frame) {
    out.clear();
    server.Handle(connection, frame, out);
    return Answered(out);
  };
  PayloadWriter start;
  start.Str("VDC_Detection_Test").U8(0);
  PayloadWriter started;
  started.Str("VDC_Detection_Test").Str("STARTED");
  struct Step {
    const char* what;
    int connection;
    Frame request;
    Status status;
    const char* reason;
    std::uint64_t repeated;  // the server's count after the step
  };
  const Step steps[] = {
      {"a request before the greeting", 1, Request(1, 1, drivewire::kGetAxisOn), Status::NotGreeted,
       "axis 1 was not greeted on this link", 0},
      {"the greeting", 1, Request(1, 2, drivewire::kHello, Hello()), Status::Ok, "", 0},
      {"another host greets the same axis", 2, Request(1, 7, drivewire::kHello, Hello()), Status::AxisInUse,
       "axis 1 is in use by another host", 0},
      {"the other axis is free", 2, Request(2, 7, drivewire::kHello, Hello()), Status::Ok, "", 0},
      {"an axis nobody serves", 1, Request(9, 3, drivewire::kHello, Hello()), Status::NoSuchAxis,
       "no drive answers to axis 9", 0},
      {"the program starts", 1, Request(1, 4, drivewire::kStartProgram, start, 0.1), Status::Ok, "", 0},
      {"the start again, its answer lost", 1, Request(1, 4, drivewire::kStartProgram, start, 0.1), Status::Ok, "", 1},
      {"the same number, another message", 1, Request(1, 4, drivewire::kStopProgram), Status::Ok, "", 1},
      {"an unknown code", 1, Request(1, 5, 0x7777), Status::UnknownCode, "unknown message code 30583", 1},
      {"fields missing", 1, Request(1, 6, drivewire::kReadVariable), Status::BadPayload,
       "the fields of message 16 do not parse", 1},
      {"no time at all", 1, Frame{1, drivewire::Kind::Request, 8, drivewire::kKeepAlive, {}}, Status::BadPayload,
       "the request carries no time", 1},
      {"a refusal of the drive's own", 1, Request(1, 9, drivewire::kGetProgramVariable, [] {
         PayloadWriter w;
         w.Str("No_Such_Test").Str("STARTED");
         return w;
       }()), Status::Refused, "the drive has no program \"No_Such_Test\"", 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const auto [status, reason] = send(step.connection, step.request);
    EXPECT_EQ(status, step.status);
    EXPECT_EQ(reason, step.reason);
    EXPECT_EQ(server.Counts().repeated, step.repeated);
  }
  // The host that held axis 1 goes: another may take it.
  server.Disconnected(1);
  EXPECT_EQ(send(2, Request(1, 1, drivewire::kHello, Hello())).first, Status::Ok);
}

// axdrive's server on its own thread.
class LoopbackServer {
 public:
  explicit LoopbackServer(const axdrive::LinkFaults& faults)
      : m_server(ExampleAxes(1), drivewire::ClockMode::Lockstep, 1.0), m_network(m_server, faults, 3) {
    std::string error;
    EXPECT_TRUE(m_network.ListenTcp("127.0.0.1", 0, m_port, error)) << error;
    m_thread = std::thread([this] { m_network.Run(false); });
  }
  ~LoopbackServer() {
    m_network.Stop();
    m_thread.join();
  }
  std::string Spec() const { return "tcp:127.0.0.1:" + std::to_string(m_port); }

 private:
  axdrive::DriveServer m_server;
  axdrive::Network m_network;
  std::uint16_t m_port = 0;
  std::thread m_thread;
};

// The resistance identification with the data logger recording 2,000
// points of 8 variables every current-loop period; the host polls every
// 20 ms until the program ends, then uploads.
std::vector<std::vector<double>> LogOf(DriveLink& drive, VirtualClock& clock) {
  LoggerSettings logger;
  logger.points = 2000;
  logger.logType = 2;
  logger.step = 1;
  logger.variables = {"IA", "IB", "IQ", "ID", "VDC", "APOS", "Motor_Speed", "Voltage_Reference"};
  std::string error;
  for (const auto& [name, value] : {std::pair{"RefTest", 8800.0}, {"RIncTest", 20.0}, {"In1", 4910.0}})
    EXPECT_TRUE(drive.SetProgramVariable("Ident_R_or_Rs", name, value, error)) << error;
  EXPECT_TRUE(drive.StartProgram("Ident_R_or_Rs", &logger, error)) << error;
  bool on = true;
  for (int k = 0; k < 500 && on; ++k) {
    clock.Advance(0.020);
    EXPECT_TRUE(drive.GetAxisOn(on, error)) << error;
  }
  EXPECT_FALSE(on);
  std::vector<std::vector<double>> points;
  EXPECT_TRUE(drive.UploadLog(points, error)) << error;
  return points;
}

TEST(WireLink, ALogOfTwoThousandPointsCrossesALossyLinkAsTheDriveInProcessGivesIt) {
  VirtualClock local;
  virtualdrive::VirtualDrive inProcess(virtualdrive::ExamplePlant(), &local);
  const std::vector<std::vector<double>> expected = LogOf(inProcess, local);
  ASSERT_EQ(expected.size(), 2000u);
  ASSERT_EQ(expected.front().size(), 9u);
  struct Case {
    const char* what;
    double drop, corrupt;
  };
  const Case cases[] = {{"a clean link", 0.0, 0.0}, {"a fifth of the frames lost, a twentieth damaged", 0.2, 0.05}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    axdrive::LinkFaults faults;
    faults.drop = c.drop;
    faults.corrupt = c.corrupt;
    LoopbackServer server(faults);
    std::string error;
    auto link = drivewire::WireLink::Connect(server.Spec(), {5, 20}, error);
    ASSERT_NE(link, nullptr) << error;
    VirtualClock clock;
    link->SetClock(&clock);
    ASSERT_TRUE(link->Restart(error)) << error;
    EXPECT_EQ(LogOf(*link, clock), expected);
    // 2,000 points of 9 values come in chunks of 56.
    EXPECT_GE(link->Counts().requests, 2000u / 56u);
    EXPECT_EQ(link->Counts().retries > 0, c.drop > 0.0);
  }
}

}  // namespace
