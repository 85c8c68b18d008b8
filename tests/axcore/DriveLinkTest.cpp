// The host's side of the drive link, against a scripted link: what reaches
// the drive, in which units, and how failures come back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "axcore/CoffFormat.h"
#include "axcore/Comm.h"
#include "axcore/Logger.h"
#include "axcore/Setup.h"
#include "axcore/TestPrograms.h"

namespace {

namespace fs = std::filesystem;

// A drive that answers from maps and records what it was sent.
class ScriptedLink : public DriveLink {
 public:
  std::map<std::string, double, std::less<>> variables;
  std::map<std::string, double, std::less<>> registers;
  std::map<std::string, double, std::less<>> programVariables;  // "program/name"
  std::string started;
  LoggerSettings startedLogger;
  std::vector<std::vector<double>> log;
  std::vector<UnsolicitedMessage> pending;
  bool axisOn = false;
  bool failAll = false;

  bool ReadVariable(std::string_view name, double& value, std::string& error) override {
    if (failAll) return Refuse(error);
    auto it = variables.find(name);
    if (it == variables.end()) return Refuse(error);
    value = it->second;
    return true;
  }
  bool WriteVariable(std::string_view name, double value, std::string& error) override {
    if (failAll) return Refuse(error);
    variables[std::string(name)] = value;
    return true;
  }
  bool WriteRegister(std::string_view name, double value, std::string& error) override {
    if (failAll) return Refuse(error);
    registers[std::string(name)] = value;
    return true;
  }
  bool SetProgramVariable(std::string_view program, std::string_view name, double value, std::string& error) override {
    if (failAll) return Refuse(error);
    programVariables[std::string(program) + "/" + std::string(name)] = value;
    return true;
  }
  bool GetProgramVariable(std::string_view program, std::string_view name, double& value, std::string& error) override {
    if (failAll) return Refuse(error);
    value = programVariables[std::string(program) + "/" + std::string(name)];
    return true;
  }
  bool StartProgram(std::string_view program, const LoggerSettings* logger, std::string& error) override {
    if (failAll) return Refuse(error);
    started = program;
    startedLogger = logger ? *logger : LoggerSettings{};
    return true;
  }
  bool StopProgram(std::string& error) override { return failAll ? Refuse(error) : true; }
  bool GetAxisOn(bool& on, std::string& error) override {
    if (failAll) return Refuse(error);
    on = axisOn;
    return true;
  }
  bool UploadLog(std::vector<std::vector<double>>& points, std::string& error) override {
    if (failAll) return Refuse(error);
    points = log;
    return true;
  }
  bool TakeUnsolicitedMessages(std::vector<UnsolicitedMessage>& messages, std::string& error) override {
    if (failAll) return Refuse(error);
    messages = std::move(pending);
    pending.clear();
    return true;
  }

 private:
  static bool Refuse(std::string& error) {
    error = "communication lost";
    return false;
  }
};

// One internal unit of an "A" quantity is 0.25 A (a current scale of 4 counts per ampere).
double QuarterAmpere(CMC_Setup*, const char* unit, const char*) { return std::string_view(unit) == "A" ? 0.25 : 1.0; }
double NoOffset(CMC_Setup*, const char*) { return 0.0; }

TEST(DriveLink, WithoutADriveEveryAccessFailsWithTheSameText) {
  ScopedDriveLink none(nullptr);
  CMC_Setup setup;
  ParameterSpec spec;
  spec.name = "KPI";
  CMC_Parameter* kpi = setup.AddParameter(spec);
  CMC_Variable* mer = setup.AddVariable("MER", "");
  CMC_CoffFormat program;
  CMC_Logger logger(&setup);
  std::string error;
  double value = 0;
  int on = 0;
  EXPECT_EQ(kpi->WriteToChip(), 0);
  EXPECT_EQ(mer->ReadFromChip(), 0);
  EXPECT_EQ(mer->WriteToChip(), 0);
  EXPECT_EQ(setup.GetLastDriveError(), "no drive connected");
  EXPECT_EQ(axcore::ExecuteCode("Ident_R_or_Rs", nullptr, nullptr), 0);
  EXPECT_EQ(axcore::GetAxisOn(on, error), 0);
  EXPECT_EQ(error, "no drive connected");
  EXPECT_EQ(logger.BeginUploadData(), 0);
  EXPECT_EQ(CMC_Comm::CheckForUnrequestedMessages(), 0);
  EXPECT_EQ(CMC_Comm::GetLastErrorText(), "no drive connected");
  EXPECT_EQ(axcore::GetUserVariableValue(program, "In1", value, error), 0) << "no descriptor was read";
}

TEST(DriveLink, ValuesCrossInInternalUnits) {
  ScriptedLink link;
  ScopedDriveLink connected(&link);
  CMC_Setup setup;
  setup.SetScaleFunctions({QuarterAmpere, NoOffset});
  ParameterSpec spec;
  spec.name = "IMAXPROT";
  spec.unit = "A";
  spec.value = 2.0;
  CMC_Parameter* limit = setup.AddParameter(spec);
  CMC_Variable* iq = setup.AddVariable("IQ", "A");
  link.variables["IQ"] = 10.0;  // counts
  EXPECT_EQ(iq->ReadFromChip(), 1);
  EXPECT_EQ(iq->GetValueInBaseUnit(), 2.5);
  EXPECT_EQ(limit->WriteToChip(), 1);
  EXPECT_EQ(link.registers["IMAXPROT"], 8.0) << "2 A at 4 counts per ampere";
  iq->SetValueInBaseUnit(1.0);
  EXPECT_EQ(iq->WriteToChip(), 1);
  EXPECT_EQ(link.variables["IQ"], 4.0);
  link.variables["IQ"] = NAN;
  EXPECT_EQ(iq->ReadFromChip(), 0) << "a value that is no number is a failure, not a stored NaN";
  EXPECT_EQ(iq->GetValueInBaseUnit(), 1.0);
  EXPECT_EQ(CMC_Comm::GetLastErrorText(), "drive variable \"IQ\" read a value that is not a finite number");
  link.failAll = true;
  EXPECT_EQ(iq->ReadFromChip(), 0);
  EXPECT_EQ(CMC_Comm::GetLastErrorText(), "communication lost");
}

class ProgramDescriptor : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "axcoff-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Write(const std::string& text) {
    const fs::path path = dir / "program.json";
    std::ofstream(path) << text;
    return path.string();
  }
  fs::path dir;
};

TEST_F(ProgramDescriptor, ReadsNameAndTypedVariablesOrFailsWhole) {
  const struct {
    const char* text;
    bool ok;
    const char* reason;
  } cases[] = {
      {R"({"program":"Ident_R_or_Rs","variables":{"In1":"int","var_lf_long":"long","b0":"fixed"}})", true, ""},
      {R"({"program":"Ident_R_or_Rs","variables":{"In1":"short"}})", false, "variable \"In1\": unknown type"},
      {R"({"program":"Ident_R_or_Rs","variables":{"In1":"int","in1":"int"}})", false, "duplicate name"},
      {R"({"variables":{}})", false, "\"program\" must name the program"},
      {R"({"program":"X","variables":[]})", false, "\"variables\" must be an object"},
      {"{ not json", false, "invalid JSON"},
  };
  for (const auto& c : cases) {
    CMC_CoffFormat program;
    program.SetPath(Write(c.text));
    EXPECT_EQ(program.ReadCoff(), c.ok ? 1 : 0) << c.text;
    EXPECT_NE(program.GetLastError().find(c.reason), std::string::npos) << program.GetLastError();
    if (!c.ok) {
      EXPECT_TRUE(program.GetVariables().empty()) << c.text;
    }
  }
  CMC_CoffFormat missing;
  missing.SetPath((dir / "none.json").string());
  EXPECT_EQ(missing.ReadCoff(), 0);
}

TEST_F(ProgramDescriptor, UserVariablesAreCheckedBeforeTheyReachTheDrive) {
  ScriptedLink link;
  ScopedDriveLink connected(&link);
  CMC_CoffFormat program;
  program.SetPath(Write(R"({"program":"Ident_R_or_Rs","variables":{"In1":"int","Ts":"fixed"}})"));
  ASSERT_EQ(program.ReadCoff(), 1);
  std::string error;
  const struct {
    const char* name;
    double value;
    int ok;
  } cases[] = {{"In1", 1234, 1}, {"in1", -32768, 1}, {"In1", 65536, 0}, {"In1", NAN, 0},
               {"Ts", 0.5, 1},   {"Ts", 32768, 0},   {"Missing", 1, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(axcore::SetUserVariableValue(program, c.name, c.value, error), c.ok) << c.name << " = " << c.value;
  EXPECT_EQ(link.programVariables["Ident_R_or_Rs/In1"], -32768.0) << "written under the descriptor's spelling";
  EXPECT_EQ(link.programVariables.size(), 2u) << "refused values never reached the drive";
  double value = 0;
  EXPECT_EQ(axcore::GetUserVariableValue(program, "TS", value, error), 1);
  EXPECT_EQ(value, 0.5);
}

TEST(DriveLink, ProgramLaunchCarriesTheLoggerAndTheUploadReadsPointByPoint) {
  ScriptedLink link;
  ScopedDriveLink connected(&link);
  CMC_Setup setup;
  CMC_SingleAxisLogger logger(&setup);
  EXPECT_EQ(logger.ChangeSettings(0, 1, 1), 0);
  EXPECT_EQ(logger.ChangeSettings(100, 3, 1), 0);
  EXPECT_EQ(logger.ChangeSettings(500, 2, 4), 1);
  logger.AddVariable("IQ", 1);
  logger.AddVariable("Current_Reference", 1);
  EXPECT_EQ(axcore::ExecuteCode("Current_Controller_Tuning_Test", nullptr, &logger), 1);
  EXPECT_EQ(link.started, "Current_Controller_Tuning_Test");
  EXPECT_EQ(link.startedLogger.points, 500);
  EXPECT_EQ(link.startedLogger.logType, 2);
  EXPECT_EQ(link.startedLogger.variables, (std::vector<std::string>{"IQ", "Current_Reference"}));
  link.log = {{0.0, 1.0, 2.0}, {0.0005, 3.0, 4.0}};
  ASSERT_EQ(logger.BeginUploadData(), 1);
  std::vector<double> point;
  int delivered = 0;
  while (logger.ReadPoint(point)) ++delivered;
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(point, (std::vector<double>{0.0005, 3.0, 4.0}));
  link.failAll = true;
  EXPECT_EQ(logger.BeginUploadData(), 0);
  EXPECT_EQ(logger.ReadPoint(point), 0) << "a failed upload leaves nothing to read";
}

TEST(DriveLink, UnsolicitedMessagesGoToTheInstalledHandlerWhichCanBeRestored) {
  ScriptedLink link;
  ScopedDriveLink connected(&link);
  std::vector<std::uint8_t> received;
  auto previous = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(
      [&](const UnsolicitedMessage& m) { received.insert(received.end(), m.bytes.begin(), m.bytes.end()); });
  link.pending = {{{1, 2}}, {{3}}};
  EXPECT_EQ(CMC_Comm::CheckForUnrequestedMessages(), 1);
  EXPECT_EQ(received, (std::vector<std::uint8_t>{1, 2, 3}));
  auto mine = CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(previous);
  EXPECT_TRUE(static_cast<bool>(mine));
  link.pending = {{{9}}};
  EXPECT_EQ(CMC_Comm::CheckForUnrequestedMessages(), 1);
  EXPECT_EQ(received.size(), 3u) << "the restored handler got the frame";
}

}  // namespace
