#include "FraCommand.h"

#include <cstdio>
#include <sstream>

#include "FrequencyResponsePlot.h"
#include "TestFrequencyResponse.h"
#include "axcore/MessageText.h"
#include "axcore/PlotDocument.h"
#include "axcore/SetupFile.h"
#include "axcore/Setup.h"

namespace axhost {
namespace {

struct LoopName {
  const char* name;
  const char* item;  // the dialog's loop
  TunedLoop loop;
};
constexpr LoopName kLoops[] = {{"current", "Current loop", TunedLoop::Current},
                               {"speed", "Speed loop", TunedLoop::Speed},
                               {"position", "Position loop", TunedLoop::Position}};

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// What a notch on the highest resonance would do to the loop measured:
// placed in a copy of the setup (the setup itself is not changed), the
// margins on the measured plant before and after.
std::string NotchLines(const CMC_Setup& setup, const CTestFrequencyResponse& fra) {
  if (fra.GetResonances().empty() || fra.GetLoop() == TunedLoop::Current) return "";
  CMC_Setup notched(setup);
  const NotchPlacement notch = PlaceNotch(notched, fra.GetResonances().front());
  if (notch.filter == 0) return "Notch: not placed: " + notch.error + "\n";
  const LoopMargins before = MarginsOnMeasuredPlant(setup, fra.GetLoop(), fra.GetMeasured(), fra.GetModelPlant());
  const LoopMargins after = MarginsOnMeasuredPlant(notched, fra.GetLoop(), fra.GetMeasured(), fra.GetModelPlant());
  char head[160];
  std::snprintf(head, sizeof head, "Notch: filter %d at the Speed Controller Output, %.4g Hz, Q %.3g\n", notch.filter,
                notch.frequency_Hz, notch.q);
  return std::string(head) + "  margins on the measured plant without it: " + FormatMargins(before) +
         "\n  with it: " + FormatMargins(after) + "\n";
}

}  // namespace

int RunFra(const PluginModule& module, const std::string& name, const std::optional<std::string>& file,
           const FraOptions& options, Io io) {
  const LoopName* loop = nullptr;
  for (const LoopName& known : kLoops)
    if (name == known.name) loop = &known;
  if (loop == nullptr) {
    PrintError(io.err, "fra: no loop " + axcore::QuoteForMessage(name) + "; one of: current, speed, position");
    return kExitBadInput;
  }
  if (options.plot) {
    const std::string& plot = *options.plot;
    const std::string extension = plot.size() >= 4 ? plot.substr(plot.size() - 4) : "";
    if (extension != ".svg" && extension != ".png" && extension != ".csv") {
      PrintError(io.err, "fra: --plot takes a file ending in .svg, .png or .csv, not " + axcore::QuoteForMessage(plot));
      return kExitBadInput;
    }
  }
  int chosenStatus = kExitOk;
  const auto drive = ChooseDrive(options.driveSpec, options.link, io, chosenStatus);
  if (!drive) return chosenStatus;
  auto setup = LoadInput(file, module, io);
  if (!setup) return kExitBadInput;

  // The request is checked as the dialog checks it, before the drive moves:
  // a refusal is bad input.
  const LoopExcitation excitation = ExcitationOf(*setup, loop->loop);
  const double from = options.from_Hz.value_or(excitation.defaultFrom_Hz);
  const double to = options.to_Hz.value_or(excitation.defaultTo_Hz);
  const double amplitude = options.amplitude.value_or(DefaultAmplitude(*setup, loop->loop));
  ExcitationPlan plan;
  double counts = 0.0;
  if (const std::string refusal = CTestFrequencyResponse::CheckRequest(*setup, loop->loop, from, to, amplitude, plan, counts);
      !refusal.empty()) {
    PrintError(io.err, "fra: " + axcore::OneLine(refusal));
    return kExitBadInput;
  }

  std::ostringstream script;
  script << "select " << CTestFrequencyResponse::kLoopCombo << ' ' << loop->item << '\n'
         << "type " << CTestFrequencyResponse::kFromEdit << ' ' << Number(from) << '\n'
         << "type " << CTestFrequencyResponse::kToEdit << ' ' << Number(to) << '\n'
         << "type " << CTestFrequencyResponse::kAmplitudeEdit << ' ' << Number(amplitude) << '\n'
         << "click 10000\nuntil-idle " << kTestTimeLimitMs << "\nclick 2\n";
  TestOptions test;
  test.driveSpec = options.driveSpec;
  test.link = options.link;
  auto lines = TestScript(script.str(), test, io);
  if (!lines) return kExitBadInput;
  std::string figures, plotError, notch;
  bool plotWritten = false;
  auto inspect = [&](CMC_TestDlg& dialog) {
    const auto* fra = dynamic_cast<const CTestFrequencyResponse*>(&dialog);
    if (fra == nullptr || fra->GetMeasured().frequency_Hz.empty()) return;
    figures = dialog.GetChildText(CTestFrequencyResponse::kFigures);
    notch = NotchLines(*setup, *fra);
    if (!options.plot) return;
    FrequencyResponseCurves curves;
    curves.measured = &fra->GetMeasured();
    curves.modelOpenLoop = fra->GetModelOpenLoop();
    curves.modelPlant = fra->GetModelPlant();
    curves.plantScale = fra->GetExcitation().plantScale;
    curves.plantUnit = fra->GetExcitation().plantUnit;
    curves.margins = fra->GetComparison().measured;
    curves.resonances = fra->GetResonances();
    axcore::PlotDocument bode;
    DrawBodePlot(curves, std::string("Frequency response of the ") + loop->name + " loop (dashed: the model)", bode);
    // Through the atomic writer, as every plot; a PNG through the host's
    // renderer.
    plotError = bode.Save(*options.plot);
    plotWritten = plotError.empty();
  };
  const TunedLoop tuned = loop->loop;
  DialogMaker make = [tuned](CMC_Setup* s) { return std::make_unique<CTestFrequencyResponse>(s, tuned); };
  TestRun run;
  const int status = RunTestDialog("fra", *setup, *drive, std::move(*lines), test, io, make, inspect, run);
  if (!figures.empty()) {
    std::istringstream text(figures);
    for (std::string line; std::getline(text, line);) io.out << line << '\n';
  }
  io.out << notch;
  if (plotWritten) io.out << "plot written to " << axcore::OneLine(*options.plot) << '\n';
  if (!plotError.empty()) {
    PrintError(io.err, "fra: " + plotError);
    if (status == kExitOk) return kExitFailed;
  }
  return status;
}

}  // namespace axhost
