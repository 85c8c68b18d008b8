// axhost: loads the setup plug-in the way the host application does and runs
// its exports on a setup file (or on the embedded example setup).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <iostream>

#include "CommissionCommand.h"
#include "Commands.h"
#include "EditCommand.h"
#include "FraCommand.h"
#include "PluginPath.h"
#include "TestCommand.h"
#include "TuneCommand.h"
#include "axcore/HeadlessPlatform.h"
#include "qt/QtPlatform.h"
#include "qt/QtMessages.h"
#include "qt/QtPngRenderer.h"

namespace {

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "Qtxmod_lin.so";
  return axhost::DefaultPluginPath(std::string(self, static_cast<std::size_t>(n)));
}

// Splits "[FILE] REST...": with a fixed number of other arguments FILE is
// there when there is one argument more; with a list of names it is
// recognised by LooksLikeSetupFile.
std::optional<std::string> TakeFile(std::vector<std::string>& arguments, std::optional<std::size_t> restCount) {
  if (arguments.empty()) return std::nullopt;
  const bool present =
      restCount ? arguments.size() > *restCount : axhost::LooksLikeSetupFile(arguments.front());
  if (!present) return std::nullopt;
  std::string file = arguments.front();
  arguments.erase(arguments.begin());
  return file;
}

// An output file must be named: "-o ''" would otherwise be taken as no -o.
const CLI::Validator kFileName(
    [](std::string& name) { return name.empty() ? std::string("the file name is empty") : std::string(); }, "FILE");

// What `axhost` alone prints: the three commands a newcomer starts with and
// where their results go; --help has the rest.
constexpr const char* kShortUsage =
    "usage: axhost [--drive virtual[:PLANT]] COMMAND [ARGS...]\n"
    "Start with one of these (FILE is a setup file; without it the embedded example is used):\n"
    "  axhost commission [FILE] -o OUT.json --report DIR\n"
    "      run every identification and tuning test in order on the drive; the commissioned setup goes to\n"
    "      OUT.json, the report to DIR/index.html (with DIR/summary.json)\n"
    "  axhost edit [FILE] -o OUT.json\n"
    "      open the Drive Setup dialog on the setup; OK writes it to OUT.json\n"
    "  axhost test NAME [FILE] [-o OUT.json]\n"
    "      run one drive test (axhost test --help names them) and print what it found\n"
    "axhost --help lists every command; axhost COMMAND --help tells one.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 1) {
    std::cerr << kShortUsage;
    return axhost::kExitBadInput;
  }
  CLI::App app{"axhost: runs the linear-motor setup plug-in on a setup file, as the host application does.\n"
               "Without FILE a command works on the embedded example setup of a linear drive."};
  app.require_subcommand(1);
  std::string pluginPath = DefaultPluginPath();
  app.add_option("--plugin", pluginPath, "Plug-in module to load (default: Qtxmod_lin.so beside axhost, else in ../" +
                                      std::string(axhost::kInstalledPluginFolder) + "/)");
  std::string driveSpec = "virtual";
  app.add_option("--drive", driveSpec,
                 "The drive to talk to: virtual[:PLANT] (a simulated drive and motor in process; PLANT is a plant "
                 "file, default the example plant), tcp:HOST:PORT[/AXIS] or serial:DEVICE[:BAUD][/AXIS] (a drive "
                 "at the end of a wire, such as axdrive serve; AXIS default 1, BAUD default 115200)");
  drivewire::LinkOptions link;
  app.add_option("--link-timeout", link.timeout_ms,
                 "Over a wire, milliseconds to wait for each answer before asking again (default 200)")
      ->check(CLI::Range(1, 60000));
  app.add_option("--link-tries", link.tries,
                 "Over a wire, how many times a request is sent before the drive is taken for silent (default 3)")
      ->check(CLI::Range(1, 100));
  bool verbose = false;
  app.add_flag("--verbose", verbose,
               "Also print the Qt toolkit's own diagnostics and, after a run over a wire, the link's counts of "
               "requests and retries on standard error");
  app.footer("Exit status: 0 done, 1 the work failed, 2 bad arguments or input. Input files must be regular files "
             "of at most 64 MiB, nested at most 64 levels deep.");
  const std::string replaceHelp =
      ". The file is replaced whole or not at all, keeping its permissions; a symbolic link is "
      "followed; a read-only file, a folder or a special file is refused";

  bool basic = false;
  CLI::App* cmdNew = app.add_subcommand("new", "Print an embedded example setup (JSON) on standard output");
  cmdNew->add_flag("--basic", basic, "The drive without any optional register instead of the full example");

  std::vector<std::string> showArgs;
  CLI::App* cmdShow = app.add_subcommand(
      "show",
      "Print parameters as a table: name, value in its shown unit, unit, internal (drive) value, minimum, maximum");
  cmdShow->add_option("FILE NAME", showArgs,
                      "[FILE] [NAME...]: the setup file (recognised by a '.json' ending, a '/' or an existing file), "
                      "then the parameters to show (default: all, in setup order)");

  std::vector<std::string> scaleArgs;
  CLI::App* cmdScale = app.add_subcommand(
      "scale", "Print the plug-in's scale factor and offset for a unit and a name: 'FACTOR OFFSET', 17 digits each; "
               "physical value = (internal + OFFSET) * FACTOR");
  cmdScale->add_option("FILE UNIT NAME", scaleArgs, "[FILE] UNIT NAME (quote units with a blank, such as \"V \")")
      ->expected(2, 3)
      ->required();

  std::vector<std::string> designArgs;
  std::string designOutput;
  CLI::App* cmdDesign = app.add_subcommand(
      "design", "Design a controller from its passband and damping, as the loop's Tune button does, and encode its "
                "gains into the registers; print passband, damping, gains, registers and the gains the registers hold");
  cmdDesign->add_option("LOOP FILE", designArgs, "current|speed|position [FILE]")->expected(1, 2)->required();
  cmdDesign->add_option("-o,--output", designOutput, "Write the changed setup to this file" + replaceHelp)
      ->check(kFileName);

  std::vector<std::string> filtersArgs;
  bool filtersCsv = false;
  CLI::App* cmdFilters = app.add_subcommand(
      "filters", "Design the drive's three biquad filters into their slots and print each used slot with its "
                 "registers and its response (quantised beside the ideal design)");
  cmdFilters->add_option("FILE", filtersArgs, "[FILE]")->expected(0, 1);
  cmdFilters->add_flag("--csv", filtersCsv,
                       "Print the response only, as CSV: slot,filter,frequency_hz,magnitude_db,phase_deg,"
                       "ideal_magnitude_db,ideal_phase_deg");

  std::vector<std::string> computeArgs;
  std::string computeOutput;
  CLI::App* cmdCompute = app.add_subcommand(
      "compute", "Run the plug-in's ComputeAllOptions: derive the user parameters, their ranges, the control "
                 "structure options and the load units from the registers; print the user parameters and the options");
  cmdCompute->add_option("FILE", computeArgs, "[FILE]")->expected(0, 1);
  cmdCompute->add_option("-o,--output", computeOutput, "Write the resulting setup to this file" + replaceHelp)
      ->check(kFileName);

  std::vector<std::string> encodeArgs;
  std::string encodeOutput;
  CLI::App* cmdEncode = app.add_subcommand(
      "encode", "Encode the user parameters into the drive registers, then decode them again (what the dialogs do "
                "after an edit), and write the result");
  cmdEncode->add_option("FILE", encodeArgs, "[FILE]")->expected(0, 1);
  cmdEncode->add_option("-o,--output", encodeOutput, "The file to write (required)" + replaceHelp)
      ->required()
      ->check(kFileName);

  std::vector<std::string> editArgs;
  axhost::EditOptions editOptions;
  std::string editOutput, editScript;
  CLI::App* cmdEdit = app.add_subcommand(
      "edit", "Open the plug-in's Drive Setup dialog on the setup (EditSetup), with the drive connected; OK writes "
              "the setup to OUT, or back to FILE, or with neither to standard output; Cancel writes nothing");
  cmdEdit->add_option("FILE", editArgs, "[FILE]")->expected(0, 1);
  cmdEdit->add_option("-o,--output", editOutput, "Write the edited setup to this file" + replaceHelp)
      ->check(kFileName);
  cmdEdit->add_option("--script", editScript,
                      "Drive the dialogs with this script ('-': standard input): one action per line (listed below); "
                      "message boxes and dumps are printed (on standard error when the setup goes to standard "
                      "output). A line that cannot be carried out stops the run with exit status 2, writing nothing")
      ->check(kFileName);
  {
    std::string actions;
    for (const std::string& usage : axcore::ScriptActionUsages()) actions += (actions.empty() ? "" : "; ") + usage;
    cmdEdit->footer("Script actions, one per line ('#' starts a comment), each on the dialog on top: " + actions +
                    ". ID is a control id, MS milliseconds of the clock, MM millimetres.");
  }
  cmdEdit->add_flag("--headless", editOptions.headless,
                    "Run the dialogs without a screen, on a virtual clock (needs --script); otherwise the Qt "
                    "dialogs open on the display (QT_QPA_PLATFORM=offscreen counts as one)");
  cmdEdit->add_option("--screenshot", editOptions.screenshotDir,
                      "Save a PNG of every dialog as DIR/<resource id>.png when it first shows (Qt view)");

  std::vector<std::string> testArgs;
  axhost::TestOptions testOptions;
  std::string testOutput, testScript, testKeep = "yes";
  CLI::App* cmdTest = app.add_subcommand(
      "test", "Run one of the plug-in's drive tests on the setup with the drive connected: press Start, let it run "
              "to its end (a test that runs until stopped: for --for ms, then Stop), answer the question about new "
              "values and close. Prints the status texts, the result and every parameter that changed as "
              "NAME old -> new unit; exits 1 with the failure text when the test fails. Tests:" +
                  axhost::TestNamesHelp());
  cmdTest->add_option("NAME", testArgs, "NAME [FILE]")->required()->expected(1, 2);
  cmdTest->add_option("-o,--output", testOutput, "Write the setup to this file when the test passed" + replaceHelp)
      ->check(kFileName);
  cmdTest->add_option("--for", testOptions.forMs,
                      "Milliseconds a test that runs until stopped (encoder-connection, analogue-reference) runs "
                      "before Stop (default 3000)");
  cmdTest->add_option("--keep", testKeep, "Answer to \"save the new value(s)?\": yes (default) or no")
      ->check(CLI::IsMember({"yes", "no"}));
  cmdTest->add_flag("--gui", testOptions.gui, "Show the test dialog live in the Qt view (the run is the same)");
  cmdTest->add_option("--script", testScript,
                      "Drive the test dialog with this script instead ('-': standard input), as for edit")
      ->check(kFileName);
  cmdTest->add_option("--screenshot", testOptions.screenshotDir,
                      "Save a PNG of the dialog as DIR/<resource id>.png when it first shows (needs --gui)");

  std::vector<std::string> tuneArgs;
  axhost::TuneOptions tuneOptions;
  std::string tuneOutput, tuneScript, tunePassband, tunePlot;
  bool noTune = false;
  CLI::App* cmdTune = app.add_subcommand(
      "tune", "Run one of the plug-in's controller tuning tests on the setup with the drive connected: open its "
              "Test page, set the passband (--passband) and press Tune (current, speed, position), press Start once "
              "and let the run end. Prints the status texts, the result, the gains and the response's figures "
              "beside those of the loop's model; with -o, OK writes the tuned setup. Exits 1 with the failure text when the run "
              "fails. Loops:" +
                  axhost::TuneNamesHelp());
  cmdTune->add_option("LOOP", tuneArgs, "LOOP [FILE]")->required()->expected(1, 2);
  cmdTune->add_option("-o,--output", tuneOutput, "Close with OK and write the setup to this file when the run passed" +
                                                     replaceHelp)
      ->check(kFileName);
  cmdTune->add_option("--passband", tunePassband,
                      "The loop's passband (PB_C, PB_S or PB_P) before Tune: rad/s, or a number with a unit (250Hz, "
                      "1.5kHz, rpm); default: the setup's");
  cmdTune->add_flag("--no-tune", noTune, "Do not press Tune: test the gains the setup holds");
  cmdTune->add_option("--plot", tunePlot,
                      "Save the run's graph: .svg or .png the plot with the model's response, .csv the logged points "
                      "(time_s, then each drive variable, in base units)")
      ->check(kFileName);
  cmdTune->add_flag("--gui", tuneOptions.test.gui, "Show the test dialog live in the Qt view (the run is the same)");
  cmdTune->add_option("--script", tuneScript,
                      "Drive the test dialog with this script instead ('-': standard input), as for edit")
      ->check(kFileName);
  cmdTune->add_option("--screenshot", tuneOptions.test.screenshotDir,
                      "Save a PNG of the dialog as DIR/<resource id>.png when it first shows (needs --gui)");

  std::vector<std::string> fraArgs;
  axhost::FraOptions fraOptions;
  double fraFrom = 0.0, fraTo = 0.0, fraAmplitude = 0.0;
  std::string fraPlot;
  CLI::App* cmdFra = app.add_subcommand(
      "fra", "Measure a loop's frequency response on the drive through the Frequency Response dialog: the loop runs "
             "with the setup's gains and filters while the drive adds a pseudo-random binary sequence at its "
             "controller's output. Prints the margins read from the measured open loop beside the loop model's, how "
             "far the measured open loop and plant lie from the model's where the coherence is 0.9 or more, and the "
             "plant's resonances above its rigid-body line. Refuses (status 2) a band beyond the loop's Nyquist "
             "frequency and an amplitude that by the model would move the mover more than 5 mm or ask more than the "
             "test current. Loops: current (the excitation in V on the voltage command), speed (in A on the current "
             "reference), position (in m/s on the speed reference, or A for the PID)");
  cmdFra->add_option("LOOP", fraArgs, "LOOP [FILE]")->required()->expected(1, 2);
  cmdFra->add_option("--from", fraFrom, "The band's lowest frequency, Hz (default: 50 current, 10 speed, 5 position)");
  cmdFra->add_option("--to", fraTo, "The band's highest frequency, Hz (default: 0.9 of the loop's Nyquist frequency)");
  cmdFra->add_option("--amplitude", fraAmplitude,
                     "The excitation's amplitude: V, A or m/s as the loop takes it (default: a fifth of Vdc, a quarter of "
                     "the test current, 0.1 m/s)");
  cmdFra->add_option("--plot", fraPlot,
                     "Save the Bode plot (measured and model, magnitude and phase): .svg or .png the picture, .csv the "
                     "points")
      ->check(kFileName);

  std::vector<std::string> commissionArgs;
  axhost::CommissionOptions commissionOptions;
  std::string commissionReport;
  CLI::App* cmdCommission = app.add_subcommand(
      "commission",
      "Commission the axis: open Drive Setup with the drive connected and run every identification and tuning test "
      "in the order of the Drive Setup and Motor Setup guideline steps, keeping what each identification finds. Each "
      "loop's passband and damping (0.7, 1, 1.5, 2) are chosen from the values identified before it: those giving "
      "the highest crossover at which the loop as the drive runs it (sampled, delayed, its inner loops and filter "
      "slots included) keeps the margins of --margins. The speed and position feed-forward are 0 while the loops "
      "are tuned; then SpeedForward 1, KFFS_scl 1 and KFFA_scl = K_I Mt / (Kf K_S Ts_S) from the identified mass. "
      "Prints one line per step. Stops at the first test that fails, with its text: the setup as it was "
      "before that test is written to OUT and the exit status is 1. Steps:" +
          axhost::CommissionStepsHelp());
  cmdCommission->add_option("FILE", commissionArgs, "The setup to commission (default: the embedded example)")
      ->expected(0, 1);
  cmdCommission->add_option("-o,--output", commissionOptions.output, "Write the commissioned setup to this file" +
                                                                         replaceHelp)
      ->required()
      ->check(kFileName);
  cmdCommission->add_option("--report", commissionReport,
                            "Write DIR/index.html (a page for any browser, without a network: the identity, the "
                            "values before and after, each test's plot with the model's response) and "
                            "DIR/summary.json (the same figures)")
      ->check(kFileName);
  cmdCommission->add_option("--margins", commissionOptions.margins,
                            "The margins every loop keeps: gentle (phase margin 65 deg, gain margin 12 dB, "
                            "sensitivity peak 4 dB), standard (55 deg, 8 dB, 6 dB; the default) or firm (45 deg, "
                            "6 dB, 8 dB)")
      ->check(CLI::IsMember({"gentle", "standard", "firm"}));
  cmdCommission->add_flag("--gui", commissionOptions.gui,
                          "Show the dialogs live in the Qt view as the run works through them (the run is the same, "
                          "in real time: some ten seconds)");
  cmdCommission->add_option("--screenshot", commissionOptions.screenshotDir,
                            "Save a PNG of each dialog as DIR/<resource id>.png when it first shows, and of each test "
                            "as its run left it as DIR/<step>.png (needs --gui)");

  CLI::App* cmdDrive = app.add_subcommand("drive", "Talk to the drive");
  cmdDrive->require_subcommand(1);
  std::vector<std::string> runArgs;
  CLI::App* cmdRun = cmdDrive->add_subcommand(
      "run", "Load the setup's registers into the drive, set the program's user variables, run the test program to "
             "its end and print its user variables and the drive variables it wrote as NAME=VALUE lines");
  cmdRun->add_option("ARGS", runArgs,
                     "[FILE] PROGRAM [VAR=VALUE...]: PROGRAM is the name of one of the plug-in's test programs, "
                     "VAR one of its user variables (letters, digits and underscores)")
      ->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    axhost::PrintError(std::cerr, std::string(e.what()) + " (see axhost --help)");
    return axhost::kExitBadInput;
  }
  link.reportCounts = verbose;

  axhost::Io io{std::cout, std::cerr};
  // Plots saved as PNG (a test's graph, --plot) are drawn by Qt.
  axhost::InstallQtPngRenderer();
  axhost::InstallQtMessageFilter(verbose);
  if (cmdNew->parsed()) return axhost::RunNew(basic, io);

  PluginModule module;
  if (std::string error = module.Load(pluginPath); !error.empty()) {
    axhost::PrintError(std::cerr, error);
    return axhost::kExitFailed;
  }
  if (cmdShow->parsed()) {
    auto file = TakeFile(showArgs, std::nullopt);
    return axhost::RunShow(module, file, showArgs, io);
  }
  if (cmdScale->parsed()) {
    auto file = TakeFile(scaleArgs, 2);
    return axhost::RunScale(module, file, scaleArgs[0], scaleArgs[1], io);
  }
  if (cmdCompute->parsed()) {
    auto file = TakeFile(computeArgs, 0);
    const std::optional<std::string> output =
        computeOutput.empty() ? std::nullopt : std::optional<std::string>(computeOutput);
    return axhost::RunCompute(module, file, output, io);
  }
  if (cmdEncode->parsed()) {
    auto file = TakeFile(encodeArgs, 0);
    return axhost::RunEncode(module, file, encodeOutput, io);
  }
  if (cmdRun->parsed()) {
    // [FILE] PROGRAM [VAR=VALUE...]: a program name never holds '=' nor ends in ".json".
    std::optional<std::string> file;
    if (runArgs.size() >= 2 && axhost::LooksLikeSetupFile(runArgs[0]) && runArgs[1].find('=') == std::string::npos) {
      file = runArgs[0];
      runArgs.erase(runArgs.begin());
    }
    const std::string program = runArgs[0];
    const std::vector<std::string> assignments(runArgs.begin() + 1, runArgs.end());
    return axhost::RunDrive(module, driveSpec, file, program, assignments, io, link);
  }
  if (cmdDesign->parsed()) {
    const std::optional<std::string> file =
        designArgs.size() > 1 ? std::optional<std::string>(designArgs[1]) : std::nullopt;
    const std::optional<std::string> output =
        designOutput.empty() ? std::nullopt : std::optional<std::string>(designOutput);
    return axhost::RunDesign(module, file, designArgs[0], output, io);
  }
  if (cmdEdit->parsed()) {
    axhost::SetDesktopPlatformFactory(
        [](axcore::ScriptedUser* user, const std::string& screenshotDir, std::string&) {
          return axhost::MakeQtPlatform(user, screenshotDir);
        });
    editOptions.driveSpec = driveSpec;
    editOptions.link = link;
    if (!editOutput.empty()) editOptions.output = editOutput;
    if (!editScript.empty()) editOptions.script = editScript;
    auto file = TakeFile(editArgs, 0);
    return axhost::RunEdit(module, file, editOptions, io);
  }
  if (cmdTest->parsed()) {
    axhost::SetDesktopPlatformFactory(
        [](axcore::ScriptedUser* user, const std::string& screenshotDir, std::string&) {
          return axhost::MakeQtPlatform(user, screenshotDir);
        });
    testOptions.driveSpec = driveSpec;
    testOptions.link = link;
    testOptions.keep = testKeep == "yes";
    if (!testOutput.empty()) testOptions.output = testOutput;
    if (!testScript.empty()) testOptions.script = testScript;
    const std::optional<std::string> file =
        testArgs.size() > 1 ? std::optional<std::string>(testArgs[1]) : std::nullopt;
    return axhost::RunTest(module, testArgs[0], file, testOptions, io);
  }
  if (cmdTune->parsed()) {
    axhost::SetDesktopPlatformFactory(
        [](axcore::ScriptedUser* user, const std::string& screenshotDir, std::string&) {
          return axhost::MakeQtPlatform(user, screenshotDir);
        });
    tuneOptions.test.driveSpec = driveSpec;
    tuneOptions.test.link = link;
    if (!tuneOutput.empty()) tuneOptions.test.output = tuneOutput;
    if (!tuneScript.empty()) tuneOptions.test.script = tuneScript;
    // Given, even empty: an empty passband is refused, not ignored.
    if (cmdTune->count("--passband") > 0) tuneOptions.passband = tunePassband;
    if (!tunePlot.empty()) tuneOptions.plot = tunePlot;
    tuneOptions.tune = !noTune;
    const std::optional<std::string> file =
        tuneArgs.size() > 1 ? std::optional<std::string>(tuneArgs[1]) : std::nullopt;
    return axhost::RunTune(module, tuneArgs[0], file, tuneOptions, io);
  }
  if (cmdFra->parsed()) {
    fraOptions.driveSpec = driveSpec;
    fraOptions.link = link;
    if (cmdFra->count("--from") > 0) fraOptions.from_Hz = fraFrom;
    if (cmdFra->count("--to") > 0) fraOptions.to_Hz = fraTo;
    if (cmdFra->count("--amplitude") > 0) fraOptions.amplitude = fraAmplitude;
    if (!fraPlot.empty()) fraOptions.plot = fraPlot;
    const std::optional<std::string> file =
        fraArgs.size() > 1 ? std::optional<std::string>(fraArgs[1]) : std::nullopt;
    return axhost::RunFra(module, fraArgs[0], file, fraOptions, io);
  }
  if (cmdCommission->parsed()) {
    axhost::SetDesktopPlatformFactory(
        [](axcore::ScriptedUser* user, const std::string& screenshotDir, std::string&) {
          return axhost::MakeQtPlatform(user, screenshotDir);
        });
    commissionOptions.driveSpec = driveSpec;
    commissionOptions.link = link;
    if (!commissionReport.empty()) commissionOptions.report = commissionReport;
    commissionOptions.progress = ::isatty(STDOUT_FILENO) != 0;
    const std::optional<std::string> file =
        commissionArgs.empty() ? std::nullopt : std::optional<std::string>(commissionArgs[0]);
    return axhost::RunCommission(module, file, commissionOptions, io);
  }
  if (cmdFilters->parsed()) {
    auto file = TakeFile(filtersArgs, 0);
    return axhost::RunFilters(module, file, filtersCsv, io);
  }
  return axhost::kExitBadInput;
}
