// The drive's scope while the speed tuning program runs on the example
// motor, as the host's scope logger receives it: the same samples as the
// data logger records, in frames of at most 10 ms (20 speed-loop periods of
// 0.5 ms), an end of stream when the program ends, a bounded queue that
// drops its oldest frames, and a lost link.
//
// Profile (0 -> 3200 -> 0 counts per speed-loop period): 59 x 3495253/65536
// then the rest, 400 at 3200, the same down, 200 at 0; 720 periods, so 721
// samples: 36 frames of 20 and one of 1. The reference of period p <= 59 is
// p x 53.33: 1600.0 at 30 (just below it), 1653.3 at 31, so a rising
// trigger at 1620 fires on sample 31.
#include <gtest/gtest.h>

#include <cmath>

#include "DriveRun.h"
#include "ScaleFactor.h"
#include "Scales.h"
#include "axcore/Comm.h"
#include "axcore/ScopeLogger.h"

namespace {

const char* const kChannels[] = {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"};
constexpr double kPeriod_s = 0.0005;

struct Stream {
  std::vector<std::vector<double>> logged;  // the data logger's rows, base units
  int frames = 0, ends = 0;
  std::size_t largest = 0;  // payload bytes
};

// Positioning, then the program with the data logger recording and `scope`
// streaming until it reports its end.
Stream RunWithScope(drive_run::Bench& bench, CMC_Setup& setup, CMC_ScopeLogger& scope) {
  ScopedDriveLink link(&bench.drive);
  const double i0 = std::trunc(setup.GetParameterValueInBaseUnit("TestCurrent") * CurrentScale(setup));
  EXPECT_TRUE(bench.Run("Initial_Positioning_Test", {{"In1", i0}}).finished);
  const double profile[6][2] = {{59, 3495253}, {1, 3495273}, {400, 0}, {59, -3495253}, {1, -3495273}, {200, 0}};
  std::map<std::string, double> inputs = {{"RefTest", bench.Variable("REFTST_V")},
                                          {"RIncTest", bench.Variable("RINCTST_V")},
                                          {"Imax_Prot_Test", 26189},
                                          {"MultiC", 0}};
  for (int i = 0; i < 6; ++i) {
    inputs["a" + std::to_string(i)] = profile[i][0];
    inputs["b" + std::to_string(i)] = profile[i][1] / 65536.0;
  }
  std::string error;
  for (const auto& [name, value] : inputs)
    EXPECT_TRUE(bench.drive.SetProgramVariable("Speed_Controller_Tuning_Test", name, value, error)) << error;
  CMC_Logger logger(&setup);
  logger.ChangeSettings(2400, 1, 1);
  for (const char* name : kChannels) logger.AddVariable(name, 1);
  Stream stream;
  auto previous = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler([&](const UnsolicitedMessage& message) {
    std::span<const std::uint8_t> payload;
    if (!ScopeFramePayload(message, payload)) return;
    ++(payload.empty() ? stream.ends : stream.frames);
    stream.largest = std::max(stream.largest, payload.size());
    scope.OnFrameReceive(payload);
  });
  EXPECT_EQ(scope.BeginUploadData(), 1) << CMC_Comm::GetLastErrorText();
  EXPECT_TRUE(bench.drive.StartProgram("Speed_Controller_Tuning_Test", &logger.GetSettings(), error)) << error;
  for (int ms = 0; ms < 2000 && !scope.DoGracefulStop(); ++ms) {
    bench.clock.Advance(0.001);
    EXPECT_EQ(CMC_Comm::CheckForUnrequestedMessages(), 1);
  }
  CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(previous);
  EXPECT_TRUE(scope.DoGracefulStop());
  EXPECT_EQ(scope.EndUploadData(), 1);
  EXPECT_EQ(logger.BeginUploadData(), 1);
  while (logger.ReadPoint() != 0) {
  }
  stream.logged = logger.GetPlotDocument().Rows();
  return stream;
}

TEST(ScopeStream, TheScopeShowsWhatTheDataLoggerRecordsFreeRunningOrTriggered) {
  const struct {
    const char* what;
    int window, mode;
    double percent;
    int frames, ends, rows;
    int shift;  // scope row k is logged row k - shift (none before row shift)
    double time0;  // time of scope row 0, speed-loop periods
  } cases[] = {
      {"free running over the whole run", 1000, 1, 0, 37, 1, 721, 0, 0},
      // Trigger on sample 31 at window point 50: the 19 points before the
      // first sample are blank, and the window is full before the end.
      {"single, rising through 1620, a quarter before", 200, 4, 25, -1, 0, 200, 19, -50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    drive_run::Bench bench(virtualdrive::ExamplePlant());
    auto setup = drive_run::ExampleSetup();
    setup->SetScaleFunctions(ModelScaleFunctions());
    CMC_ScopeLogger scope(setup.get());
    for (const char* name : kChannels) scope.AddVariable(name, 1);
    const CMC_Variable* speed = setup->FindVariable("Speed_Reference");
    ASSERT_EQ(scope.ChangeSettings(c.window, c.mode, 1, "Speed_Reference", speed->InternalToBase(1620), c.percent), 1);
    const Stream stream = RunWithScope(bench, *setup, scope);
    if (c.frames >= 0) {
      EXPECT_EQ(stream.frames, c.frames);
    }
    EXPECT_EQ(stream.ends, c.ends);
    EXPECT_LE(stream.largest, 8u + 20u * 16u) << "at most 20 samples of 4 channels a frame";
    ASSERT_GE(stream.logged.size(), static_cast<std::size_t>(c.rows - c.shift));
    const auto& rows = scope.GetPlotDocument().Rows();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.rows));
    for (int k = 0; k < c.rows; ++k) {
      const auto& row = rows[static_cast<std::size_t>(k)];
      EXPECT_NEAR(row[0], (c.time0 + k) * kPeriod_s, 1e-9) << k;
      if (k < c.shift) {
        EXPECT_TRUE(std::isnan(row[1])) << k;
        continue;
      }
      const auto& logged = stream.logged[static_cast<std::size_t>(k - c.shift)];
      // Within one sample period of the logger's time from the trigger (or
      // from its first point), and the value to the frame's 1/256 unit.
      const double t0 = stream.logged[c.mode == 1 ? 0 : 31][0];
      EXPECT_LT(std::abs(row[0] - (logged[0] - t0)), kPeriod_s) << k;
      for (std::size_t ch = 1; ch <= 4; ++ch) {
        const CMC_Variable* variable = setup->FindVariable(kChannels[ch - 1]);
        const double lsb = std::abs(variable->InternalToBase(1.0) - variable->InternalToBase(0.0)) / 256;
        ASSERT_NEAR(row[ch], logged[ch], 0.5 * lsb + 1e-12) << k << " " << kChannels[ch - 1];
      }
    }
    if (c.mode == 4) {
      EXPECT_GE(rows[50][1], speed->InternalToBase(1620));
    }
  }
}

TEST(ScopeStream, AQueueTheHostDoesNotEmptyDropsItsOldestFramesAndALostLinkFails) {
  drive_run::Bench bench(virtualdrive::ExamplePlant());
  auto setup = drive_run::ExampleSetup();
  ScopedDriveLink link(&bench.drive);
  const double i0 = std::trunc(setup->GetParameterValueInBaseUnit("TestCurrent") * CurrentScale(*setup));
  ASSERT_TRUE(bench.Run("Initial_Positioning_Test", {{"In1", i0}}).finished);
  std::string error;
  for (const auto& [name, value] : std::map<std::string, double>{{"a0", 100}, {"b0", 1}, {"a1", 100}, {"b1", -1}, {"MultiC", 1}})
    ASSERT_TRUE(bench.drive.SetProgramVariable("Speed_Controller_Tuning_Test", name, value, error)) << error;
  ScopeSettings settings;
  settings.variables = {"Speed_Reference"};
  ASSERT_TRUE(bench.drive.StartScope(settings, error)) << error;
  ASSERT_TRUE(bench.drive.StartProgram("Speed_Controller_Tuning_Test", nullptr, error)) << error;
  // 3 s are 6000 samples, 300 frames of 20: the newest 256 are kept.
  bench.clock.Advance(3.0);
  std::vector<UnsolicitedMessage> frames;
  ASSERT_TRUE(bench.drive.TakeUnsolicitedMessages(frames, error)) << error;
  ASSERT_EQ(frames.size(), 256u);
  EXPECT_EQ(bench.drive.DroppedScopeFrames(), 44u);
  std::span<const std::uint8_t> payload;
  ASSERT_TRUE(ScopeFramePayload(frames.front(), payload));
  EXPECT_EQ(payload[0] | payload[1] << 8, 44 * 20) << "the first frame kept starts with sample 880";

  bench.drive.InjectLostLink(true);
  EXPECT_EQ(CMC_Comm::CheckForUnrequestedMessages(), 0);
  EXPECT_EQ(CMC_Comm::GetLastErrorText(), "no answer from the drive: the communication link is lost");
}

}  // namespace
