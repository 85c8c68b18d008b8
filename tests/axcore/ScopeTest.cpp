// The host's scope: scope frames as the link delivers them, the scope
// logger's window and trigger fed by hand-made frames, its settings kept in
// a setup option, and the polling plot's rolling window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "axcore/Comm.h"
#include "axcore/EditSetupDlg.h"
#include "axcore/Oscilloscope.h"
#include "axcore/Resources.h"
#include "axcore/ScopeLogger.h"
#include "axcore/Setup.h"
#include "support/HostRunner.h"

namespace {

TEST(ScopeFrames, APayloadIsTakenOnlyFromAWholeFrameOfTheScopeCode) {
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool taken;
    std::size_t payload;
  } cases[] = {
      {"good frame: 2 words", {2, 0, 0, 0, 0x00, 0xE9, 1, 2, 3, 4}, true, 4},
      {"bytes beyond the payload are ignored", {1, 0, 0, 0, 0x00, 0xE9, 1, 2, 3}, true, 2},
      {"zero count: the end of stream", {0, 0, 0, 0, 0x00, 0xE9}, true, 0},
      {"another code", {1, 0, 0, 0, 0x01, 0xE9, 1, 2}, false, 0},
      {"shorter than its count says: dropped", {3, 0, 0, 0, 0x00, 0xE9, 1, 2, 3, 4}, false, 0},
      {"a count of 0x0100 words read little-endian", {0, 1, 0, 0, 0x00, 0xE9, 1, 2}, false, 0},
      {"no header", {1, 0, 0, 0, 0x00}, false, 0},
  };
  for (const auto& c : cases) {
    const UnsolicitedMessage message{c.bytes};
    std::span<const std::uint8_t> payload;
    EXPECT_EQ(ScopeFramePayload(message, payload), c.taken) << c.what;
    EXPECT_EQ(payload.size(), c.payload) << c.what;
    if (c.taken && c.payload > 0) {
      EXPECT_EQ(payload.data(), message.bytes.data() + 6) << c.what;
    }
  }
}

// A frame payload: first sample index, 1 ms between samples, then the
// samples of one channel as the drive encodes them (value x 256).
std::vector<std::uint8_t> Payload(std::uint32_t index, std::vector<double> samples) {
  std::vector<std::uint16_t> words = {static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(index >> 16),
                                      1000000 & 0xFFFF, 1000000 >> 16};
  for (double v : samples) {
    const auto raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(v * 256));
    words.push_back(static_cast<std::uint16_t>(raw));
    words.push_back(static_cast<std::uint16_t>(raw >> 16));
  }
  UnsolicitedMessage message = MakeUnsolicitedMessage(kScopeFrameCode, words);
  return {message.bytes.begin() + 6, message.bytes.end()};
}

struct NoScopeLink : DriveLink {  // accepts the scope, delivers nothing
  bool ReadVariable(std::string_view, double&, std::string&) override { return false; }
  bool WriteVariable(std::string_view, double, std::string&) override { return false; }
  bool WriteRegister(std::string_view, double, std::string&) override { return false; }
  bool SetProgramVariable(std::string_view, std::string_view, double, std::string&) override { return false; }
  bool GetProgramVariable(std::string_view, std::string_view, double&, std::string&) override { return false; }
  bool StartProgram(std::string_view, const LoggerSettings*, std::string&) override { return false; }
  bool StopProgram(std::string&) override { return false; }
  bool GetAxisOn(bool&, std::string&) override { return false; }
  bool UploadLog(std::vector<std::vector<double>>&, std::string&) override { return false; }
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>&, std::string&) override { return true; }
  bool StartScope(const ScopeSettings&, std::string&) override { return true; }
  bool StopScope(std::string&) override { return true; }
};

TEST(ScopeLogger, TheWindowFillsAsItsTriggerModeSays) {
  const double nan = std::nan("");
  const struct {
    const char* what;
    int window, mode, slope;
    double percent;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<double> values, times;  // the rows, window point by point
    int first, count;                   // GetPointsToBeDrawn after all frames
    bool ended;
    std::uint64_t lost;
  } cases[] = {
      {"single, rising through 2.5 with half the window before it", 4, 4, 1, 50,
       {Payload(0, {0, 1, 2, 3, 4, 5, 6})}, {1, 2, 3, 4}, {-0.002, -0.001, 0, 0.001}, 0, 4, true, 0},
      {"single, falling through 2.5, nothing before it yet: blank", 3, 4, 0, 50,
       {Payload(0, {3, 2, 1, 0})}, {nan, 3, 2}, {-0.002, -0.001, 0}, 0, 3, true, 0},
      {"normal: the second crossing overwrites the window", 2, 2, 1, 0,
       {Payload(0, {0, 3, 4, 0, 3, 5})}, {3, 5}, {0, 0.001}, 0, 2, false, 0},
      {"free running wraps round: the oldest point drawn first", 3, 1, 1, 0,
       {Payload(0, {0, 1, 2, 3, 4})}, {3, 4, 2}, {0, 0.001, 0.002}, 2, 3, false, 0},
      {"lost frames are blank points", 10, 1, 1, 0,
       {Payload(0, {1, 2}), Payload(4, {5}), Payload(1, {9})}, {1, 2, nan, nan, 5}, {0, 0.001, 0.002, 0.003, 0.004},
       0, 5, false, 2},
  };
  NoScopeLink link;
  ScopedDriveLink connected(&link);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CMC_ScopeLogger scope(nullptr);
    ASSERT_EQ(scope.AddVariable("V", 1), 1);
    ASSERT_EQ(scope.ChangeSettings(c.window, c.mode, c.slope, c.mode == 1 ? "" : "v", 2.5, c.percent), 1);
    ASSERT_EQ(scope.BeginUploadData(), 1);
    for (const auto& frame : c.frames) scope.OnFrameReceive(frame);
    const auto& rows = scope.GetPlotDocument().Rows();
    ASSERT_EQ(rows.size(), c.values.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
      EXPECT_NEAR(rows[k][0], c.times[k], 1e-12) << k;
      if (std::isnan(c.values[k])) {
        EXPECT_TRUE(std::isnan(rows[k][1])) << k;
      } else {
        EXPECT_EQ(rows[k][1], c.values[k]) << k;
      }
    }
    int first = -1, count = -1;
    EXPECT_TRUE(scope.GetPointsToBeDrawn(first, count));
    EXPECT_EQ(std::make_pair(first, count), std::make_pair(c.first, c.count));
    EXPECT_FALSE(scope.GetPointsToBeDrawn(first, count)) << "drawn once";
    EXPECT_EQ(scope.DoGracefulStop(), c.ended);
    EXPECT_EQ(scope.GetLostSamples(), c.lost);
  }
  // A payload that is no whole number of samples is dropped; the empty one
  // ends the stream.
  CMC_ScopeLogger scope(nullptr);
  scope.AddVariable("V", 1);
  ASSERT_EQ(scope.BeginUploadData(), 1);
  std::vector<std::uint8_t> cut = Payload(0, {1, 2});
  cut.pop_back();
  EXPECT_EQ(scope.OnFrameReceive(cut), 0);
  EXPECT_EQ(scope.GetDroppedFrames(), 1u);
  EXPECT_EQ(scope.OnFrameReceive({}), 0);
  EXPECT_TRUE(scope.DoGracefulStop());
  EXPECT_FALSE(scope.IsUploading());
}

TEST(ScopeLogger, SettingsGoThroughASetupOptionAndScalesStepAlongOneTwoFive) {
  CMC_Setup setup;
  setup.AddVariable("Motor_Current", "A");
  CMC_ScopeLogger scope(&setup);
  scope.AddVariable("Speed_Reference", 1);
  scope.AddVariable("Motor_Current", 1);
  scope.GetPlotDocument().GetCurveSet(0).AddCurve(CXYCurve(0, 2, 1, 9, 2));
  EXPECT_EQ(scope.RescaleVariable("motor_current", "V", 1, 0), 0) << "a unit of another type";
  ASSERT_EQ(scope.RescaleVariable("motor_current", "mA", 500, 1000), 1);
  // 1.5 A = 1500 mA, (1500 - 1000) / 500: one division up.
  EXPECT_DOUBLE_EQ(scope.GetPlotDocument().DrawnCell({0, 0, 1.5}, 2), 1.0);
  ASSERT_EQ(scope.ChangeSettings(400, 4, 0, "Speed_Reference", -0.5, 13), 1);
  EXPECT_EQ(scope.GetTriggerPoint(), 52);
  EXPECT_EQ(scope.ChangeSettings(400, 3, 0, "Speed_Reference", 0, 13), 0);
  EXPECT_EQ(scope.ChangeSettings(400, 2, 0, "", 0, 13), 0) << "a trigger needs a channel";
  ASSERT_EQ(scope.SaveSettingsToSetupOption("SpeedTuningOscSettings"), 1);

  CMC_ScopeLogger loaded(&setup);
  ASSERT_EQ(loaded.LoadSettingsFromSetupOption("SpeedTuningOscSettings"), 1) << loaded.GetSettingsError();
  EXPECT_EQ(loaded.SettingsToJson(), scope.SettingsToJson());
  EXPECT_EQ(loaded.GetPlotDocument().Columns()[2].unit, "A");
  EXPECT_DOUBLE_EQ(loaded.GetPlotDocument().DrawnCell({0, 0, 1.5}, 2), 1.0);

  // Coarser by one, then finer by two (the high word 0xFFFE), the offset
  // staying two divisions.
  const struct {
    int steps;
    double scale, offset;
  } steps[] = {{1, 1000, 2000}, {0xFFFE, 200, 400}, {-1, 100, 200}};
  for (const auto& s : steps) {
    ASSERT_EQ(loaded.ChangeChannelScale(2, s.steps), 1) << s.steps;
    double scale = 0, offset = 0;
    std::string unit;
    ASSERT_TRUE(loaded.GetChannelScale(2, scale, offset, unit));
    EXPECT_DOUBLE_EQ(scale, s.scale);
    EXPECT_DOUBLE_EQ(offset, s.offset);
    EXPECT_EQ(unit, "mA");
  }
  EXPECT_EQ(loaded.ChangeChannelScale(3, 1), 0) << "no channel 3";

  for (const char* bad : {"{", R"({"format": "axscope-1", "channels": [{"name": 5}]})", ""}) {
    setup.SetOption("SpeedTuningOscSettings", bad);
    const std::string before = loaded.SettingsToJson();
    EXPECT_EQ(loaded.LoadSettingsFromSetupOption("SpeedTuningOscSettings"), 0) << bad;
    EXPECT_EQ(loaded.SettingsToJson(), before) << "a bad text changes nothing";
  }
}

// Settings files come from anywhere: every number is checked before it
// becomes an int, and sizes beyond what the drive streams are refused when
// the file is loaded, with a reason that says so.
TEST(ScopeLogger, SettingsBeyondTheDriveOrAnIntAreRefusedWithTheirReason) {
  auto settings = [](const std::string& top, const std::string& trigger, const std::string& channels,
                     const std::string& curves) {
    return R"({"format": "axscope-1", )" + top + R"("trigger": {"mode": 1, "slope": 1, "channel": "", "level": 0, )" +
           trigger + R"("pretrigger_percent": 10}, "channels": [)" + channels + R"(], "curves": [)" + curves + "]}";
  };
  std::string nine, many;
  for (int k = 0; k < 9; ++k) nine += std::string(k ? "," : "") + R"({"name": "V)" + std::to_string(k) + R"("})";
  for (int k = 0; k < 82; ++k) many += std::string(k ? "," : "") + R"({"x": 0, "y": 1, "axis": 1, "colour": 2, "style": 2})";
  const std::string one = R"({"name": "Speed_Reference"})";
  const struct {
    std::string text, why;
  } cases[] = {
      {settings(R"("window_points": 3e9, )", "", "", ""), "\"window_points\" must be a whole number from 1 to 100000"},
      {settings(R"("window_points": 400.5, )", "", "", ""), "\"window_points\" must be a whole number"},
      {settings(R"("window_points": 400, "divider": 1e300, )", "", "", ""), "\"divider\" must be a whole number from 1 to 1000"},
      {settings(R"("window_points": 400, )", "", "", ""), ""},  // valid: loads
      {settings(R"("window_points": 400, )", "", one, R"({"x": 0, "y": -1e19, "axis": 1, "colour": 2, "style": 2})"),
       "\"y\" must be a whole number from 0 to 1"},
      {settings(R"("window_points": 400, )", "", one, R"({"x": 0, "y": 1, "axis": 1, "colour": 5e9, "style": 2})"),
       "\"colour\" must be a whole number"},
      {settings(R"("window_points": 400, )", "", nine, ""), "have 9 channels; the drive's scope takes 1 to 8"},
      {settings(R"("window_points": 400, )", "", one, many), "have 82 curves; a scope draws at most 81"},
      {settings(R"("window_points": 400, )", "", "", "").replace(1, 0, R"("format": "x", )"), "duplicate key"},
  };
  CMC_Setup setup;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CMC_ScopeLogger scope(&setup);
    const std::string before = scope.SettingsToJson();
    std::string why;
    EXPECT_EQ(scope.SettingsFromJson(c.text, why), c.why.empty()) << why;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    if (!c.why.empty()) {
      EXPECT_EQ(scope.SettingsToJson(), before) << "a refused file changes nothing";
    }
  }
  // The file prompt may name a device or a FIFO: refused, not read for ever.
  testing_support::TempDir dir{"axtest-scope"};
  const std::filesystem::path fifo = dir.path() / "s.axscope";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  CMC_ScopeLogger scope(&setup);
  for (const std::string& path : {std::string("/dev/zero"), fifo.string()}) {
    EXPECT_EQ(scope.Load(path.c_str()), 0) << path;
    EXPECT_NE(scope.GetSettingsError().find("not a regular file"), std::string::npos) << scope.GetSettingsError();
  }
}

constexpr const char* kTemplate = R"({"format": "axdialog-1", "id": 902, "caption": "Scope",
  "controls": [{"id": 10, "kind": "plot", "at": [0, 0]}]})";

struct QuietView : axcore::DialogView {
  void Create() override {}
  void Update(const ControlState&) override {}
  void ShowStatus(const std::string&) override {}
  void Show() override {}
  void Close() override {}
  void RefreshPlot(int) override {}
};

TEST(Oscilloscope, TheWindowRollsOnAndEachChannelFillsTheHeightWithItsSpan) {
  const auto folder = std::filesystem::temp_directory_path() / ("axscope-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "dialogs");
  std::ofstream(folder / "dialogs" / "902.json") << kTemplate;
  axcore::RegisterResourceFolder(folder.string());
  CMC_Setup setup;
  CMC_EditSetupDlg dialog(&setup, 902, 1);
  QuietView view;
  ASSERT_TRUE(dialog.CreateDialog(&view));

  CMC_Oscilloscope scope;
  ASSERT_EQ(scope.Initialize("", 2, 0), 1);
  ASSERT_TRUE(scope.SubclassDlgItem(10, &dialog));
  ASSERT_EQ(scope.SetWindowPoints(3), 1);
  ASSERT_EQ(scope.SetChannelSpan(0, 12, -2), 1);  // top 12, bottom -2
  ASSERT_EQ(scope.SetChannelSpan(1, 0, 1), 1);    // upside down
  EXPECT_EQ(scope.SetChannelSpan(1, 1, 1), 0);
  for (int k = 0; k < 5; ++k) ASSERT_EQ(scope.AddPoints(k, 0.5), 1);
  EXPECT_EQ(scope.AddPoints(1.0), 0) << "one value per channel";
  const axcore::PlotDocument& plot = *dialog.GetPlot(10);
  ASSERT_EQ(plot.Curves().size(), 2u);
  EXPECT_EQ(plot.Curves()[0].x, (std::vector<double>{2, 3, 4}));
  EXPECT_EQ(plot.Curves()[0].y, (std::vector<double>{2, 3, 4}));
  // 0.5 is halfway up channel 1's span: halfway between -2 and 12.
  EXPECT_EQ(plot.Curves()[1].y, (std::vector<double>{5, 5, 5}));
  EXPECT_EQ(plot.Range(axcore::PlotAxisId::Left).min, -2);
  EXPECT_EQ(plot.Range(axcore::PlotAxisId::Left).max, 12);

  // A scope's ring on the same control: points replaced in place.
  NoScopeLink link;
  ScopedDriveLink connected(&link);
  CMC_ScopeLogger ring(nullptr);
  ring.AddVariable("V", 1);
  ring.GetPlotDocument().GetCurveSet(0).AddCurve(CXYCurve(0, 1, 1, 0, 2));
  ring.ChangeSettings(3, 1, 1, "", 0, 0);
  ring.BeginUploadData();
  CGraphWindow window;
  ASSERT_TRUE(window.SubclassDlgItem(10, &dialog, &ring.GetPlotDocument()));
  ring.OnFrameReceive(Payload(0, {1, 2}));
  window.RefreshGraph();
  ring.OnFrameReceive(Payload(2, {3, 4}));
  int first = 0, count = 0;
  ASSERT_TRUE(ring.GetPointsToBeDrawn(first, count));
  for (int k = 0; k < count; ++k) window.UpdatePoint((first + k) % ring.GetPointsNo());
  EXPECT_EQ(plot.Curves()[0].y, (std::vector<double>{4, 2, 3}));
  EXPECT_EQ(plot.Curves()[0].x, (std::vector<double>{0, 0.001, 0.002}));
}

}  // namespace
