// axhost run as a user runs it: exit status, standard output, standard error.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

using testing_support::HostRun;
using testing_support::ReadFile;

class Host : public ::testing::Test {
 protected:
  HostRun Axhost(const std::string& arguments) { return testing_support::RunAxhost(arguments, scratch.path()); }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  testing_support::TempDir scratch{"axhost-scratch"};
  testing_support::TempDir files{"axhost-test"};
  const fs::path& dir = files.path();
};

TEST_F(Host, ScalePrintsFactorAndOffsetForScripts) {
  HostRun run = Axhost("scale m APOS_MT");
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream fields(run.out);
  double factor = 0, offset = 1;
  fields >> factor >> offset;
  EXPECT_EQ(factor, 1.0 / 12800000.0) << run.out;  // 17 digits read back exactly
  EXPECT_EQ(offset, 0.0);
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(run.err, "");
}

TEST_F(Host, ShowPrintsTheChosenParametersOrFailsOnAMissingOne) {
  HostRun run = Axhost("show KPI EncRes");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("name", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\nKPI "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nEncRes "), std::string::npos) << run.out;
  HostRun missing = Axhost("show KPI NoSuchThing \"$(printf 'A\\nB')\"");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "error: embedded linear-drive example: no parameters \"NoSuchThing\", \"A\\nB\" in this setup\n");
  EXPECT_NE(missing.out.find("\nKPI "), std::string::npos) << "the parameters found are shown";
}

TEST_F(Host, NewPrintsExamplesThatShowReadsBack) {
  for (const char* variant : {"", " --basic"}) {
    HostRun made = Axhost(std::string("new") + variant);
    ASSERT_EQ(made.status, 0) << made.err;
    const fs::path file = Write("made.json", made.out);
    HostRun shown = Axhost("show '" + file.string() + "'");
    EXPECT_EQ(shown.status, 0) << variant << ": " << shown.err;
    EXPECT_EQ(shown.err, "") << variant << ": every name the scales read is in the example";
  }
}

TEST_F(Host, MalformedFilesAreRefusedWithOneLineAndStatus2) {
  const struct {
    const char* name;
    const char* text;
    const char* reason;
  } cases[] = {
      {"bad.json", "{ \"format\": ", "invalid JSON"},
      {"case.json", R"({"format":"axsetup-1","parameters":{"KPI":{},"kpi":{}}})", "duplicate name"},
      {"unit.json", R"({"format":"axsetup-1","parameters":{"KPI":{"unit":"Volt"}}})", "unknown unit \"Volt\""},
      {"kind.json", R"({"format":"axsetup-1","parameters":{"KPI":{"kind":"reg"}}})", "unknown kind \"reg\""},
      {"string.json", R"({"format":"axsetup-1","parameters":{"KPI":{"value":"1"}}})", "must be a number"},
      {"newline.json", R"({"format":"axsetup-1","parameters":{"K\nerror: forged":{"unit":"Volt"}}})",
       "parameter \"K\\nerror: forged\": unknown unit"},
  };
  for (const auto& c : cases) {
    const fs::path file = Write(c.name, c.text);
    const auto before = fs::last_write_time(file);
    HostRun run = Axhost("show '" + file.string() + "'");
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_EQ(run.err.rfind("error: " + file.string() + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadFile(file), c.text) << "the input is never touched";
    EXPECT_EQ(fs::last_write_time(file), before);
  }
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().extension() == ".json";
  EXPECT_EQ(entries, std::size(cases)) << "no other file was created";
}

TEST_F(Host, InputsThatAreNoFileAndBadOutputNamesAreRefusedWithOneLine) {
  const fs::path fifo = dir / "fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string arguments;
    const char* message;
  } cases[] = {
      {"compute '" + dir.string() + "'", "cannot read: is a directory"},
      {"compute '" + fifo.string() + "'", "cannot read: not a regular file (a FIFO)"},
      {"show /dev/null", "cannot read: not a regular file (a character device)"},
      {"--drive virtual:/dev/null drive run VDC_Detection_Test", "cannot read: not a regular file"},
      {"compute -o ''", "--output: the file name is empty"},
      {"encode -o ''", "--output: the file name is empty"},
      {"design current -o ''", "--output: the file name is empty"},
  };
  for (const auto& c : cases) {
    HostRun run = Axhost(c.arguments);
    EXPECT_EQ(run.status, 2) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
    EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST_F(Host, BadArgumentsAndAMissingPluginAreReported) {
  EXPECT_EQ(Axhost("").status, 2);
  EXPECT_EQ(Axhost("frobnicate").status, 2);
  EXPECT_EQ(Axhost("scale m").status, 2);
  HostRun help = Axhost("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"new", "show", "scale", "--plugin"}) EXPECT_NE(help.out.find(command), std::string::npos);
  HostRun noPlugin = Axhost("--plugin /nonexistent/Qtxmod_lin.so show");
  EXPECT_EQ(noPlugin.status, 1);
  EXPECT_EQ(noPlugin.err.rfind("error: cannot load plug-in /nonexistent/Qtxmod_lin.so: ", 0), 0u) << noPlugin.err;
  HostRun missingFile = Axhost("show /nonexistent/setup.json");
  EXPECT_EQ(missingFile.status, 2);
  EXPECT_EQ(missingFile.err, "error: /nonexistent/setup.json: cannot read: No such file or directory\n");
}

}  // namespace
