// The README, the man page and axhost's own --help tell one story: every
// command, every option and every script action axhost knows is named in
// each of them, so that one added to the code and forgotten in a document
// (or the other way round) is caught.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "axcore/HeadlessPlatform.h"
#include "support/HostRunner.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunAxhost;
using testing_support::TempDir;

// The man page's text without its escapes ("\-\-script" reads "--script").
std::string ManPageText() {
  std::string text = ReadFile(std::string(AX_EXAMPLES_DIR) + "/../packaging/axhost.1"), plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '-' || text[i + 1] == '&')) continue;
    if (text.compare(i, 3, "\\fB") == 0 || text.compare(i, 3, "\\fI") == 0 || text.compare(i, 3, "\\fR") == 0 ||
        text.compare(i, 3, "\\fP") == 0) {
      i += 2;
      continue;
    }
    plain += text[i];
  }
  return plain;
}

// The words a help lists under `section` ("Subcommands:" or "Options:"):
// the first word of each entry line ("-o,--output" for an option).
std::set<std::string> Entries(const std::string& help, const std::string& section) {
  std::set<std::string> names;
  const std::size_t start = help.find(section);
  if (start == std::string::npos) return names;
  static const std::regex entry(R"(^  (\S+))");
  std::size_t line = help.find('\n', start) + 1;
  while (line < help.size() && help[line] == ' ') {
    const std::size_t end = help.find('\n', line);
    const std::string text = help.substr(line, end - line);
    std::smatch match;
    if (std::regex_search(text, match, entry) && text.compare(0, 4, "    ") != 0) {
      const std::string first = match[1];
      if (section == "Subcommands:" || (first.rfind("-", 0) == 0 && first != "-h,--help")) names.insert(first);
    }
    if (end == std::string::npos) break;
    line = end + 1;
  }
  return names;
}

TEST(Docs, ReadmeManPageAndHelpNameEveryCommandOptionAndScriptAction) {
  TempDir scratch;
  const std::string readme = ReadFile(std::string(AX_EXAMPLES_DIR) + "/../README.md");
  const std::string man = ManPageText();
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(man.empty());

  const auto top = RunAxhost("--help", scratch.path());
  ASSERT_EQ(top.status, 0) << top.err;
  std::set<std::string> commands = Entries(top.out, "Subcommands:");
  ASSERT_GE(commands.size(), 10u) << top.out;
  std::set<std::string> options;  // "COMMAND SPELLINGS"
  for (const std::string& option : Entries(top.out, "Options:")) options.insert("axhost " + option);
  for (const std::string& command : commands) {
    EXPECT_NE(readme.find("axhost " + command), std::string::npos) << "README: no `axhost " << command << "`";
    EXPECT_NE(man.find(command), std::string::npos) << "man page: no " << command;
    const auto help = RunAxhost(command + " --help", scratch.path());
    EXPECT_EQ(help.status, 0) << command << ": " << help.err;
    for (const std::string& option : Entries(help.out, "Options:")) options.insert(command + " " + option);
  }
  // An option is named when one of its spellings is ("-o" or "--output").
  const auto names = [](const std::string& text, const std::string& entry) {
    std::size_t from = entry.find(' ') + 1;
    while (from != 0 && from <= entry.size()) {
      const std::size_t comma = entry.find(',', from);
      const std::string spelling = entry.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
      if (std::regex_search(text, std::regex("(^|[^a-z-])" + spelling + "([^a-z-]|$)"))) return true;
      from = comma == std::string::npos ? 0 : comma + 1;
    }
    return false;
  };
  for (const std::string& entry : options) {
    EXPECT_TRUE(names(readme, entry)) << "README: no " << entry;
    EXPECT_TRUE(names(man, entry)) << "man page: no " << entry;
  }

  const auto edit = RunAxhost("edit --help", scratch.path());
  for (const std::string& usage : axcore::ScriptActionUsages()) {
    EXPECT_NE(readme.find("`" + usage + "`"), std::string::npos) << "README: no `" << usage << "`";
    EXPECT_NE(man.find(usage), std::string::npos) << "man page: no " << usage;
    EXPECT_NE(edit.out.find(usage), std::string::npos) << "edit --help: no " << usage;
  }
}

}  // namespace
