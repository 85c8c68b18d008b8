#include "FrequencyResponse.h"

#include <kiss_fft.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <sstream>

namespace {

constexpr int kFewestRegisterBits = 5, kMostRegisterBits = 20;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::string Figure(double value) {
  std::ostringstream text;
  text.precision(4);
  text << value;
  return text.str();
}

// One segment's transform, detrended and windowed. KISS FFT in single
// precision: the segment's mean is taken out first, so its 24 bits carry
// the excitation's swing, far above the sensors' resolution.
class SegmentTransform {
 public:
  explicit SegmentTransform(int n)
      : m_n(n), m_config(kiss_fft_alloc(n, 0, nullptr, nullptr), &kiss_fft_free), m_in(n), m_out(n) {}
  bool Ready() const { return m_config != nullptr; }

  void Run(const double* x, const std::vector<double>& window, std::vector<std::complex<double>>& spectrum) {
    double mean = 0.0;
    for (int k = 0; k < m_n; ++k) mean += x[k];
    mean /= m_n;
    for (int k = 0; k < m_n; ++k) {
      m_in[static_cast<std::size_t>(k)].r = static_cast<float>((x[k] - mean) * window[static_cast<std::size_t>(k)]);
      m_in[static_cast<std::size_t>(k)].i = 0.0f;
    }
    kiss_fft(m_config.get(), m_in.data(), m_out.data());
    spectrum.resize(static_cast<std::size_t>(m_n));
    for (std::size_t k = 0; k < spectrum.size(); ++k) spectrum[k] = {m_out[k].r, m_out[k].i};
  }

 private:
  int m_n;
  std::unique_ptr<std::remove_pointer_t<kiss_fft_cfg>, void (*)(void*)> m_config;
  std::vector<kiss_fft_cpx> m_in, m_out;
};

// Linear interpolation of `a` to `b` at the share t.
double Between(double a, double b, double t) { return a + (b - a) * t; }

double Db(std::complex<double> h) { return 20.0 * std::log10(std::abs(h)); }

// The natural frequency (Hz) of the pole pair of the two-mass ratio
// R = (1 + n1 s + n2 s^2) / (1 + d1 s + d2 s^2) fitted to the lines from
// `lo` to `hi` (R in dB over the rigid line and its phase, radians) by
// Levy's linearised least squares: R (d1 s + d2 s^2) - n1 s - n2 s^2 =
// 1 - R on every line, real and imaginary parts, in frequencies scaled by
// `centre`, each pass weighted by the last one's denominator. The
// antiresonance's zero pair and the resonance's poles are
// fitted together, so a well-damped peak, whose top and steepest phase
// both lean away from the pole where the zeros still turn the phase, is
// placed on its pole. 0 when the fit has no real pole pair.
double FitPolePair(const std::vector<double>& f, const std::vector<double>& ratio_dB,
                   const std::vector<double>& phase, double lo, double hi, double centre) {
  // Levy's equations weigh each line by |D|, most where the poles are
  // far; a few passes that divide by the last pass's |D| take that bias
  // out (Sanathanan and Koerner's iteration).
  double d1 = 0.0, d2 = 0.0;
  for (int pass = 0; pass < 6; ++pass) {
    double normal[4][5] = {};
    int lines = 0;
    for (std::size_t k = 0; k < f.size(); ++k) {
      if (f[k] < lo || f[k] > hi) continue;
      const double w = f[k] / centre, magnitude = std::pow(10.0, ratio_dB[k] / 20.0);
      const double a = magnitude * std::cos(phase[k]), b = magnitude * std::sin(phase[k]);
      const double weight = 1.0 / std::max(1e-6, std::abs(std::complex<double>(1.0 - d2 * w * w, d1 * w)));
      const double rows[2][5] = {{-b * w, -a * w * w, 0.0, w * w, 1.0 - a}, {a * w, -b * w * w, -w, 0.0, -b}};
      for (const auto& row : rows)
        for (int i = 0; i < 4; ++i)
          for (int j = 0; j < 5; ++j) normal[i][j] += weight * weight * row[i] * row[j];
      ++lines;
    }
    if (lines < 6) return 0.0;
    // Gaussian elimination with partial pivoting on the 4 x 4 normal
    // equations.
    for (int c = 0; c < 4; ++c) {
      int pivot = c;
      for (int r = c + 1; r < 4; ++r)
        if (std::abs(normal[r][c]) > std::abs(normal[pivot][c])) pivot = r;
      if (!(std::abs(normal[pivot][c]) > 1e-300)) return 0.0;
      for (int j = 0; j < 5; ++j) std::swap(normal[c][j], normal[pivot][j]);
      for (int r = 0; r < 4; ++r) {
        if (r == c) continue;
        const double factor = normal[r][c] / normal[c][c];
        for (int j = c; j < 5; ++j) normal[r][j] -= factor * normal[c][j];
      }
    }
    d1 = normal[0][4] / normal[0][0];
    d2 = normal[1][4] / normal[1][1];
    if (!(d2 > 0.0) || !std::isfinite(d1)) return 0.0;
  }
  const double natural = centre / std::sqrt(d2);
  return std::isfinite(natural) && natural >= lo && natural <= hi ? natural : 0.0;
}

}  // namespace

ExcitationPlan PlanExcitation(double tick_s, double from_Hz, double to_Hz, int averages, int linesBelowFrom,
                              int mostTicks) {
  ExcitationPlan plan;
  const double nyquist_Hz = 0.5 / tick_s;
  if (!(tick_s > 0.0) || !std::isfinite(tick_s)) {
    plan.error = "the loop has no tick period";
    return plan;
  }
  if (!(from_Hz > 0.0) || !std::isfinite(from_Hz)) {
    plan.error = "the band must start above 0 Hz, not at " + Figure(from_Hz) + " Hz";
    return plan;
  }
  if (!(to_Hz > from_Hz) || !std::isfinite(to_Hz)) {
    plan.error = "the band must end above its start (" + Figure(from_Hz) + " Hz), not at " + Figure(to_Hz) + " Hz";
    return plan;
  }
  if (to_Hz > nyquist_Hz) {
    plan.error = "the band ends at " + Figure(to_Hz) + " Hz, beyond the loop's Nyquist frequency of " +
                 Figure(nyquist_Hz) + " Hz (half its rate of " + Figure(1.0 / tick_s) + " Hz)";
    return plan;
  }
  // Bits of one tick give a white sequence up to the Nyquist frequency; a
  // band well below it takes longer bits, so that the power goes where
  // the band is.
  const double bitTicks = to_Hz > 0.2 / tick_s ? 1.0 : std::floor(0.4 / (to_Hz * tick_s));
  plan.bitTicks = static_cast<int>(std::clamp(bitTicks, 1.0, 1000.0));
  // The segment sets the resolution: `linesBelowFrom` lines up to `from_Hz`.
  const double wanted = linesBelowFrom / (from_Hz * tick_s);
  plan.segmentTicks = 64;
  while (plan.segmentTicks < wanted && plan.segmentTicks <= mostTicks / 2) plan.segmentTicks *= 2;
  if (plan.segmentTicks < wanted) {
    plan.error = "the band starts at " + Figure(from_Hz) + " Hz, too low for the " + std::to_string(mostTicks) +
                 " samples the drive's logger holds at " + Figure(1.0 / tick_s) + " Hz (start at " +
                 Figure(linesBelowFrom / (plan.segmentTicks * tick_s)) + " Hz or above)";
    return plan;
  }
  // K half-overlapping segments take (K + 1) / 2 segment lengths.
  const int fit = 2 * (mostTicks / plan.segmentTicks) - 1;
  plan.averages = std::clamp(averages, 1, std::max(1, fit));
  plan.settleTicks = plan.segmentTicks;
  plan.measureTicks = plan.segmentTicks * (plan.averages + 1) / 2;
  plan.resolution_Hz = 1.0 / (plan.segmentTicks * tick_s);
  // A register long enough that the sequence does not repeat in the run.
  const double bits = static_cast<double>(plan.settleTicks + plan.measureTicks) / plan.bitTicks;
  plan.registerBits = kFewestRegisterBits;
  while (plan.registerBits < kMostRegisterBits && std::ldexp(1.0, plan.registerBits) - 1.0 < bits) ++plan.registerBits;
  return plan;
}

MeasuredResponse MeasureResponse(const std::vector<double>& excitation, const std::vector<double>& input,
                                 const std::vector<double>& output, double tick_s, int segmentTicks, bool periodic,
                                 double from_Hz, double to_Hz) {
  MeasuredResponse result;
  const std::size_t n = std::min({excitation.size(), input.size(), output.size()});
  if (segmentTicks < 8 || !(tick_s > 0.0) || n < static_cast<std::size_t>(segmentTicks)) {
    result.error = "the record holds " + std::to_string(n) + " samples, fewer than one segment of " +
                   std::to_string(segmentTicks);
    return result;
  }
  const auto m = static_cast<std::size_t>(segmentTicks);
  std::vector<double> window(m, 1.0);
  std::size_t hop = m;
  if (!periodic) {
    for (std::size_t k = 0; k < m; ++k) window[k] = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(k) / m);
    hop = m / 2;
  }
  SegmentTransform transform(segmentTicks);
  if (!transform.Ready()) {
    result.error = "no transform of " + std::to_string(segmentTicks) + " points";
    return result;
  }
  // Lines 1 .. m/2 (below the Nyquist frequency) within the band.
  const double line_Hz = 1.0 / (static_cast<double>(m) * tick_s);
  std::vector<std::size_t> lines;
  for (std::size_t k = 1; k <= (m - 1) / 2; ++k) {
    const double f = static_cast<double>(k) * line_Hz;
    if (f >= from_Hz * (1.0 - 1e-9) && f <= to_Hz * (1.0 + 1e-9)) lines.push_back(k);
  }
  if (lines.empty()) {
    result.error = "no line of the " + Figure(line_Hz) + " Hz resolution lies in the band";
    return result;
  }
  std::vector<double> sdd(lines.size()), suu(lines.size()), syy(lines.size());
  std::vector<std::complex<double>> sdu(lines.size()), sdy(lines.size());
  std::vector<std::complex<double>> d, u, y;
  for (std::size_t start = 0; start + m <= n; start += hop) {
    transform.Run(excitation.data() + start, window, d);
    transform.Run(input.data() + start, window, u);
    transform.Run(output.data() + start, window, y);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t k = lines[i];
      sdd[i] += std::norm(d[k]);
      suu[i] += std::norm(u[k]);
      syy[i] += std::norm(y[k]);
      sdu[i] += std::conj(d[k]) * u[k];
      sdy[i] += std::conj(d[k]) * y[k];
    }
    ++result.averages;
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    result.frequency_Hz.push_back(static_cast<double>(lines[i]) * line_Hz);
    const std::complex<double> s = sdu[i] / sdd[i];
    result.plant.push_back(sdy[i] / sdu[i]);
    result.sensitivity.push_back(s);
    result.openLoop.push_back(1.0 / s - 1.0);
    result.closedLoop.push_back(1.0 - s);
    const double du = std::norm(sdu[i]) / (sdd[i] * suu[i]), dy = std::norm(sdy[i]) / (sdd[i] * syy[i]);
    const double coherence = std::min(du, dy);
    result.coherence.push_back(std::isfinite(coherence) ? std::clamp(coherence, 0.0, 1.0) : 0.0);
  }
  return result;
}

LoopMargins MeasuredMargins(const MeasuredResponse& measured, double minCoherence) {
  LoopMargins margins;
  std::vector<double> w;
  std::vector<std::complex<double>> l;
  for (std::size_t i = 0; i < measured.openLoop.size(); ++i) {
    if (measured.coherence[i] < minCoherence || !std::isfinite(std::abs(measured.openLoop[i]))) continue;
    w.push_back(kTwoPi * measured.frequency_Hz[i]);
    l.push_back(measured.openLoop[i]);
  }
  if (w.size() < 2) return margins;
  margins.valid = true;
  margins.stable = true;
  margins.frequency_rad_s = w;
  margins.response = l;
  // The phase unwrapped along the lines, starting in (-360, 0].
  std::vector<double> phase(l.size());
  for (std::size_t i = 0; i < l.size(); ++i) {
    double p = std::arg(l[i]) * 180.0 / std::numbers::pi;
    if (i == 0) {
      if (p > 0.0) p -= 360.0;
    } else {
      while (p - phase[i - 1] > 180.0) p -= 360.0;
      while (p - phase[i - 1] < -180.0) p += 360.0;
    }
    phase[i] = p;
  }
  margins.sensitivityPeak_dB = -1e300;
  for (std::size_t i = 0; i < l.size(); ++i) {
    const double s = -Db(1.0 + l[i]);
    if (s > margins.sensitivityPeak_dB) {
      margins.sensitivityPeak_dB = s;
      margins.sensitivityPeakAt_rad_s = w[i];
    }
  }
  for (std::size_t i = 0; i + 1 < l.size(); ++i) {
    const double m0 = Db(l[i]), m1 = Db(l[i + 1]);
    const double lw0 = std::log(w[i]), lw1 = std::log(w[i + 1]);
    if (m0 >= 0.0 && m1 < 0.0) {
      const double t = m0 / (m0 - m1);
      margins.crossover_rad_s = std::exp(Between(lw0, lw1, t));
      // 180 degrees plus the phase, wrapped into (-180, 180].
      double pm = std::fmod(180.0 + Between(phase[i], phase[i + 1], t), 360.0);
      if (pm > 180.0) pm -= 360.0;
      if (pm <= -180.0) pm += 360.0;
      margins.phaseMargin_deg = std::min(margins.phaseMargin_deg, pm);
    }
    // The phase passing an odd multiple of -180 degrees.
    const double k0 = std::floor((phase[i] + 180.0) / 360.0), k1 = std::floor((phase[i + 1] + 180.0) / 360.0);
    if (k0 != k1) {
      const double at = 360.0 * std::max(k0, k1) - 180.0;
      const double t = (at - phase[i]) / (phase[i + 1] - phase[i]);
      const double gain_dB = Between(m0, m1, t);
      const double where = std::exp(Between(lw0, lw1, t));
      if (gain_dB < 0.0 && -gain_dB < margins.gainMargin_dB) {
        margins.gainMargin_dB = -gain_dB;
        margins.gainMarginAt_rad_s = where;
      } else if (gain_dB >= 0.0 && gain_dB < margins.gainReductionMargin_dB) {
        margins.gainReductionMargin_dB = gain_dB;
        margins.gainReductionMarginAt_rad_s = where;
      }
    }
  }
  return margins;
}

std::vector<Resonance> FindResonances(const MeasuredResponse& measured, const std::vector<std::complex<double>>& rigid,
                                      double minCoherence, double minProminence_dB, double minHeight_dB) {
  std::vector<Resonance> found;
  std::vector<double> f, ratio, phase;
  for (std::size_t i = 0; i < measured.plant.size() && i < rigid.size(); ++i) {
    const std::complex<double> over = measured.plant[i] / rigid[i];
    const double r = Db(over);
    if (measured.coherence[i] < minCoherence || !std::isfinite(r)) continue;
    f.push_back(measured.frequency_Hz[i]);
    ratio.push_back(r);
    double p = std::arg(over);
    if (!phase.empty()) p += kTwoPi * std::round((phase.back() - p) / kTwoPi);
    phase.push_back(p);
  }
  if (ratio.size() < 5) return found;
  // The rigid line through the measurement: the median ratio over the
  // lowest quarter of the coherent lines, where the whole mass moves as one
  // (a drive's mechanical resonances lie far above its lowest lines).
  std::vector<double> low(ratio.begin(), ratio.begin() + static_cast<std::ptrdiff_t>(std::max<std::size_t>(3, ratio.size() / 4)));
  std::nth_element(low.begin(), low.begin() + static_cast<std::ptrdiff_t>(low.size() / 2), low.end());
  const double offset = low[low.size() / 2];
  for (double& r : ratio) r -= offset;
  const std::size_t n = ratio.size();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    if (!(ratio[i] > ratio[i - 1] && ratio[i] >= ratio[i + 1])) continue;
    // The valleys: the lowest point before a higher one, each side.
    // (At the band's edge the valley is the lowest point up to it: a slope
    // that rises to the edge is no peak.)
    double left = ratio[i], right = ratio[i];
    for (std::size_t j = i; j > 0 && ratio[j - 1] <= ratio[i];) left = std::min(left, ratio[--j]);
    for (std::size_t j = i; j + 1 < n && ratio[j + 1] <= ratio[i];) right = std::min(right, ratio[++j]);
    const double prominence = ratio[i] - std::max(left, right);
    if (prominence < minProminence_dB || ratio[i] < minHeight_dB) continue;
    Resonance r;
    r.prominence_dB = prominence;
    // The parabola through the top three lines (equally spaced).
    const double a = ratio[i - 1], b = ratio[i], c = ratio[i + 1];
    const double denominator = a - 2.0 * b + c;
    const double shift = denominator < 0.0 ? std::clamp(0.5 * (a - c) / denominator, -0.5, 0.5) : 0.0;
    const double step = shift >= 0.0 ? f[i + 1] - f[i] : f[i] - f[i - 1];
    r.frequency_Hz = f[i] + shift * step;
    r.height_dB = b - 0.25 * (a - c) * shift;
    // Half power: 3 dB below the top, interpolated each side.
    const double half = r.height_dB - 3.0;
    double low = f.front(), high = f.back();
    for (std::size_t k = i; k > 0; --k)
      if (ratio[k - 1] < half) {
        low = f[k - 1] + (f[k] - f[k - 1]) * (half - ratio[k - 1]) / (ratio[k] - ratio[k - 1]);
        break;
      }
    for (std::size_t k = i; k + 1 < n; ++k)
      if (ratio[k + 1] < half) {
        high = f[k] + (f[k + 1] - f[k]) * (ratio[k] - half) / (ratio[k] - ratio[k + 1]);
        break;
      }
    r.width_Hz = high - low;
    // A damped peak's top lies above the resonance where the antiresonance's
    // rise adds to it; the resonance itself is where the phase falls
    // fastest (a pole pair turns it by 180 degrees about its frequency).
    // Searched within the half-power band, placed between lines by a
    // parabola through the three steepest steps.
    double steepest = 0.0;
    std::size_t at = n;
    for (std::size_t k = 0; k + 1 < n; ++k) {
      if (f[k + 1] < low || f[k] > high) continue;
      const double fall = (phase[k] - phase[k + 1]) / (f[k + 1] - f[k]);
      if (fall > steepest) {
        steepest = fall;
        at = k;
      }
    }
    if (at > 0 && at + 2 < n) {
      auto fall = [&](std::size_t k) { return (phase[k] - phase[k + 1]) / (f[k + 1] - f[k]); };
      const double a2 = fall(at - 1), b2 = fall(at), c2 = fall(at + 1);
      const double d2 = a2 - 2.0 * b2 + c2;
      const double s2 = d2 < 0.0 ? std::clamp(0.5 * (a2 - c2) / d2, -0.5, 0.5) : 0.0;
      r.frequency_Hz = 0.5 * (f[at] + f[at + 1]) + s2 * (f[at + 1] - f[at]);
    }
    // Where the lines allow it, the pole pair of the two-mass ratio fitted
    // around the peak and the antiresonance below it.
    if (const double fitted = FitPolePair(f, ratio, phase, 0.5 * r.frequency_Hz, 1.5 * r.frequency_Hz, r.frequency_Hz);
        fitted > 0.0)
      r.frequency_Hz = fitted;
    found.push_back(r);
  }
  std::sort(found.begin(), found.end(), [](const Resonance& a, const Resonance& b) { return a.height_dB > b.height_dB; });
  return found;
}

double NotchQuality(const Resonance& resonance, double qMin, double qMax) {
  // At the half-power points f0 (1 +- delta) the peak stands height - 3 dB
  // above the rigid line; the notch's gain there is
  // 2 delta / sqrt(4 delta^2 + 1 / Q^2), which must not exceed a.
  const double delta = 0.5 * resonance.width_Hz / resonance.frequency_Hz;
  const double a = std::pow(10.0, -(resonance.height_dB - 3.0) / 20.0);
  if (!(delta > 0.0) || !(a < 1.0) || !std::isfinite(delta)) return qMax;
  const double q = a / (2.0 * delta * std::sqrt(1.0 - a * a));
  return std::clamp(std::isfinite(q) ? q : qMax, qMin, qMax);
}
