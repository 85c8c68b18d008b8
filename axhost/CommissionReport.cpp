// The report `axhost commission` leaves behind: index.html for the user to
// read in a browser on a machine that may have no network (so everything is
// inline: the style, the plots as SVG, no scripts), and summary.json with the
// same figures for scripts, beside the plots as SVG files.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "CommissionRecord.h"
#include "axcore/MessageText.h"
#include "axcore/SetupFile.h"

namespace axhost {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const char* const kDash = "\xE2\x80\x94";  // an em dash: no figure

std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// Four significant digits, written out in full for the magnitudes a drive's
// figures have (0.001 to a million) so that a column reads at a glance.
std::string Num(double v) {
  if (std::isnan(v)) return kDash;
  if (std::isinf(v)) return v > 0 ? "\xE2\x88\x9E" : "-\xE2\x88\x9E";
  if (v == 0.0) return "0";
  char buffer[64];
  const double magnitude = std::fabs(v);
  if (magnitude < 1e-3 || magnitude >= 1e6) {
    std::snprintf(buffer, sizeof buffer, "%.4g", v);
    return buffer;
  }
  const int decimals = std::max(0, 3 - static_cast<int>(std::floor(std::log10(magnitude))));
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

std::string Percent(double fraction) { return std::isnan(fraction) ? kDash : Num(fraction * 100.0) + " %"; }
std::string Ms(double seconds) { return std::isnan(seconds) ? kDash : Num(seconds * 1000.0) + " ms"; }
std::string RadS(double w) {
  return std::isnan(w) ? kDash : Num(w) + " rad/s (" + Num(w / (2.0 * std::numbers::pi)) + " Hz)";
}

// JSON has no NaN or infinity: a figure that is not one is null.
Json Figure(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

std::string VerdictTitle(StepRecord::Verdict verdict) {
  std::string title = VerdictName(verdict);
  title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
  return title;
}

// A step's key as a file name: letters, digits, '-', '_' and '.' only, never
// a hidden file, and unique among the steps.
std::string PlotFileName(const std::string& key, std::set<std::string>& taken) {
  std::string name;
  for (const char c : key) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || (c == '.' && !name.empty());
    name += plain ? c : '-';
  }
  if (name.empty()) name = "step";
  std::string unique = name;
  for (int n = 2; !taken.insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
  return unique + ".svg";
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A plot's SVG as an element of the page: without its XML declaration, and
// with its ids (the plot frame's clip path) made the page's own, since every
// plot names its clip path alike and the page would otherwise clip all of
// them to the first one's frame.
std::string InlineSvg(std::string svg, const std::string& prefix) {
  std::size_t start = svg.find_first_not_of(" \t\r\n");
  if (start != std::string::npos && svg.compare(start, 5, "<?xml") == 0) {
    const std::size_t end = svg.find("?>", start);
    start = end == std::string::npos ? svg.size() : svg.find_first_not_of(" \t\r\n", end + 2);
  }
  svg.erase(0, std::min(start, svg.size()));
  ReplaceAll(svg, " id=\"", " id=\"" + prefix);
  ReplaceAll(svg, "url(#", "url(#" + prefix);
  ReplaceAll(svg, "href=\"#", "href=\"#" + prefix);
  return svg;
}

const char* const kStyle = R"(
:root { color-scheme: light; }
body { margin: 0; background: #fff; color: #1f2328; line-height: 1.45;
  font-family: system-ui, -apple-system, "Segoe UI", Roboto, "Helvetica Neue", Arial, "Noto Sans", "Liberation Sans", sans-serif; }
main { max-width: 62rem; margin: 0 auto; padding: 2rem 1.5rem 3rem; }
h1 { font-size: 1.8rem; margin: 0 0 1rem; }
h2 { font-size: 1.25rem; margin: 2rem 0 .75rem; padding-bottom: .3rem; border-bottom: 1px solid #d0d7de; }
h3 { font-size: 1.1rem; margin: 0 0 .5rem; display: flex; gap: .6rem; align-items: baseline; flex-wrap: wrap; }
h4 { font-size: .95rem; margin: 1rem 0 .4rem; color: #424a53; }
code, pre { font-family: ui-monospace, SFMono-Regular, Menlo, Consolas, "Liberation Mono", monospace; }
pre { background: #f6f8fa; border: 1px solid #e1e4e8; border-radius: 6px; padding: .6rem .8rem;
  font-size: .85rem; overflow-x: auto; white-space: pre-wrap; }
.banner { padding: .8rem 1rem; border-radius: 6px; border: 1px solid; border-left-width: 6px; font-weight: 600;
  white-space: pre-line; }
.banner p { margin: .2rem 0 0; font-weight: normal; }
.banner.ok { background: #e9f7ec; border-color: #2e7d32; color: #1b5e20; }
.banner.bad { background: #fdeceb; border-color: #c62828; color: #8e1b1b; }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: .25rem 1.25rem; margin: 0; }
dl.facts dt { color: #57606a; }
dl.facts dd { margin: 0; overflow-wrap: anywhere; }
table { border-collapse: collapse; width: 100%; font-size: .9rem; }
th, td { padding: .35rem .6rem; border-bottom: 1px solid #e1e4e8; text-align: left; vertical-align: top; }
th { background: #f6f8fa; font-weight: 600; border-bottom-color: #d0d7de; }
td.num, th.num { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
table.figures { width: auto; min-width: 24rem; }
.badge { font-size: .8rem; font-weight: 600; padding: .05rem .55rem; border-radius: 999px; }
.badge.passed { background: #dafbe1; color: #116329; }
.badge.failed { background: #ffebe9; color: #a40e26; }
.badge.skipped { background: #eaeef2; color: #57606a; }
section.step { border: 1px solid #d0d7de; border-radius: 6px; padding: 1rem 1.25rem; margin: 1rem 0; }
.muted { color: #57606a; }
.detail { margin: .4rem 0; white-space: pre-line; }
.detail.failed { color: #a40e26; font-weight: 600; }
ul { margin: .3rem 0; padding-left: 1.4rem; }
ul.warnings li { margin: .2rem 0; }
figure { margin: 1rem 0 0; }
figure svg { display: block; max-width: 100%; height: auto; border: 1px solid #e1e4e8; border-radius: 4px; }
figcaption { font-size: .85rem; color: #57606a; margin-top: .3rem; }
@media print {
  main { max-width: none; padding: 0; }
  section.step, figure, table.figures { break-inside: avoid; }
  .banner, .badge, th { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

void Fact(std::string& html, const char* label, const std::string& value) {
  html += "<dt>" + std::string(label) + "</dt><dd>" + Html(value) + "</dd>\n";
}

// The banner says how the run ended; the failure's text usually starts with
// the step's own name, which the banner already gives.
std::string Banner(const CommissionRecord& record) {
  std::string html;
  if (record.succeeded) {
    html = "<div class=\"banner ok\">Commissioning succeeded";
  } else {
    const StepRecord* stopped = nullptr;
    for (const StepRecord& step : record.steps)
      if (step.verdict == StepRecord::Verdict::Failed) {
        stopped = &step;
        break;
      }
    std::string failure = record.failure;
    if (stopped != nullptr) {
      for (const std::string& name : {stopped->key, stopped->title}) {
        const std::string prefix = name + ": ";
        bool same = !name.empty() && failure.size() > prefix.size();
        for (std::size_t i = 0; same && i < prefix.size(); ++i)
          same = std::tolower(static_cast<unsigned char>(failure[i])) ==
                 std::tolower(static_cast<unsigned char>(prefix[i]));
        if (same) {
          failure.erase(0, prefix.size());
          break;
        }
      }
    }
    html = "<div class=\"banner bad\">Stopped";
    if (stopped != nullptr) html += " at " + Html(stopped->title);
    if (!failure.empty()) html += ": " + Html(failure);
  }
  if (!record.output.empty())
    html += (record.succeeded ? "<p>The commissioned setup was written to <code>"
                              : "<p>The setup as it was before that test was written to <code>") +
            Html(record.output) + "</code>.</p>";
  else if (!record.succeeded) html += "<p>No setup was written.</p>";
  return html + "</div>\n";
}

std::string ValuesTable(const CommissionRecord& record) {
  bool truths = false;
  for (const ValueRow& row : record.values) truths = truths || row.truth.has_value();
  std::string html = "<table class=\"values\">\n<thead><tr><th>Parameter</th><th>What</th><th class=\"num\">Before</th>"
                     "<th class=\"num\">After</th><th>Unit</th>";
  // On a real drive there is no plant to compare with: no columns of dashes.
  if (truths) html += "<th class=\"num\">Truth</th><th class=\"num\">After vs truth</th>";
  html += "</tr></thead>\n<tbody>\n";
  for (const ValueRow& row : record.values) {
    html += "<tr><td><code>" + Html(row.name) + "</code></td><td>" + Html(row.what) + "</td><td class=\"num\">" +
            Num(row.before) + "</td><td class=\"num\">" + Num(row.after) + "</td><td>" + Html(row.unit) + "</td>";
    if (truths) {
      std::string deviation = kDash;
      if (row.truth && *row.truth != 0.0 && std::isfinite(*row.truth) && std::isfinite(row.after)) {
        char buffer[64];
        // Two decimals below 1 %, where one would round a real deviation to "-0.0".
        const double percent = (row.after - *row.truth) / std::fabs(*row.truth) * 100.0;
        std::snprintf(buffer, sizeof buffer, std::fabs(percent) < 1.0 ? "%+.2f %%" : "%+.1f %%", percent);
        deviation = buffer;
      }
      html += "<td class=\"num\">" + (row.truth ? Num(*row.truth) : std::string(kDash)) + "</td><td class=\"num\">" +
              deviation + "</td>";
    }
    html += "</tr>\n";
  }
  return html + "</tbody>\n</table>\n";
}

// The speed loop's measured frequency response: margins measured and
// modelled, the resonances, the filter slots before and after, what was
// done and the retune.
std::string FrequencyResponseFacts(const FrequencyResponseRecord& r) {
  std::string html = "<h4>Frequency response measured on the drive</h4>\n<dl class=\"facts\">\n";
  html += "<dt>Margins, measured</dt><dd>" + Html(r.measuredMargins) + "</dd>\n";
  html += "<dt>Margins, model</dt><dd>" + Html(r.modelMargins) + "</dd>\n";
  if (!r.notch.empty()) html += "<dt>Notch placed</dt><dd>" + Html(r.notch) + "</dd>\n";
  if (!r.retuned.empty()) html += "<dt>Retuned on the measured plant</dt><dd>" + Html(r.retuned) + "</dd>\n";
  if (!r.measuredAfter.empty())
    html += "<dt>Margins, measured again</dt><dd>" + Html(r.measuredAfter) + " (the second set of plots)</dd>\n";
  if (!r.withoutNotch.empty())
    html += "<dt>The same retune without the notch</dt><dd>" + Html(r.withoutNotch) + "</dd>\n";
  html += "</dl>\n<table>\n<thead><tr><th>Resonance</th><th class=\"num\">Frequency</th><th class=\"num\">Above the "
          "rigid-body line</th><th class=\"num\">Width</th></tr></thead>\n<tbody>\n";
  if (r.resonances.empty()) html += "<tr><td colspan=\"4\">none above the rigid-body line</td></tr>\n";
  for (std::size_t k = 0; k < r.resonances.size(); ++k)
    html += "<tr><td>" + std::to_string(k + 1) + "</td><td class=\"num\">" + Num(r.resonances[k].frequency_Hz) +
            " Hz</td><td class=\"num\">" + Num(r.resonances[k].height_dB) + " dB</td><td class=\"num\">" +
            Num(r.resonances[k].width_Hz) + " Hz</td></tr>\n";
  html += "</tbody>\n</table>\n<table>\n<thead><tr><th>Filter slots before</th><th>after</th></tr></thead>\n<tbody>\n";
  for (std::size_t k = 0; k < std::max(r.filtersBefore.size(), r.filtersAfter.size()); ++k)
    html += "<tr><td>" + (k < r.filtersBefore.size() ? Html(r.filtersBefore[k]) : std::string()) + "</td><td>" +
            (k < r.filtersAfter.size() ? Html(r.filtersAfter[k]) : std::string()) + "</td></tr>\n";
  html += "</tbody>\n</table>\n";
  if (!r.actions.empty()) {
    html += "<ul>\n";
    for (const std::string& action : r.actions) html += "<li>" + Html(action) + "</li>\n";
    html += "</ul>\n";
  }
  return html;
}

std::string PassbandFacts(const PassbandRecord& p) {
  std::string html = "<h4>Passband choice</h4>\n<dl class=\"facts\">\n";
  html += "<dt>Chosen passband</dt><dd><code>" + Html(p.parameter) + "</code> " + RadS(p.passband_rad_s) + "</dd>\n";
  html += "<dt>Damping</dt><dd>" + Num(p.damping) + "</dd>\n";
  if (!p.marginSet.empty()) {
    auto decibels = [](double x) { return std::isfinite(x) ? Num(x) + " dB" : std::string("unlimited"); };
    html += "<dt>Margins kept</dt><dd>" + Html(p.marginSet) + ": phase margin &ge; " + Num(p.phaseMarginBound_deg) +
            "&deg;, gain margin &ge; " + Num(p.gainMarginBound_dB) + " dB, sensitivity peak &le; " +
            Num(p.sensitivityPeakBound_dB) + " dB</dd>\n";
    html += "<dt>Crossover (model)</dt><dd>" + RadS(p.crossover_rad_s) + "</dd>\n";
    html += "<dt>Phase margin (model)</dt><dd>" + Num(p.phaseMargin_deg) + "&deg;</dd>\n";
    html += "<dt>Gain margin (model)</dt><dd>" + decibels(p.gainMargin_dB) +
            (std::isfinite(p.gainReductionMargin_dB) ? ", lowered " + decibels(p.gainReductionMargin_dB) : "") +
            "</dd>\n";
    html += "<dt>Sensitivity peak (model)</dt><dd>" + Num(p.sensitivityPeak_dB) + " dB</dd>\n";
    std::string dampings;
    for (const auto& [damping, crossover] : p.dampingCrossovers)
      dampings += (dampings.empty() ? "" : ", ") + Num(damping) + ": " +
                  (std::isfinite(crossover) ? RadS(crossover) : std::string("none"));
    html += "<dt>Highest crossover by damping</dt><dd>" + dampings + "</dd>\n";
  } else {
    html += "<dt>Overshoot bound</dt><dd>" + Percent(p.overshootBound) + "</dd>\n";
  }
  html += "<dt>Predicted overshoot</dt><dd>" + Percent(p.predictedOvershoot) + "</dd>\n";
  html += "<dt>Predicted rise</dt><dd>" + Ms(p.predictedRise_s) + "</dd>\n";
  html += "<dt>Ceiling</dt><dd>" + RadS(p.ceiling_rad_s) + ", the parameter&#39;s maximum</dd>\n";
  return html + "</dl>\n";
}

std::string ResponseFacts(const ResponseRecord& r) {
  std::string html = "<h4>Step response</h4>\n";
  std::string signal = r.signal.empty() ? "A" : Html(r.signal);
  signal[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(signal[0])));
  html += "<p class=\"muted\">" + signal + " step of " + Num(r.amplitude) + (r.unit.empty() ? "" : " " + Html(r.unit)) +
          ".</p>\n";
  html += "<table class=\"figures\">\n<thead><tr><th></th><th class=\"num\">Measured</th><th class=\"num\">Model</th></tr>"
          "</thead>\n<tbody>\n";
  html += "<tr><td>Rise</td><td class=\"num\">" + (std::isnan(r.measuredRise_s) ? "not reached" : Ms(r.measuredRise_s)) +
          "</td><td class=\"num\">" + Ms(r.predictedRise_s) + "</td></tr>\n";
  html += "<tr><td>Overshoot</td><td class=\"num\">" + Percent(r.measuredOvershoot) + "</td><td class=\"num\">" +
          Percent(r.predictedOvershoot) + "</td></tr>\n";
  html += "<tr><td>Settling</td><td class=\"num\">" +
          (std::isnan(r.measuredSettling_s) ? "not settled" : Ms(r.measuredSettling_s)) + "</td><td class=\"num\">" +
          kDash + "</td></tr>\n";
  html += "<tr><td>Bandwidth</td><td class=\"num\">" + RadS(r.measuredBandwidth_rad_s) + "</td><td class=\"num\">" +
          kDash + "</td></tr>\n";
  html += "<tr><td>Noise on the plateau (standard deviation)</td><td class=\"num\">" + Num(r.noise) +
          (r.unit.empty() ? "" : " " + Html(r.unit)) + "</td><td class=\"num\">" + kDash + "</td></tr>\n";
  html += "</tbody>\n</table>\n";
  if (!r.figures.empty()) html += "<pre>" + Html(r.figures) + "</pre>\n";
  return html;
}

std::string ProfileFacts(const ProfileRecord& f) {
  std::string html = "<h4>Following error over the test&#39;s own profile</h4>\n";
  const std::string unit = f.unit.empty() ? "" : " " + Html(f.unit);
  html += "<table class=\"figures\">\n<thead><tr><th></th><th class=\"num\">Measured</th><th class=\"num\">Model</th></tr>"
          "</thead>\n<tbody>\n";
  auto cell = [&unit](double v) { return std::isfinite(v) ? Num(v) + unit : std::string(kDash); };
  html += "<tr><td>Peak</td><td class=\"num\">" + cell(f.measuredPeak_error) + "</td><td class=\"num\">" +
          cell(f.predictedPeak_error) + "</td></tr>\n";
  html += "<tr><td>RMS</td><td class=\"num\">" + cell(f.measuredRms_error) + "</td><td class=\"num\">" +
          cell(f.predictedRms_error) + "</td></tr>\n";
  html += "</tbody>\n</table>\n";
  if (std::isfinite(f.limitedPeak_error))
    html += "<p>The model with the drive&#39;s current and voltage limits and the friction the speed profile "
            "measured (" + Num(f.dryFriction_N) + " N dry, " + Num(f.viscousFriction_N_s_per_m) +
            " N&middot;s/m): peak " + cell(f.limitedPeak_error) + ", RMS " + cell(f.limitedRms_error) + ".</p>\n";
  if (!f.modelLeavesOut.empty()) html += "<p>The linear model leaves out " + Html(f.modelLeavesOut) + ".</p>\n";
  if (!f.figures.empty()) html += "<pre>" + Html(f.figures) + "</pre>\n";
  return html;
}

std::string StepSection(const StepRecord& step, std::size_t number) {
  const char* verdict = VerdictName(step.verdict);
  std::string html = "<section class=\"step\" id=\"step-" + std::to_string(number) + "\">\n";
  html += "<h3><span>" + std::to_string(number) + ". " + Html(step.title) + "</span><span class=\"badge " + verdict +
          "\">" + VerdictTitle(step.verdict) + "</span></h3>\n";
  // A step skipped before its test opened took no time on the drive.
  std::string facts = step.test.empty() ? "" : "Test: " + Html(step.test);
  if (step.verdict != StepRecord::Verdict::Skipped || step.driveTime_s != 0.0)
    facts += (facts.empty() ? "Drive time " : " &middot; drive time ") + Num(step.driveTime_s) + " s";
  if (!facts.empty()) html += "<div class=\"muted\">" + facts + "</div>\n";
  if (!step.detail.empty()) html += "<p class=\"detail " + std::string(verdict) + "\">" + Html(step.detail) + "</p>\n";
  if (!step.changes.empty()) {
    html += "<h4>Changes</h4>\n<ul>\n";
    for (const ValueChange& change : step.changes)
      html += "<li><code>" + Html(change.name) + "</code> " + ChangeText(change.before, change.after, " &rarr; ") +
              (change.unit.empty() ? "" : " " + Html(change.unit)) + "</li>\n";
    html += "</ul>\n";
  }
  if (step.passband) html += PassbandFacts(*step.passband);
  if (step.response) html += ResponseFacts(*step.response);
  if (step.profile) html += ProfileFacts(*step.profile);
  if (step.frequencyResponse) html += FrequencyResponseFacts(*step.frequencyResponse);
  for (std::size_t k = 0; k < step.plots.size(); ++k) {
    const PlotRecord& plot = step.plots[k];
    const std::string caption =
        plot.model              ? Html(plot.caption) + "."
        : (step.response || step.profile) && k == 0 ? "Measured on the drive; the dashed line is the model&#39;s prediction."
        : plot.caption.empty()  ? "As the test showed it at its end."
                                : Html(plot.caption) + ", as the test showed it at its end.";
    html += "<figure>\n" + InlineSvg(plot.svg, "step" + std::to_string(number) + "-" + std::to_string(k + 1) + "-") +
            "<figcaption>" + caption + "</figcaption>\n</figure>\n";
  }
  return html + "</section>\n";
}

std::string Page(const CommissionRecord& record) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Commissioning report";
  if (!record.setupName.empty()) html += " &middot; " + Html(record.setupName);
  html += "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n<main>\n";
  html += "<h1>Commissioning report</h1>\n" + Banner(record);

  html += "<h2>Drive and motor</h2>\n<dl class=\"facts\">\n";
  Fact(html, "Description", record.description);
  Fact(html, "Product", record.productId);
  Fact(html, "Firmware", record.firmwareId);
  Fact(html, "Application", record.applicationId);
  Fact(html, "Setup", record.setupName);
  Fact(html, "Drive", record.driveName);
  if (!record.plantDescription.empty()) Fact(html, "Plant", record.plantDescription);
  Fact(html, "Started", record.started);
  html += "</dl>\n";

  if (!record.values.empty()) html += "<h2>Values</h2>\n" + ValuesTable(record);

  if (!record.warnings.empty()) {
    html += "<h2>Warnings</h2>\n<ul class=\"warnings\">\n";
    for (const std::string& warning : record.warnings) html += "<li>" + Html(warning) + "</li>\n";
    html += "</ul>\n";
  }

  if (!record.steps.empty()) html += "<h2>Steps</h2>\n";
  for (std::size_t i = 0; i < record.steps.size(); ++i) html += StepSection(record.steps[i], i + 1);
  return html + "</main>\n</body>\n</html>\n";
}

Json Summary(const CommissionRecord& record, const std::vector<std::vector<std::string>>& plots) {
  Json summary;
  summary["succeeded"] = record.succeeded;
  summary["failure"] = record.failure;
  summary["output"] = record.output;
  summary["identity"] = {{"setup_name", record.setupName},
                         {"description", record.description},
                         {"product_id", record.productId},
                         {"firmware_id", record.firmwareId},
                         {"application_id", record.applicationId},
                         {"drive_name", record.driveName},
                         {"plant_description", record.plantDescription},
                         {"started", record.started}};
  Json values = Json::array();
  for (const ValueRow& row : record.values)
    values.push_back({{"name", row.name},
                      {"what", row.what},
                      {"unit", row.unit},
                      {"before", Figure(row.before)},
                      {"after", Figure(row.after)},
                      {"truth", row.truth ? Figure(*row.truth) : Json(nullptr)}});
  summary["values"] = std::move(values);
  summary["warnings"] = record.warnings;

  Json steps = Json::array();
  for (std::size_t i = 0; i < record.steps.size(); ++i) {
    const StepRecord& step = record.steps[i];
    Json changes = Json::array();
    for (const ValueChange& change : step.changes)
      changes.push_back({{"name", change.name},
                         {"before", Figure(change.before)},
                         {"after", Figure(change.after)},
                         {"unit", change.unit}});
    Json passband = nullptr;
    if (const auto& p = step.passband)
      passband = {{"parameter", p->parameter},
                  {"passband_rad_s", Figure(p->passband_rad_s)},
                  {"passband_hz", Figure(p->passband_rad_s / (2.0 * std::numbers::pi))},
                  {"ceiling_rad_s", Figure(p->ceiling_rad_s)},
                  {"margin_set", p->marginSet},
                  {"phase_margin_bound_deg", Figure(p->phaseMarginBound_deg)},
                  {"gain_margin_bound_db", Figure(p->gainMarginBound_dB)},
                  {"sensitivity_peak_bound_db", Figure(p->sensitivityPeakBound_dB)},
                  {"crossover_rad_s", Figure(p->crossover_rad_s)},
                  {"phase_margin_deg", Figure(p->phaseMargin_deg)},
                  {"gain_margin_db", Figure(p->gainMargin_dB)},  // null: unlimited
                  {"gain_reduction_margin_db", Figure(p->gainReductionMargin_dB)},
                  {"sensitivity_peak_db", Figure(p->sensitivityPeak_dB)},
                  {"damping", Figure(p->damping)},
                  {"predicted_overshoot", Figure(p->predictedOvershoot)},
                  {"predicted_rise_s", Figure(p->predictedRise_s)}};
    Json response = nullptr;
    if (const auto& r = step.response)
      response = {{"signal", r->signal},
                  {"unit", r->unit},
                  {"amplitude", Figure(r->amplitude)},
                  {"measured_rise_s", Figure(r->measuredRise_s)},
                  {"measured_overshoot", Figure(r->measuredOvershoot)},
                  {"measured_settling_s", Figure(r->measuredSettling_s)},
                  {"measured_bandwidth_rad_s", Figure(r->measuredBandwidth_rad_s)},
                  {"noise", Figure(r->noise)},
                  {"predicted_rise_s", Figure(r->predictedRise_s)},
                  {"predicted_overshoot", Figure(r->predictedOvershoot)},
                  {"figures", r->figures}};
    Json profile = nullptr;
    if (const auto& f = step.profile)
      profile = {{"signal", f->signal},
                 {"unit", f->unit},
                 {"measured_peak_error", Figure(f->measuredPeak_error)},
                 {"measured_rms_error", Figure(f->measuredRms_error)},
                 {"predicted_peak_error", Figure(f->predictedPeak_error)},
                 {"predicted_rms_error", Figure(f->predictedRms_error)},
                 {"model_leaves_out", f->modelLeavesOut},
                 {"friction_n", Figure(f->friction_N)},
                 {"friction_speed_m_s", Figure(f->frictionSpeed_m_s)},
                 {"step_pulse_a", Figure(f->stepPulse_A)},
                 {"available_a", Figure(f->available_A)},
                 {"least_lag_m", Figure(f->leastLag_m)},
                 {"ramp_current_a", Figure(f->rampCurrent_A)},
                 {"dry_friction_n", Figure(f->dryFriction_N)},
                 {"viscous_friction_n_s_per_m", Figure(f->viscousFriction_N_s_per_m)},
                 {"limited_model_peak_error", Figure(f->limitedPeak_error)},
                 {"limited_model_rms_error", Figure(f->limitedRms_error)},
                 {"figures", f->figures}};
    Json frequencyResponse = nullptr;
    if (const auto& r = step.frequencyResponse) {
      Json resonances = Json::array();
      for (const FrequencyResponseRecord::Resonance& resonance : r->resonances)
        resonances.push_back({{"frequency_hz", Figure(resonance.frequency_Hz)},
                              {"height_db", Figure(resonance.height_dB)},
                              {"width_hz", Figure(resonance.width_Hz)}});
      frequencyResponse = {{"measured_margins", r->measuredMargins},
                           {"model_margins", r->modelMargins},
                           {"resonances", std::move(resonances)},
                           {"filters_before", r->filtersBefore},
                           {"filters_after", r->filtersAfter},
                           {"notch", r->notch},
                           {"measured_after", r->measuredAfter},
                           {"retuned", r->retuned},
                           {"without_notch", r->withoutNotch},
                           {"actions", r->actions}};
    }
    steps.push_back({{"key", step.key},
                     {"title", step.title},
                     {"test", step.test},
                     {"verdict", VerdictName(step.verdict)},
                     {"detail", step.detail},
                     {"drive_time_s", Figure(step.driveTime_s)},
                     {"changes", std::move(changes)},
                     {"passband", std::move(passband)},
                     {"response", std::move(response)},
                     {"profile", std::move(profile)},
                     {"frequency_response", std::move(frequencyResponse)},
                     {"plots", plots[i]}});
  }
  summary["steps"] = std::move(steps);
  return summary;
}

std::string CreateFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (!error && !fs::is_directory(folder, error)) error = std::make_error_code(std::errc::not_a_directory);
  return error ? axcore::OneLine(folder.string()) + ": cannot create the folder: " + error.message() : "";
}

}  // namespace

const char* VerdictName(StepRecord::Verdict verdict) {
  switch (verdict) {
    case StepRecord::Verdict::Passed: return "passed";
    case StepRecord::Verdict::Failed: return "failed";
    case StepRecord::Verdict::Skipped: break;
  }
  return "skipped";
}

std::string ShortNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

std::string ChangeText(double before, double after, const std::string& arrow) {
  auto text = [](double value, int digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    return std::string(buffer);
  };
  int digits = 4;
  while (digits < 17 && text(before, digits) == text(after, digits)) ++digits;
  return text(before, digits) + arrow + text(after, digits);
}

std::string CannotWriteReport(const std::string& dir) {
  const std::string shown = axcore::OneLine(dir);
  if (dir.empty()) return "\"\": the report needs a folder to be written to";
  std::error_code error;
  const fs::path folder(dir);
  const fs::file_status status = fs::status(folder, error);
  if (fs::exists(status)) {
    if (fs::is_regular_file(status)) return shown + ": is a file, not a folder";
    if (!fs::is_directory(status)) return shown + ": is not a folder";
    // The names the report replaces: each must be one it can replace.
    for (const char* name : {"index.html", "summary.json"})
      if (std::string why = axcore::CannotReplace((folder / name).string(), axcore::LinkAtTarget::Replace);
          !why.empty())
        return why;
    const fs::path plots = folder / "plots";
    const fs::file_status found = fs::symlink_status(plots, error);
    if (fs::is_directory(found) && ::access(plots.c_str(), W_OK | X_OK) != 0)
      return axcore::OneLine(plots.string()) + ": the folder cannot be written to";
    if (fs::exists(found) && !fs::is_directory(found) && !fs::is_symlink(found))
      return axcore::OneLine(plots.string()) + ": is not a folder, and the report's plots go there";
    return {};
  }
  // A folder to be made: each new name must fit the file system, and the
  // nearest folder that exists must take new ones.
  fs::path existing = fs::absolute(folder, error);
  for (fs::path part = existing; !fs::exists(part, error) && part != part.parent_path(); part = part.parent_path()) {
    if (part.filename().string().size() > NAME_MAX) return shown + ": cannot create the folder: File name too long";
    existing = part.parent_path();
  }
  if (!fs::is_directory(existing, error)) return shown + ": cannot create the folder: " + axcore::OneLine(existing.string()) + " is not a folder";
  if (::access(existing.c_str(), W_OK | X_OK) != 0)
    return shown + ": cannot create the folder: " + axcore::OneLine(existing.string()) + " cannot be written to";
  // Room for the longest name the report writes and its temporary twin.
  if (fs::absolute(folder, error).string().size() + 64 >= PATH_MAX) return shown + ": the folder's name is too long";
  return {};
}

std::string WriteCommissionReport(const CommissionRecord& record, const std::string& dir,
                                  std::vector<std::string>* replaced) {
  if (dir.empty()) return "the report needs a folder to be written to";
  const fs::path folder(dir);
  if (std::string error = CreateFolder(folder); !error.empty()) return error;
  std::error_code ignored;
  // Writes `name` inside the folder by replacing it: a link found there is
  // replaced, never followed out of the folder.
  // What stood at a name before, for the user: the name, and where a link
  // pointed.
  auto found = [&](const std::string& name) -> std::optional<std::string> {
    const fs::path path = folder / name;
    const fs::file_status status = fs::symlink_status(path, ignored);
    if (!fs::exists(status)) return std::nullopt;
    if (!fs::is_symlink(status)) return name;
    return name + " (a link to " + fs::read_symlink(path, ignored).string() + ")";
  };
  auto write = [&](const std::string& name, const std::string& text) {
    const std::optional<std::string> before = found(name);
    std::string error =
        axcore::ReplaceFile((folder / name).string(), text, axcore::LinkAtTarget::Replace);
    if (error.empty() && before && replaced != nullptr) replaced->push_back(*before);
    return error;
  };

  // Each step's plots as plots/<step>.svg, plots/<step>-2.svg, ...
  std::set<std::string> taken;
  std::vector<std::vector<std::string>> plots;
  for (const StepRecord& step : record.steps) {
    plots.emplace_back();
    for (std::size_t k = 0; k < step.plots.size(); ++k) plots.back().push_back(PlotFileName(step.key, taken));
  }
  if (!taken.empty()) {
    // A link named "plots" would take the plots elsewhere: it makes way for
    // a folder of the report's own.
    if (fs::is_symlink(fs::symlink_status(folder / "plots", ignored))) {
      const std::optional<std::string> before = found("plots");
      if (::unlink((folder / "plots").c_str()) != 0)
        return axcore::OneLine((folder / "plots").string()) + ": cannot replace the link: " + std::strerror(errno);
      if (replaced != nullptr && before) replaced->push_back(*before);
    }
    if (std::string error = CreateFolder(folder / "plots"); !error.empty()) return error;
  }
  for (std::size_t i = 0; i < record.steps.size(); ++i)
    for (std::size_t k = 0; k < plots[i].size(); ++k) {
      plots[i][k] = "plots/" + plots[i][k];
      if (std::string error = write(plots[i][k], record.steps[i].plots[k].svg); !error.empty()) return error;
    }

  // Text from a drive or a file need not be valid UTF-8; a script reading the
  // summary gets U+FFFD for such a byte rather than no summary at all.
  const std::string json = Summary(record, plots).dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  if (std::string error = write("summary.json", json); !error.empty()) return error;
  // The page last: a user who finds it finds the rest written.
  return write("index.html", Page(record));
}

}  // namespace axhost
