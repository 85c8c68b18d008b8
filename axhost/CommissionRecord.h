// What a commissioning run found, step by step: the record the command
// prints from as it goes and the report is written from at the end.
#pragma once

#include <optional>
#include <utility>
#include <limits>
#include <string>
#include <vector>

namespace axhost {

// One parameter a step changed.
struct ValueChange {
  std::string name;
  double before = 0.0;
  double after = 0.0;
  std::string unit;
};

// How a tuning step chose its passband.
struct PassbandRecord {
  std::string parameter;          // "PB_C", "PB_S", "PB_P"
  double passband_rad_s = 0.0;    // chosen
  double ceiling_rad_s = 0.0;     // the top of the range searched
  double overshootBound = 0.0;    // fraction; when the choice was by overshoot
  double damping = 0.0;           // the design's damping the choice was made with
  double predictedOvershoot = 0.0;  // fraction
  double predictedRise_s = 0.0;
  // The margins the choice was held to ("standard": 55 deg, 8 dB, 6 dB) and
  // those of the loop chosen, from the model (LoopMargins.h). Empty name:
  // the choice was by overshoot.
  std::string marginSet;
  double phaseMarginBound_deg = 0.0, gainMarginBound_dB = 0.0, sensitivityPeakBound_dB = 0.0;
  double crossover_rad_s = 0.0;
  double phaseMargin_deg = 0.0;
  double gainMargin_dB = 0.0;           // +inf: unlimited
  double gainReductionMargin_dB = 0.0;  // +inf: none
  double sensitivityPeak_dB = 0.0;
  // The highest crossover of each damping tried that met the bounds (NaN:
  // none did), for the report.
  std::vector<std::pair<double, double>> dampingCrossovers;
  // The phase each filter slot in use costs the loop at its crossover, and
  // for a costly one (above 10 degrees) the highest crossover the same
  // search reaches with the slot passing through (0: not searched).
  struct FilterCost {
    int slot = 0;
    std::string place;
    double phase_deg = 0.0;
    double crossoverWithout_rad_s = 0.0;
  };
  std::vector<FilterCost> filterCosts;
};

// A step's response as measured on the drive beside the model's prediction.
struct ResponseRecord {
  std::string signal;             // what was stepped, "current", "speed", "position"
  std::string unit;               // of the step's amplitude
  double amplitude = 0.0;
  double measuredRise_s = 0.0;    // NaN: not reached
  double measuredOvershoot = 0.0;  // fraction
  double measuredSettling_s = 0.0;  // NaN: not settled
  double predictedRise_s = 0.0;
  double predictedOvershoot = 0.0;
  double measuredBandwidth_rad_s = 0.0;  // 2.2 / measured rise
  // The standard deviation of the measured signal about its mean over the
  // settled plateau (the last 10 % of the step's record), in `unit`: the
  // sensing noise and quantisation every single sample carries.
  double noise = 0.0;
  std::string figures;            // the dialog's figures text, measured (model)
};

// A run of a test's own profile with the commissioned setup: how far the
// response followed the reference, measured and as the model has it (NaN:
// no model), in the logged unit.
struct ProfileRecord {
  std::string signal;             // "speed", "position"
  std::string unit;
  double measuredPeak_error = 0.0;
  double measuredRms_error = 0.0;
  double predictedPeak_error = 0.0;
  double predictedRms_error = 0.0;
  std::string figures;            // the dialog's figures text
  // What the run measured that the model leaves out and that moves the
  // error: the current limit the feed-forward of a speed step runs into,
  // the friction the loops pick up; "" when nothing.
  std::string modelLeavesOut;
  // Its figures, NaN where the run gives none: the friction a speed
  // plateau holds and the plateau's speed; the current the feed-forward of
  // a position profile's speed step asks within one period, the current the
  // drive gives (at standstill, or at a speed plateau's speed), and the
  // least lag at that current.
  double friction_N = std::numeric_limits<double>::quiet_NaN();
  double frictionSpeed_m_s = std::numeric_limits<double>::quiet_NaN();
  double stepPulse_A = std::numeric_limits<double>::quiet_NaN();
  double available_A = std::numeric_limits<double>::quiet_NaN();
  double leastLag_m = std::numeric_limits<double>::quiet_NaN();
  // The current a speed profile's ramp asks as it reaches the plateau
  // (acceleration and friction), when more than the drive gives there.
  double rampCurrent_A = std::numeric_limits<double>::quiet_NaN();
  // Friction split by the speed profile's run: the current along its ramp
  // against the speed gives the viscous part, the plateau the rest.
  double dryFriction_N = std::numeric_limits<double>::quiet_NaN();
  double viscousFriction_N_s_per_m = std::numeric_limits<double>::quiet_NaN();
  // The model with the drive's current and voltage limits and that
  // friction, over the same reference: its following error.
  double limitedPeak_error = std::numeric_limits<double>::quiet_NaN();
  double limitedRms_error = std::numeric_limits<double>::quiet_NaN();
};

// The speed loop's frequency response measured on the drive after its
// tuning, and what the run did with it.
struct FrequencyResponseRecord {
  std::string measuredMargins, modelMargins;  // FormatMargins lines, as tuned
  std::string comparison;                     // the dialog's figures
  struct Resonance {
    double frequency_Hz = 0.0, height_dB = 0.0, width_Hz = 0.0;
  };
  std::vector<Resonance> resonances;
  // Measured again after the notch and the retune; "" when nothing changed.
  std::string measuredAfter;
  std::vector<Resonance> resonancesAfter;
  std::vector<std::string> filtersBefore, filtersAfter;  // DescribeFilters
  std::string notch;      // the notch placed; "" when none
  std::string retuned;    // the speed loop retuned: passband and its margins on the measured plant
  std::string withoutNotch;  // the same retune without the notch, for comparison; "" when no notch
  std::vector<std::string> actions;  // what was done to the filters and why
};

// A plot of a test as an SVG document, with what it shows.
struct PlotRecord {
  std::string caption;            // "Phase A current (A)"; "" when the dialog names it nowhere
  std::string svg;
  bool model = false;             // drawn by the run from the model, not shown by a test
};

struct StepRecord {
  enum class Verdict { Passed, Failed, Skipped };
  std::string key;                // "supply-voltage", ..., "position-tuning"
  std::string title;              // "Supply voltage"
  std::string test;               // the test dialog's caption
  Verdict verdict = Verdict::Skipped;
  std::string detail;             // the failure's text, or why the step was skipped
  std::vector<ValueChange> changes;
  std::optional<PassbandRecord> passband;
  std::optional<ResponseRecord> response;
  std::optional<ProfileRecord> profile;
  std::optional<FrequencyResponseRecord> frequencyResponse;
  // The test's plots as it showed them, as SVG documents: a tuning test's
  // graph with the model's response dashed over the measured one, an
  // identification's gauges and graphs. None when it has none.
  std::vector<PlotRecord> plots;
  double driveTime_s = 0.0;       // on the drive's clock, the step's dialogs open
};

// A row of the report's table: a value the run identified or designed.
struct ValueRow {
  std::string name;
  std::string what;               // "Phase resistance"
  std::string unit;
  double before = 0.0;
  double after = 0.0;
  std::optional<double> truth;    // the virtual plant's, where it has one
};

struct CommissionRecord {
  // Identity: the setup's drive and motor, and the drive the run was on.
  std::string setupName;          // the file, or "the embedded example"
  std::string description;        // the setup's
  std::string productId, firmwareId, applicationId;
  std::string driveName;          // "virtual drive (examples/plant-linear.json)"
  std::string plantDescription;   // the virtual plant's; "" on a real drive
  std::string started;            // local time, ISO 8601

  std::vector<StepRecord> steps;
  std::vector<ValueRow> values;
  std::vector<std::string> warnings;
  bool succeeded = false;
  std::string failure;            // "total mass: <the test's text>" when not
  std::string output;             // where the setup was written; "" when not
};

// "passed", "failed" or "skipped".
const char* VerdictName(StepRecord::Verdict verdict);
// A figure for a line of text: 4 significant digits ("%.4g").
std::string ShortNumber(double value);

// "before -> after" with as many significant digits, 4 at least, as it takes
// to tell the two apart: a value that moved in its fifth digit does not read
// as unchanged.
std::string ChangeText(double before, double after, const std::string& arrow = " -> ");

// Writes DIR/index.html (one self-contained page: the identity, the table of
// values, every step with its figures and plot, the warnings) and
// DIR/summary.json (the same figures), creating DIR. "" when both were
// written, else why not; nothing half written is left under either name.
// Names already in DIR are replaced, never written through: a symbolic link
// found at index.html, summary.json, plots or a plot's name is replaced by
// the new file (or folder) and what it pointed to is left alone. `replaced`,
// when given, gets the names inside DIR that were there before and were
// replaced ("index.html", "plots/current-tuning.svg (a link to ../x.txt)"),
// for the user.
std::string WriteCommissionReport(const CommissionRecord& record, const std::string& dir,
                                  std::vector<std::string>* replaced = nullptr);

// Why the report could not be written to DIR, found before a run: DIR is a
// file, or a name in it is a folder or a special file, or its folder does
// not take files, or a name is too long. Empty when it can be written. It
// starts with DIR, for "--report " to go before it.
std::string CannotWriteReport(const std::string& dir);

}  // namespace axhost
