// `axhost test NAME`: one of the plug-in's identification tests on a setup,
// with the drive connected, run to its end as a user would run it.
#pragma once

#include <optional>
#include <string>

#include "Commands.h"

namespace axhost {

struct TestOptions {
  std::optional<std::string> output;  // -o
  std::optional<std::string> script;  // --script: the user's own actions instead of Start, wait, Close
  long long forMs = 3000;             // --for: how long a test that runs until stopped runs
  bool keep = true;                   // --keep yes|no: the answer to "save the new value(s)?"
  bool gui = false;                   // --gui: the Qt view instead of the headless one
  std::string screenshotDir;          // --screenshot DIR (Qt view)
  std::string driveSpec = "virtual";  // --drive
};

// The test names the command knows, in the order the commissioning guide
// runs them, with what each identifies, for --help.
std::string TestNamesHelp();
bool IsTestName(const std::string& name);

int RunTest(const PluginModule& module, const std::string& name, const std::optional<std::string>& file,
            const TestOptions& options, Io io);

}  // namespace axhost
