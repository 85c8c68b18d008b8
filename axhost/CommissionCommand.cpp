#include "CommissionCommand.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <unistd.h>
#include <sstream>

#include "CommissioningUser.h"
#include "DriveChoice.h"
#include "EditCommand.h"
#include "FeatureProbes.h"
#include "axcore/Comm.h"
#include "axcore/HeadlessPlatform.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"
#include "axcore/TestDlg.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/VirtualDrive.h"

namespace axhost {
namespace {

// "Resistance and inductance: passed; R 4.2 -> 4.46 ohm, L 3.5 -> 3.79 mH".
std::string StepLine(const StepRecord& step) {
  // A failure stands out among the passes.
  std::string line = step.title + ": " +
                     (step.verdict == StepRecord::Verdict::Failed ? "FAILED" : VerdictName(step.verdict));
  if (!step.detail.empty()) line += ": " + axcore::JoinLines(step.detail);
  if (const auto& p = step.passband; p && std::isfinite(p->passband_rad_s)) {
    line += "; " + p->parameter + " " + ShortNumber(p->passband_rad_s) + " rad/s, damping " + ShortNumber(p->damping);
    if (!p->marginSet.empty()) {
      line += " (crossover " + ShortNumber(p->crossover_rad_s) + " rad/s, phase margin " +
              ShortNumber(p->phaseMargin_deg) + " deg, gain margin " +
              (std::isfinite(p->gainMargin_dB) ? ShortNumber(p->gainMargin_dB) + " dB" : std::string("unlimited"));
      if (std::isfinite(p->gainReductionMargin_dB)) line += " (-" + ShortNumber(p->gainReductionMargin_dB) + " dB)";
      line += ", sensitivity peak " + ShortNumber(p->sensitivityPeak_dB) + " dB)";
    }
    for (const PassbandRecord::FilterCost& cost : p->filterCosts)
      if (cost.crossoverWithout_rad_s > 0.0)
        line += "; filter slot " + std::to_string(cost.slot) + " (" + cost.place + ") costs " +
                ShortNumber(cost.phase_deg) + " deg, " + ShortNumber(cost.crossoverWithout_rad_s) +
                " rad/s without it";
    if (step.response && std::isfinite(step.response->measuredOvershoot))
      line += "; overshoot " + ShortNumber(step.response->measuredOvershoot * 100.0) + " %, model " +
              ShortNumber(p->predictedOvershoot * 100.0) + " %";
  }
  if (const auto& f = step.profile; f && std::isfinite(f->measuredPeak_error)) {
    line += "; following error peak " + ShortNumber(f->measuredPeak_error) + " " + f->unit + ", RMS " +
            ShortNumber(f->measuredRms_error) + " " + f->unit;
    if (std::isfinite(f->predictedPeak_error))
      line += " (model peak " + ShortNumber(f->predictedPeak_error) + ", RMS " + ShortNumber(f->predictedRms_error) + ")";
    if (std::isfinite(f->limitedPeak_error))
      line += "; with the limits and the friction measured (" + ShortNumber(f->dryFriction_N) + " N dry, " +
              ShortNumber(f->viscousFriction_N_s_per_m) + " N s/m) the model gives peak " +
              ShortNumber(f->limitedPeak_error) + ", RMS " + ShortNumber(f->limitedRms_error);
    if (!f->modelLeavesOut.empty()) line += "; the linear model leaves out " + f->modelLeavesOut;
  }
  if (const auto& r = step.frequencyResponse) {
    line += "; measured " + r->measuredMargins + " (model " + r->modelMargins + ")";
    for (const FrequencyResponseRecord::Resonance& resonance : r->resonances)
      line += "; resonance at " + ShortNumber(resonance.frequency_Hz) + " Hz, " + ShortNumber(resonance.height_dB) +
              " dB, " + ShortNumber(resonance.width_Hz) + " Hz wide";
    if (!r->notch.empty()) line += "; notch " + r->notch;
    if (!r->retuned.empty()) line += "; retuned on the measured plant: " + r->retuned;
    if (!r->withoutNotch.empty()) line += "; without the notch: " + r->withoutNotch;
    if (!r->measuredAfter.empty()) line += "; measured again: " + r->measuredAfter;
  }
  std::string changes;
  for (const ValueChange& change : step.changes) {
    if (step.passband && change.name == step.passband->parameter) continue;
    changes += (changes.empty() ? "" : ", ") + change.name + ' ' + ChangeText(change.before, change.after) +
               (change.unit.empty() ? "" : " " + change.unit);
  }
  if (step.verdict == StepRecord::Verdict::Passed) line += changes.empty() ? "; nothing changed" : "; " + changes;
  return line;
}

// The values a run identifies or designs, for the report's table, with
// the plant's true value where it has one.
struct TableRow {
  const char* name;
  const char* what;
  double (*truth)(const virtualdrive::PlantParameters&);  // base unit; null: none
};
const TableRow kTable[] = {
    {"Vdc", "Supply voltage", [](const virtualdrive::PlantParameters& p) { return p.vdc_V; }},
    {"R", "Phase resistance", [](const virtualdrive::PlantParameters& p) { return p.phase_resistance_ohm; }},
    {"L", "Phase inductance", [](const virtualdrive::PlantParameters& p) { return p.phase_inductance_H; }},
    {"EncRes", "Encoder resolution", [](const virtualdrive::PlantParameters& p) { return p.encoder_period_m; }},
    {"ReverseCounting", "Reverse encoder counting",
     [](const virtualdrive::PlantParameters& p) { return p.encoder_direction < 0 ? 1.0 : 0.0; }},
    {"Mt", "Total moving mass", [](const virtualdrive::PlantParameters& p) { return p.moving_mass_kg; }},
    {"Kf", "Force constant (data sheet)", [](const virtualdrive::PlantParameters& p) { return p.force_constant_N_per_A; }},
    {"PB_C", "Current loop passband", nullptr},
    {"Dump_C", "Current loop damping", nullptr},
    {"Kp_C_scl", "Current loop Kp", nullptr},
    {"Ki_C_scl", "Current loop Ki", nullptr},
    {"Kp_T_scl", "Electric angle Kp", nullptr},
    {"Ki_T_scl", "Electric angle Ki", nullptr},
    {"PB_S", "Speed loop passband", nullptr},
    {"Dump_S", "Speed loop damping", nullptr},
    {"Kp_S_scl", "Speed loop Kp", nullptr},
    {"Ki_S_scl", "Speed loop Ki", nullptr},
    {"KFFS_scl", "Speed feed-forward", nullptr},
    {"KFFA_scl", "Acceleration feed-forward", nullptr},
    {"PB_P", "Position loop passband", nullptr},
    {"Dump_P", "Position loop damping", nullptr},
    {"Kp_P_scl", "Position loop Kp", nullptr},
    {"Ki_P_scl", "Position loop Ki", nullptr},
    {"Kd_P_scl", "Position loop Kd", nullptr},
};

std::vector<ValueRow> ValueTable(const CMC_Setup& before, const CMC_Setup& after,
                                 const virtualdrive::PlantParameters* plant) {
  std::vector<ValueRow> rows;
  for (const TableRow& row : kTable) {
    const CMC_Parameter* old = FindParameterQuiet(before, row.name);
    const CMC_Parameter* now = FindParameterQuiet(after, row.name);
    if (old == nullptr || now == nullptr) continue;
    const double factor = now->GetShownUnit().GetFactorToBase();
    ValueRow value{row.name, row.what, now->GetShownUnit().GetName(), old->GetValueInBaseUnit() / factor,
                   now->GetValueInBaseUnit() / factor, std::nullopt};
    if (row.truth != nullptr && plant != nullptr) value.truth = row.truth(*plant) / factor;
    rows.push_back(value);
  }
  return rows;
}

std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  return text;
}

}  // namespace

int RunCommission(const PluginModule& module, const std::optional<std::string>& file, const CommissionOptions& options,
                  Io io) {
  if (module.editSetup == nullptr) {
    PrintError(io.err, axcore::OneLine(module.GetPath()) + ": the plug-in has no EditSetup");
    return kExitFailed;
  }
  if (!options.gui && !options.screenshotDir.empty()) {
    PrintError(io.err, "commission: --screenshot needs the Qt view: give --gui");
    return kExitBadInput;
  }
  if (options.output.empty()) {
    PrintError(io.err, "commission: -o OUT is needed: the commissioned setup is written there");
    return kExitBadInput;
  }
  // A run takes minutes on a real drive: a target it cannot write (a
  // folder, a special or read-only file, a folder that does not take files)
  // is refused before the drive moves, not after.
  if (const std::string why = axcore::CannotReplace(options.output); !why.empty()) {
    PrintError(io.err, "commission: -o " + why);
    return kExitBadInput;
  }
  if (const std::string why = options.report ? CannotWriteReport(*options.report) : ""; !why.empty()) {
    PrintError(io.err, "commission: --report " + why);
    return kExitBadInput;
  }
  MarginBounds bounds;
  if (!MarginBoundsNamed(options.margins, bounds)) {
    PrintError(io.err, "commission: --margins " + axcore::QuoteForMessage(options.margins) +
                           " is not one of gentle, standard, firm");
    return kExitBadInput;
  }
  int chosenStatus = kExitOk;
  const auto chosen = ChooseDrive(options.driveSpec, options.link, io, chosenStatus);
  if (!chosen) return chosenStatus;
  // A virtual drive tells the plant it simulates, whose values stand beside
  // those identified; a real drive has only what the run finds.
  const virtualdrive::PlantParameters* plant = chosen->Plant();
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;
  const CMC_Setup original(*setup);

  CommissionRecord record;
  record.setupName = file ? *file : std::string("the embedded example setup");
  record.description = setup->GetDescription();
  record.productId = setup->GetProductID();
  record.firmwareId = setup->GetFirmwareID();
  record.applicationId = setup->GetUserAppID();
  if (plant == nullptr) {
    record.driveName = "the drive " + chosen->PlantSource();
  } else {
    record.driveName = "virtual drive, plant " + chosen->PlantSource();
    record.plantDescription = "supply " + ShortNumber(plant->vdc_V) + " V, R " + ShortNumber(plant->phase_resistance_ohm) +
                              " ohm, L " + ShortNumber(plant->phase_inductance_H * 1e3) + " mH, Kf " +
                              ShortNumber(plant->force_constant_N_per_A) + " N/A, moving mass " +
                              ShortNumber(plant->moving_mass_kg) + " kg, pole pitch " +
                              ShortNumber(plant->pole_pitch_m * 1e3) + " mm, encoder period " +
                              ShortNumber(plant->encoder_period_m * 1e6) + " µm";
  }
  record.started = LocalTime();

  // --- the run: EditSetup with the commissioning user in front of it.
  std::ostringstream transcript;
  const int count = CommissioningUser::StepCount();
  CommissioningUser commissioning(*setup, record, [&](const StepRecord& step, int index, int) {
    if (options.progress) io.out << '[' << index + 1 << '/' << count << "] ";
    io.out << StepLine(step) << '\n' << std::flush;
  });
  commissioning.SetMarginBounds(options.margins, bounds);
  axcore::ScriptedUser user({}, transcript);
  commissioning.SetUser(&user);
  commissioning.SetMeasuredSupply(MeasureSupply(module, *setup, *chosen));
  commissioning.SetWarningReporter([&](const std::string& warning) { PrintWarning(io.err, warning); });
  commissioning.SetPictures(options.gui && !options.screenshotDir.empty());
  user.SetFeed([&](CMC_EditSetupDlg& top) { return commissioning.Next(top); });
  // The message boxes nobody had an answer queued for are what the run
  // warned of; the questions the run answered (Yes to keep values) are not.
  user.SetMessageObserver([&](const std::string& text, int, bool defaulted) {
    if (defaulted) commissioning.Message(text);
  });
  int status = kExitOk;
  std::unique_ptr<axcore::Platform> platform =
      MakeDialogPlatform("commission", "leave out --gui", !options.gui, &user, options.screenshotDir, io, status);
  if (!platform) return status;
  std::string error;
  const std::unique_ptr<OpenedDrive> drive = chosen->Open(platform.get(), error);
  if (!drive) {
    PrintError(io.err, error);
    return kExitFailed;
  }
  user.SetBenchHandler(drive->Bench());
  if (!drive->LoadSetup(*setup, error)) {
    PrintError(io.err, "loading the setup into the drive: " + error);
    return kExitFailed;
  }
  int confirmed = 0;
  {
    ScopedDriveLink connected(&drive->Link());
    CMC_TestDlg::SetObserver({{}, [&](const CMC_TestDlg& test) { commissioning.TestEnded(test); }});
    axcore::InstallPlatform(platform.get());
    confirmed = module.editSetup(setup.get());
    axcore::InstallPlatform(nullptr);
    CMC_TestDlg::SetObserver({});
  }
  PrintMissingNames(io.err);
  if (chosen->ReportsLink()) io.err << chosen->LinkReport() << '\n';

  // --- the outcome: the commissioned setup, or the one before the failure.
  if (user.Failed()) commissioning.BreakOff(user.Failure());
  const CMC_Setup* before = commissioning.SetupBeforeFailure();
  if (user.Failed() && !before) {
    record.failure = "the dialogs did not go as planned: " + user.Failure();
    PrintError(io.err, "commission: " + record.failure + "; nothing was saved");
  }
  const bool succeeded = !user.Failed() && before == nullptr && confirmed == 1 && commissioning.Finished();
  record.succeeded = succeeded;
  const CMC_Setup& result = before != nullptr ? *before : *setup;
  // A step that failed for a lost link says so in the report too.
  if (!record.failure.empty()) record.failure = chosen->WithLostLink(record.failure);
  record.values = ValueTable(original, result, plant);
  bool written = false;
  std::string outputFailure;
  if (succeeded || before != nullptr) {
    if (outputFailure = axcore::SaveSetupFile(result, options.output); !outputFailure.empty()) {
      PrintError(io.err, outputFailure);
      // The report must not call a run whose setup was lost a success.
      if (succeeded) record.failure = "the tests passed, but the commissioned setup was not written: " + outputFailure;
      record.succeeded = false;
    } else {
      written = true;
      record.output = options.output;
    }
  }
  const std::string setupLine =
      written ? (succeeded ? "commissioned: setup written to " : "the setup as it was before that test was written to ") +
                    axcore::OneLine(options.output)
              : std::string("no setup was written");
  if (options.report) {
    std::vector<std::string> replaced;
    if (std::string failure = WriteCommissionReport(record, *options.report, &replaced); !failure.empty()) {
      // The setup is written already: say so, so that nobody takes the
      // failed report for a failed run and runs it again.
      PrintError(io.err, "commission: the report: " + failure + "; " + setupLine);
      return kExitFailed;
    }
    // An earlier report's files are replaced as a matter of course; a link
    // planted among them is named, with where it pointed: it was replaced,
    // not written through.
    std::string links;
    for (const std::string& name : replaced)
      if (name.find(" (a link to ") != std::string::npos) links += (links.empty() ? "" : ", ") + name;
    io.out << "report written to " << axcore::OneLine(*options.report) << "/index.html";
    if (!replaced.empty())
      io.out << " (" << replaced.size() << " files of an earlier report replaced"
             << (links.empty() ? "" : "; links replaced, not followed: " + axcore::OneLine(links)) << ')';
    io.out << '\n';
  }
  if (succeeded) {
    if (!written) return kExitFailed;
    io.out << setupLine << '\n';
    return kExitOk;
  }
  if (before != nullptr)
    PrintError(io.err, "commission: stopped at " + chosen->WithLostLink(axcore::JoinLines(record.failure)) +
                           (written ? "; the setup as it was before that test was written to " +
                                          axcore::OneLine(options.output)
                                    : std::string()));
  else if (!user.Failed())
    PrintError(io.err, "commission: the Drive Setup dialog did not end with OK; nothing was saved");
  return kExitFailed;
}

}  // namespace axhost
