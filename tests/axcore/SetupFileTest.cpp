#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "EmbeddedExamples.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"
#include "support/HostRunner.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadFile;
using testing_support::TempDir;

// `open` brackets around `inner`, `depth` deep.
std::string Nested(int depth, const std::string& inner = "") {
  return std::string(static_cast<std::size_t>(depth), '[') + inner + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(SetupFile, RefusesMalformedDocumentsWithOneLineNamingFileEntryAndReason) {
  const struct {
    const char* what;
    std::string text;
    const char* expected;  // the error after "in.json: "
  } cases[] = {
      {"not JSON", "{\n  \"format\": \"axsetup-1\",\n  \"parameters\": { \"KPI\": { \"value\": 1, } }\n}",
       "invalid JSON: parse error at line 3, column"},
      {"an exact duplicate key", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1},"KPI":{"value":2}}})",
       "\"parameters\": duplicate key \"KPI\""},
      {"names differing in case", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1},"kpi":{"value":2}}})",
       "parameter \"kpi\": duplicate name (names ignore case) of parameter \"KPI\""},
      {"variables differing in case", R"({"format":"axsetup-1","variables":{"MER":{},"mer":{}}})",
       "variable \"mer\": duplicate name (names ignore case) of variable \"MER\""},
      {"options differing in case", R"({"format":"axsetup-1","options":{"NewDeadBand":"1","newdeadband":"0"}})",
       "option \"newdeadband\": duplicate name (names ignore case)"},
      {"an unknown unit", R"({"format":"axsetup-1","parameters":{"Vdc":{"value":48,"unit":"volt"}}})",
       "parameter \"Vdc\": unknown unit \"volt\""},
      {"an unknown shown unit", R"({"format":"axsetup-1","parameters":{"Vdc":{"value":48,"unit":"V","shown":"kV"}}})",
       "parameter \"Vdc\": unknown unit \"kV\""},
      {"a shown unit of another type", R"({"format":"axsetup-1","parameters":{"Vdc":{"unit":"V","shown":"A"}}})",
       "parameter \"Vdc\": shown unit \"A\" is not a unit of the same kind as \"V\""},
      {"a unit that is not a base unit", R"({"format":"axsetup-1","parameters":{"EncRes":{"unit":"mm"}}})",
       "parameter \"EncRes\": unit \"mm\" is not a base unit (values are stored in \"m\")"},
      {"an unknown kind", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1,"kind":"registry"}}})",
       "parameter \"KPI\": unknown kind \"registry\" (user, motion, register or constant)"},
      {"a string for a value", R"({"format":"axsetup-1","parameters":{"KPI":{"value":"20000"}}})",
       "parameter \"KPI\": \"value\" must be a number"},
      {"a string for a limit", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1,"max":"32767"}}})",
       "parameter \"KPI\": \"max\" must be a number"},
      {"a number too large for a double", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1e999}}})",
       "parameter \"KPI\": \"value\": number overflow parsing '1e999' (not a finite number)"},
      {"a duplicate key inside an entry", R"({"format":"axsetup-1","parameters":{"KPI":{"value":1,"value":2}}})",
       "parameter \"KPI\": duplicate key \"value\""},
      {"a flag that is not a boolean", R"({"format":"axsetup-1","parameters":{"KPI":{"int":1}}})",
       "parameter \"KPI\": \"int\" must be true or false"},
      {"an option that is not a text", R"({"format":"axsetup-1","options":{"NewDeadBand":1}})",
       "option \"NewDeadBand\" must be a text"},
      {"a parameter that is not an object", R"({"format":"axsetup-1","parameters":{"KPI":5}})",
       "parameter \"KPI\" must be an object"},
      {"no format", R"({"parameters":{}})", "missing \"format\" (expected \"axsetup-1\")"},
      {"another format", R"({"format":"axsetup-2"})",
       "\"format\": unsupported format \"axsetup-2\" (expected \"axsetup-1\")"},
      {"a format that is no text", R"({"format":{"a":[1]}})", "\"format\" must be the text \"axsetup-1\""},
      {"an unknown key nested too deep", R"({"format":"axsetup-1","x":)" + Nested(10000) + "}",
       "\"x\": nested more than 64 levels deep"},
      {"a format nested too deep", R"({"format":)" + Nested(10000, "1") + "}",
       "\"format\": nested more than 64 levels deep"},
      {"a deep key inside a parameter", R"({"format":"axsetup-1","parameters":{"K":{"n":)" + Nested(100) + "}}}",
       "parameter \"K\": \"n\": nested more than 64 levels deep"},
      {"control characters in a name and a unit",
       R"({"format":"axsetup-1","parameters":{"K\nerror: forged":{"unit":"\u001b[31m"}}})",
       "parameter \"K\\nerror: forged\": unknown unit \"\\u001b[31m\""},
  };
  for (const auto& c : cases) {
    axcore::SetupLoad load = axcore::ParseSetup(c.text, "in.json");
    EXPECT_EQ(load.setup, nullptr) << c.what;
    EXPECT_EQ(load.error.rfind(std::string("in.json: ") + c.expected, 0), 0u) << c.what << ": " << load.error;
    EXPECT_EQ(load.error.find('\n'), std::string::npos) << c.what;
  }
}

TEST(SetupFile, NestingIsTakenUpTo64LevelsDeep) {
  for (int depth : {63, 64, 65}) {
    // The document is the first level, "x" holds the others.
    const std::string text = R"({"format":"axsetup-1","x":)" + Nested(depth - 1) + "}";
    axcore::SetupLoad load = axcore::ParseSetup(text, "in.json");
    EXPECT_EQ(load.setup != nullptr, depth <= 64) << depth << ": " << load.error;
  }
}

TEST(SetupFile, ReadsOnlyRegularFilesOfAtMost64MiB) {
  TempDir dir;
  const fs::path fifo = dir.path() / "fifo.json", big = dir.path() / "big.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  { std::ofstream(big) << ' '; }
  fs::resize_file(big, (64u << 20) + 1);  // sparse: nothing is written
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {dir.path().string(), ": cannot read: is a directory"},
      {fifo.string(), ": cannot read: not a regular file (a FIFO)"},  // opened, it would block
      {"/dev/null", ": cannot read: not a regular file (a character device)"},
      {big.string(), ": cannot read: 67108865 bytes, more than the 67108864 bytes (64 MiB) an input file may have"},
      {"/nonexistent/setup.json", ": cannot read: No such file or directory"},
      {"", "\"\": cannot read: no file name"},
  };
  for (const auto& c : cases) {
    axcore::SetupLoad load = axcore::LoadSetupFile(c.path);
    EXPECT_EQ(load.setup, nullptr) << c.path;
    EXPECT_EQ(load.error, (c.path.empty() ? "" : c.path) + c.expected);
  }
}

TEST(MessageText, QuotesNamesOnOneLineOfPrintableText) {
  const struct {
    std::string text;
    const char* quoted;
  } cases[] = {
      {"KPI", R"("KPI")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"1\n2\t3\r\x1b[2J\x7f", R"("1\n2\t3\r\u001b[2J\u007f")"},
      {"\xC2\xB5s", "\"\xC2\xB5s\""},             // µs stays as it is
      {"\xC2\x9B" "31m", R"("\u009b31m")"},          // the C1 control CSI
      {"\xFF\xC3", R"("\xff\xc3")"},                // not UTF-8
      {"\xED\xA0\x80", R"("\xed\xa0\x80")"},      // a surrogate is no character
  };
  for (const auto& c : cases) EXPECT_EQ(axcore::QuoteForMessage(c.text), c.quoted);
  EXPECT_EQ(axcore::OneLine("a \"b\"\nc"), "a \"b\"\\nc") << "quotes of a message stay";
}

// The system's own texts break lines; on one line they read as sentences and
// lists, and only what is no line break is escaped.
TEST(MessageText, JoinedLinesReadAsOneLineOfText) {
  const std::pair<const char*, const char*> cases[] = {
      {"Test failed.\r\nCheck the wiring.", "Test failed. Check the wiring."},
      {"one of:\n  a: first\n  b: second\n", "one of: a: first; b: second"},
      {"Values changed\n\t\tR 4.2 -> 4.5\n\t\tL 3 -> 3.1", "Values changed; R 4.2 -> 4.5; L 3 -> 3.1"},
      {"\r\nno break at either end\r\n", "no break at either end"},
      {"a\tb \x1b[2J", "a\\tb \\u001b[2J"},
  };
  for (const auto& [text, joined] : cases) EXPECT_EQ(axcore::JoinLines(text), joined) << text;
}

TEST(SetupFile, LoadingTakesValuesAsWrittenAndDefaultsAbsentKeys) {
  axcore::SetupLoad load = axcore::ParseSetup(
      R"({"format":"axsetup-1","parameters":{
           "KPI":{"value":40000.7,"kind":"register","int":true,"min":0,"max":32767},
           "Crossed":{"value":3,"min":5,"max":1},
           "Plain":{}}})",
      "in.json");
  ASSERT_NE(load.setup, nullptr) << load.error;
  const CMC_Parameter* kpi = load.setup->FindParameter("KPI");
  EXPECT_EQ(kpi->GetValueInBaseUnit(), 40000.7) << "no write rule applies while loading";
  EXPECT_EQ(kpi->GetType(), 5);
  const CMC_Parameter* crossed = load.setup->FindParameter("Crossed");
  EXPECT_EQ(crossed->GetMinInBaseUnit(), 5.0);
  EXPECT_EQ(crossed->GetMaxInBaseUnit(), 1.0);
  const CMC_Parameter* plain = load.setup->FindParameter("Plain");
  EXPECT_EQ(plain->GetType(), 0);
  EXPECT_FALSE(plain->IsInt());
  EXPECT_FALSE(plain->HasMin() || plain->HasMax());
  EXPECT_STREQ(plain->GetUnit(), "");
}

TEST(SetupFile, WritingThenReadingGivesTheSameDocument) {
  for (std::string_view example : {LinearDriveExample(), LinearDriveBasicExample()}) {
    axcore::SetupLoad first = axcore::ParseSetup(example, "example");
    ASSERT_NE(first.setup, nullptr) << first.error;
    const std::string written = axcore::SerializeSetup(*first.setup);
    axcore::SetupLoad second = axcore::ParseSetup(written, "written");
    ASSERT_NE(second.setup, nullptr) << second.error;
    EXPECT_EQ(axcore::SerializeSetup(*second.setup), written);
    ASSERT_EQ(second.setup->Parameters().size(), first.setup->Parameters().size());
    for (std::size_t i = 0; i < first.setup->Parameters().size(); ++i) {
      const CMC_Parameter& a = *first.setup->Parameters()[i];
      const CMC_Parameter& b = *second.setup->Parameters()[i];
      EXPECT_EQ(a.GetName(), b.GetName());
      EXPECT_EQ(a.GetValueInBaseUnit(), b.GetValueInBaseUnit()) << a.GetName();
      EXPECT_EQ(a.GetMinInBaseUnit(), b.GetMinInBaseUnit()) << a.GetName();
      EXPECT_EQ(a.GetMaxInBaseUnit(), b.GetMaxInBaseUnit()) << a.GetName();
      EXPECT_EQ(&a.GetShownUnit(), &b.GetShownUnit()) << a.GetName();
      EXPECT_EQ(a.GetKind(), b.GetKind()) << a.GetName();
      EXPECT_EQ(a.IsInt(), b.IsInt()) << a.GetName();
    }
  }
}

TEST(SetupFile, KeepsKeysItDoesNotKnowAndExactValues) {
  const char* text = R"({"format":"axsetup-1","comment":"kept","options":{"OutputPortPins":"25,26,27,28"},
    "parameters":{"R":{"value":4.2000000000000002,"unit":"ohm","note":{"source":"datasheet"}},
                  "Tiny":{"value":1e-300},"Third":{"value":0.1}},
    "variables":{"APOS_MT":{"unit":"m","shown":"mm","scope":true}}})";
  axcore::SetupLoad load = axcore::ParseSetup(text, "in.json");
  ASSERT_NE(load.setup, nullptr) << load.error;
  axcore::SetupLoad again = axcore::ParseSetup(axcore::SerializeSetup(*load.setup), "out.json");
  ASSERT_NE(again.setup, nullptr) << again.error;
  const std::string out = axcore::SerializeSetup(*again.setup);
  EXPECT_NE(out.find("\"comment\": \"kept\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"source\": \"datasheet\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"scope\": true"), std::string::npos) << out;
  EXPECT_EQ(again.setup->GetParameterValueInBaseUnit("R"), 4.2);
  EXPECT_EQ(again.setup->GetParameterValueInBaseUnit("Tiny"), 1e-300);
  EXPECT_EQ(again.setup->GetParameterValueInBaseUnit("Third"), 0.1);
  EXPECT_STREQ(again.setup->FindVariable("APOS_MT")->GetShownUnit().GetName(), "mm");
}

TEST(SetupFile, SavingReplacesTheFileWholeOrLeavesItAlone) {
  TempDir dir;
  axcore::SetupLoad load = axcore::ParseSetup(LinearDriveBasicExample(), "example");
  ASSERT_NE(load.setup, nullptr) << load.error;

  const fs::path target = dir.path() / "setup.json";
  { std::ofstream(target) << "old contents"; }
  EXPECT_EQ(axcore::SaveSetupFile(*load.setup, target.string()), "");
  EXPECT_EQ(ReadFile(target), axcore::SerializeSetup(*load.setup));

  // A target that cannot be replaced (a folder) fails with a reason and
  // leaves neither a changed target nor a temporary file behind.
  const fs::path folder = dir.path() / "folder.json";
  fs::create_directory(folder);
  const std::string error = axcore::SaveSetupFile(*load.setup, folder.string());
  EXPECT_EQ(error.rfind(folder.string() + ": cannot write: ", 0), 0u) << error;
  EXPECT_TRUE(fs::is_directory(folder));
  const std::string missingDir = (dir.path() / "no" / "such.json").string();
  EXPECT_NE(axcore::SaveSetupFile(*load.setup, missingDir), "");
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1u) << "only setup.json remains";
}

TEST(SetupFile, SavingReplacesARegularFileWritableByTheUserKeepingItsMode) {
  TempDir dir;
  axcore::SetupLoad load = axcore::ParseSetup(LinearDriveBasicExample(), "example");
  ASSERT_NE(load.setup, nullptr) << load.error;
  const std::string written = axcore::SerializeSetup(*load.setup);
  auto file = [&](const char* name, fs::perms mode) {
    const fs::path path = dir.path() / name;
    std::ofstream(path) << "old";
    fs::permissions(path, mode);
    return path;
  };
  using P = fs::perms;
  const struct {
    const char* what;
    std::function<fs::path()> make;  // the target to write
    std::string error;               // after the target's name; empty: written
    fs::path replaced;               // the file that must hold the setup (or still "old")
    P mode;                          // its mode afterwards
  } cases[] = {
      {"a private file", [&] { return file("private.json", P::owner_read | P::owner_write); }, "",
       dir.path() / "private.json", P::owner_read | P::owner_write},
      {"a read-only file", [&] { return file("ro.json", P::owner_read | P::group_read | P::others_read); },
       ": cannot write: the file is read-only (mode 0444)", dir.path() / "ro.json",
       P::owner_read | P::group_read | P::others_read},
      {"a symbolic link",
       [&] {
         file("real.json", P::owner_read | P::owner_write | P::group_read);
         fs::create_symlink("real.json", dir.path() / "link.json");
         return dir.path() / "link.json";
       },
       "", dir.path() / "real.json", P::owner_read | P::owner_write | P::group_read},
      {"a FIFO",
       [&] {
         ::mkfifo((dir.path() / "fifo.json").c_str(), 0644);
         return dir.path() / "fifo.json";
       },
       ": cannot write: not a regular file (a FIFO)", {}, {}},
      {"a name of 255 bytes", [&] { return dir.path() / std::string(255, 'n'); }, "",
       dir.path() / std::string(255, 'n'), P::none},
  };
  for (const auto& c : cases) {
    const fs::path target = c.make();
    const std::string error = axcore::SaveSetupFile(*load.setup, target.string());
    EXPECT_EQ(error, c.error.empty() ? "" : target.string() + c.error) << c.what;
    if (!c.replaced.empty()) {
      EXPECT_EQ(ReadFile(c.replaced), c.error.empty() ? written : "old") << c.what;
      if (c.mode != P::none) {
        EXPECT_EQ(fs::status(c.replaced).permissions(), c.mode) << c.what;
      }
    }
  }
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.json"));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo.json"));
  EXPECT_EQ(axcore::SaveSetupFile(*load.setup, ""), "\"\": cannot write: no file name");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), std::ssize(cases) + 1)
      << "no temporary file is left behind";
}

}  // namespace
