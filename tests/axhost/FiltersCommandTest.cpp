// `axhost filters` on the embedded example and on setups derived from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "EmbeddedExamples.h"
#include "support/TestSetup.h"
#include "axcore/Diagnostics.h"
#include "axcore/SetupFile.h"

namespace {

namespace fs = std::filesystem;

struct CommandRun {
  int status;
  std::string out;
  std::string err;
};

class FiltersCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(module.Load(AX_PLUGIN_PATH), "");
    std::string pattern = (fs::temp_directory_path() / "axhost-filters-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
    axcore::TakeMissingNames();
  }
  void TearDown() override { fs::remove_all(dir); }

  CommandRun Run(std::optional<std::string> file, bool csv) {
    std::ostringstream out, err;
    const int status = axhost::RunFilters(module, file, csv, {out, err});
    return {status, out.str(), err.str()};
  }

  // The full example with some parameters changed (ranges lifted), saved to a file.
  std::string Example(const std::vector<std::pair<const char*, double>>& changes) {
    auto setup = testing_support::LoadExample();
    for (const auto& [name, value] : changes) {
      CMC_Parameter* p = setup->FindParameter(name);
      p->ClearMin();
      p->ClearMax();
      p->SetValueInBaseUnit(value);
    }
    const std::string path = (dir / "setup.json").string();
    EXPECT_EQ(axcore::SaveSetupFile(*setup, path), "");
    return path;
  }

  PluginModule module;
  fs::path dir;
};

TEST_F(FiltersCommand, PrintsTheUsedSlotOfTheExampleWithItsRegisters) {
  CommandRun run = Run({}, false);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* text :
       {"Nyquist frequency 1000 Hz\nSPDREF_BQ_INI 0, IQREF_BQ_INI 1, ASPD_BQ_INI 0\n",
        "Slot 1: filter 1, Speed Controller Output, Low Pass 2nd order, F1 200 Hz, Q 0.707\n", "  BQ1B0     72426337\n",
        "  BQ1A1  -1227211551\n", "  BQ1SF            2\n", "Slot 2: unused", "Slot 3: unused"})
    EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
}

TEST_F(FiltersCommand, CsvGivesEverySlotFrom1HzToJustBelowNyquistInFiniteFigures) {
  // The notch (filter 2) moves to the position controller output, so to slot
  // 1; filter 3 becomes a lead-lag on the speed feedback, slot 3.
  CommandRun run =
      Run(Example({{"BQFilter2", 1}, {"BQFilterLocation2", 0}, {"BQFilter3", 1}, {"BQFilterType3", 9}}), true);
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "slot,filter,frequency_hz,magnitude_db,phase_deg,ideal_magnitude_db,ideal_phase_deg");
  std::vector<std::vector<double>> rows;
  while (std::getline(lines, line)) {
    std::vector<double> row;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, ',');) row.push_back(std::strtod(field.c_str(), nullptr));
    ASSERT_EQ(row.size(), 7u) << line;
    rows.push_back(row);
  }
  ASSERT_EQ(rows.size() % 3, 0u);
  const std::size_t perSlot = rows.size() / 3;
  EXPECT_TRUE(perSlot >= 25 && perSlot <= 40) << perSlot;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<double>& r = rows[i];
    const std::size_t slot = i / perSlot, k = i % perSlot;
    EXPECT_EQ(r[0], slot + 1.0);
    EXPECT_EQ(r[1], (std::vector<double>{2, 1, 3}[slot]));
    EXPECT_TRUE(k == 0 ? r[2] == 1.0 : r[2] > rows[i - 1][2]) << r[2];
    // The low-pass filter of slot 2 has its zero on the Nyquist frequency,
    // 1000 Hz: there its gain in dB is minus infinity and its phase none.
    if (k == perSlot - 1) {
      EXPECT_TRUE(r[2] >= 990.0 && r[2] < 1000.0) << r[2];
    }
    EXPECT_TRUE(std::all_of(r.begin(), r.end(), [](double x) { return std::isfinite(x); })) << "row " << i;
    if (r[5] > -40.0) {
      EXPECT_NEAR(r[3], r[5], 0.01) << "slot " << slot + 1 << " at " << r[2] << " Hz";
    }
  }
}

TEST_F(FiltersCommand, FailuresAreOneLineWithTheirStatus) {
  const std::string basic = (dir / "basic.json").string();
  EXPECT_EQ(axcore::SaveSetupFile(*axcore::ParseSetup(LinearDriveBasicExample(), "basic").setup, basic), "");
  const struct {
    const char* what;
    std::string file;
    int status;
    const char* message;
  } cases[] = {
      {"a drive without filters", basic, 1, "no \"IQREF_BQ_INI\""},
      {"a Q of 0", Example({{"BQFilter2", 1}, {"BQFilterQ2", 0}}), 1, "filter 2"},
      {"no such file", (dir / "none.json").string(), 2, "none.json"},
  };
  for (const auto& c : cases) {
    CommandRun run = Run(c.file, true);
    EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << c.what << ": " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
  }
}

}  // namespace
