// The commissioning report: a page that shows what the run found without
// letting the record's text into its markup, a summary scripts can parse, and
// a clear message when the folder cannot be written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "CommissionRecord.h"
#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;
using axhost::StepRecord;

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every plot names its clip path "frame"; two of them on one page.
std::string Plot(const char* title) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                     "viewBox=\"0 0 800 500\"><title>") +
         title + "</title><defs><clipPath id=\"frame\"><rect width=\"10\" height=\"10\"/></clipPath></defs>"
                 "<g clip-path=\"url(#frame)\"/></svg>\n";
}

StepRecord Step(const char* key, const char* title, StepRecord::Verdict verdict, const char* detail = "") {
  StepRecord step;
  step.key = key;
  step.title = title;
  step.test = std::string(title) + " test";
  step.verdict = verdict;
  step.detail = detail;
  return step;
}

// Stopped at the total mass; the speed loop's settling was not reached.
axhost::CommissionRecord FailedRun() {
  axhost::CommissionRecord record;
  record.setupName = "setup.json";
  record.driveName = "virtual drive";
  record.failure = "total-mass: the axis did not move <script>alert('x')</script>";
  record.steps = {Step("current-tuning", "Current tuning", StepRecord::Verdict::Passed),
                  Step("speed-tuning", "Speed tuning", StepRecord::Verdict::Passed),
                  Step("total-mass", "Total mass", StepRecord::Verdict::Failed,
                       "the axis did not move <script>alert('x')</script>"),
                  Step("position-tuning", "Position tuning", StepRecord::Verdict::Skipped, "the mass is not known")};
  record.steps[0].plots = {{"", Plot("Current")}};
  record.steps[1].plots = {{"", Plot("Speed")}};
  record.steps[1].response.emplace().measuredSettling_s = NAN;
  record.values.resize(2);
  record.values[0] = {"R_PH", "Phase resistance", "Ohm", 0.0, 2.1, 2.0};
  record.values[1] = {"MASS", "Total mass", "kg", 0.0, NAN, std::nullopt};
  return record;
}

TEST(CommissionReport, ShowsAFailedRunEscapedWithItsPlotsAndSummarisesItForScripts) {
  testing_support::TempDir dir{"axtest-report"};
  const fs::path report = dir.path() / "report";
  ASSERT_EQ(axhost::WriteCommissionReport(FailedRun(), report.string()), "");

  const std::string html = Read(report / "index.html");
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_NE(html.find("Stopped at Total mass: the axis did not move &lt;script&gt;alert(&#39;x&#39;)"),
            std::string::npos);
  for (const char* title : {"Current tuning", "Speed tuning", "Total mass", "Position tuning"})
    EXPECT_NE(html.find(title), std::string::npos) << title;
  // Both plots inline, each clipped to its own frame.
  EXPECT_EQ(html.find("<?xml"), std::string::npos);
  EXPECT_NE(html.find("<title>Speed</title>"), std::string::npos);
  EXPECT_NE(html.find("url(#step1-1-frame)"), std::string::npos);
  EXPECT_NE(html.find("url(#step2-1-frame)"), std::string::npos);
  EXPECT_NE(html.find("+5.0 %"), std::string::npos) << "R_PH 2.1 against 2.0";

  const auto summary = nlohmann::json::parse(Read(report / "summary.json"));
  EXPECT_EQ(summary["succeeded"], false);
  std::string verdicts;
  for (const auto& step : summary["steps"]) verdicts += step["verdict"].get<std::string>() + " ";
  EXPECT_EQ(verdicts, "passed passed failed skipped ");
  EXPECT_TRUE(summary["steps"][1]["response"]["measured_settling_s"].is_null());
  EXPECT_TRUE(summary["steps"][2]["response"].is_null());
  EXPECT_TRUE(summary["values"][1]["after"].is_null());
  EXPECT_TRUE(summary["values"][1]["truth"].is_null());
  EXPECT_EQ(summary["steps"][1]["plots"], nlohmann::json::array({"plots/speed-tuning.svg"}));
  EXPECT_EQ(Read(report / "plots" / "speed-tuning.svg"), Plot("Speed"));
}

TEST(CommissionReport, NamesWhatCouldNotBeWritten) {
  testing_support::TempDir dir{"axtest-report"};
  std::ofstream(dir.path() / "file") << "not a folder";
  fs::create_directories(dir.path() / "taken" / "index.html");
  const struct {
    fs::path dir;
    std::string error;
  } cases[] = {
      {dir.path() / "file" / "report", (dir.path() / "file" / "report").string() + ": cannot create the folder: "},
      {dir.path() / "taken", (dir.path() / "taken" / "index.html").string() + ": cannot write: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    const std::string error = axhost::WriteCommissionReport(FailedRun(), c.dir.string());
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
  }
}

// Links planted in a report folder are replaced, never written through:
// what they point to outside the folder stays as it was, and the names
// replaced are told.
TEST(CommissionReport, ReplacesLinksInItsFolderInsteadOfWritingThroughThem) {
  testing_support::TempDir dir{"axtest-report"};
  const fs::path report = dir.path() / "rep", outside = dir.path() / "outside";
  fs::create_directories(report);
  fs::create_directories(outside);
  std::ofstream(dir.path() / "victim.txt") << "victim";
  fs::create_symlink("../victim.txt", report / "index.html");
  fs::create_symlink(outside, report / "plots");
  std::vector<std::string> replaced;
  ASSERT_EQ(axhost::WriteCommissionReport(FailedRun(), report.string(), &replaced), "");
  EXPECT_EQ(testing_support::ReadFile(dir.path() / "victim.txt"), "victim");
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::is_symlink(report / "index.html"));
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(report / "plots")));
  EXPECT_EQ(replaced, (std::vector<std::string>{"plots (a link to " + outside.string() + ")",
                                                 "index.html (a link to ../victim.txt)"}));
}

}  // namespace
