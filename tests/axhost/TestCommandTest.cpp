// axhost test as a user runs it: the status texts as they appear, the
// result, the parameters that changed, the setup written only after a
// pass, and a failure that exits 1 with the test's text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* arguments;  // OUT stands for the output file, PLANT for the plant file
  int status;
  const char* out;        // expected in standard output
  const char* err;        // expected in standard error ("" for none)
  bool written;
};

TEST(TestCommandTest, RunsATestToItsEndAndReportsWhatChanged) {
  testing_support::TempDir dir{"axtest-cmd"};
  const fs::path plant = dir.path() / "open-lead.json";
  std::ofstream(plant) << R"({"format": "axplant-1", "faults": {"open_lead": "B"}})";
  const Case cases[] = {
      {"test supply-voltage -o OUT", 0, "status: Running test\nresult: passed\nmessage: A different value", "", true},
      {"test supply-voltage --keep no -o OUT", 0, "[no]\nchanged:\n  ABSTART_MINMOVE 81920 -> 0\nsetup written", "", true},
      {"--drive virtual:PLANT test phase-connection -o OUT", 1, "result: failed: Possible causes of failure:",
       "error: test: Possible causes of failure:", false},
      {"test analogue-reference --for 200", 0, "status: Running test\nresult: passed\nchanged:\n  ABSTART_MINMOVE 81920 -> 0\n", "", false},
      {"test no-such-test", 2, "", "error: test: no test \"no-such-test\"; one of:", false},
  };
  // Opening a test frees the drive's start-up motion check (ABSTART_MINMOVE
  // 0); a kept supply voltage comes with the registers that follow from it.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string arguments = c.arguments;
    const fs::path out = dir.path() / "out.json";
    fs::remove(out);
    for (const auto& [word, path] : {std::pair{"OUT", out}, std::pair{"PLANT", plant}})
      if (auto at = arguments.find(word); at != std::string::npos) arguments.replace(at, std::string_view(word).size(), "'" + path.string() + "'");
    const auto run = testing_support::RunAxhost(arguments, dir.path());
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    if (*c.err) {
      EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
    }
    EXPECT_EQ(fs::exists(out), c.written);
    if (std::string(c.arguments) == "test supply-voltage -o OUT") {
      EXPECT_NE(run.out.find("changed:\n  Vdc 48 -> 47."), std::string::npos) << run.out;
    }
  }
}

}  // namespace
