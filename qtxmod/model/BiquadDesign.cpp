#include "BiquadDesign.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "FeatureProbes.h"
#include "axcore/Setup.h"

namespace {

constexpr double kTwoPow31 = 2147483648.0;
constexpr double kInt32Max = 2147483647.0;
constexpr double kInt32Min = -2147483648.0;
// The largest power of two a signed 32-bit SF register holds.
constexpr double kLargestScaleFactor = 1073741824.0;

// Register names of slot s, in the order the drive takes them.
constexpr const char* kSlotRegisterSuffixes[6] = {"B0", "B1", "B2", "A1", "A2", "SF"};
constexpr const char* kCountNames[kBiquadLocationCount] = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};

std::string FilterName(const char* format, int n) { return format + std::to_string(n); }

std::string SlotRegisterName(int slot, int index) { return "BQ" + std::to_string(slot) + kSlotRegisterSuffixes[index]; }

double Read(const CMC_Setup& setup, const std::string& name) { return setup.GetParameterValueInBaseUnit(name); }

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// The drive rounds its Q31 fractions to nearest, halves up.
double ToQ31(double value, double scaleFactor) { return std::floor(value / scaleFactor * kTwoPow31 + 0.5); }

std::array<double, 6> AsArray(const BiquadRegisters& r) { return {r.b0, r.b1, r.b2, r.a1, r.a2, r.sf}; }

// One register write of a slot or a count: the name, the value, and the
// parameter when the setup has it.
struct PendingWrite {
  std::string name;
  double value;
  int filter;  // the filter the value belongs to; 0 for a count or an unused slot
  CMC_Parameter* parameter = nullptr;
};

// Looks every register up (ordinary lookups: the host reports a missing one)
// and checks that each value lies in its register's range, because the
// document would clamp a value that does not and the drive would run a
// different filter. Writes all present registers only when every value fits.
// 1 when all were written, 0 otherwise.
int WriteRegisters(CMC_Setup& setup, std::vector<PendingWrite>& writes, std::string& error) {
  bool complete = true;
  for (PendingWrite& w : writes) {
    w.parameter = setup.FindParameter(w.name);
    if (w.parameter == nullptr) {
      complete = false;
      continue;
    }
    const double lo = w.parameter->GetMinInBaseUnit();
    const double hi = w.parameter->GetMaxInBaseUnit();
    if (lo <= hi && !(w.value >= lo && w.value <= hi)) {
      error = (w.filter != 0 ? "filter " + std::to_string(w.filter) + ": " : std::string()) + "\"" + w.name +
              "\" would be " + Number(w.value) + ", outside the register's range " + Number(lo) + " to " + Number(hi);
      return 0;
    }
  }
  for (PendingWrite& w : writes)
    if (w.parameter != nullptr && !w.parameter->SetValueInBaseUnit(w.value)) complete = false;
  if (!complete) error = "the setup lacks some of the filter registers";
  return complete ? 1 : 0;
}

}  // namespace

const char* BiquadLocationName(int location) {
  switch (location) {
    case kBiquadAtPositionControllerOutput:
      return "Position Controller Output";
    case kBiquadAtSpeedControllerOutput:
      return "Speed Controller Output";
    case kBiquadAtSpeedFeedback:
      return "Speed Feedback";
    default:
      return nullptr;
  }
}

bool BiquadTypeUsesQ(int type) { return type >= kBiquadLowPass2 && type <= kBiquadPeak; }
bool BiquadTypeUsesF2(int type) { return type == kBiquadLeadLag1 || type == kBiquadLeadLag2; }

BiquadSlotPlan PlanBiquadSlots(const CMC_Setup& setup) {
  bool on[kBiquadFilterCount];
  double location[kBiquadFilterCount];
  for (int n = 1; n <= kBiquadFilterCount; ++n) {
    on[n - 1] = Read(setup, FilterName("BQFilter", n)) != 0.0;
    // The location counts by its integer part; comparing as doubles keeps
    // any stored value, however large, away from an integer conversion.
    location[n - 1] = std::trunc(Read(setup, FilterName("BQFilterLocation", n)));
  }
  BiquadSlotPlan plan;
  for (int l = 0; l < kBiquadLocationCount; ++l) {
    for (int n = 1; n <= kBiquadFilterCount; ++n) {
      if (!on[n - 1] || location[n - 1] != static_cast<double>(l)) continue;
      plan.filterOfSlot[plan.usedSlots] = n;
      plan.locationOfSlot[plan.usedSlots] = l;
      ++plan.countOfLocation[l];
      ++plan.usedSlots;
    }
  }
  return plan;
}

BiquadFilterParameters ReadBiquadFilterParameters(const CMC_Setup& setup, int n) {
  BiquadFilterParameters p;
  p.type = Read(setup, FilterName("BQFilterType", n));
  p.location = Read(setup, FilterName("BQFilterLocation", n));
  p.f1_Hz = Read(setup, FilterName("BQFilterF1", n));
  p.f2_Hz = Read(setup, FilterName("BQFilterF2", n));
  p.q = Read(setup, FilterName("BQFilterQ", n));
  p.period_s = Read(setup, "Ts_S");
  return p;
}

CBiquadDesign::CBiquadDesign()
    : m_types{{{"Low Pass 1st order", true},
               {"Low Pass 2nd order", true},
               {"Notch", true},
               {"High Pass", true},
               {"Band Pass", true},
               {"Peak", false},
               {"Low Shelf", false},
               {"High Shelf", false},
               {"Lead-lag 1st order", true},
               {"Lead-lag 2nd order", true}}} {}

const char* CBiquadDesign::GetTypeName(int type) const {
  return type >= 0 && type < kBiquadTypeCount ? m_types[static_cast<std::size_t>(type)].name : nullptr;
}

bool CBiquadDesign::IsTypeOffered(int type) const {
  return type >= 0 && type < kBiquadTypeCount && m_types[static_cast<std::size_t>(type)].offered;
}

void CBiquadDesign::GetAvailableTypes(std::vector<std::string>& names, std::vector<int>& indices) const {
  names.clear();
  indices.clear();
  for (int t = 0; t < kBiquadTypeCount; ++t) {
    if (!IsTypeOffered(t)) continue;
    names.emplace_back(GetTypeName(t));
    indices.push_back(t);
  }
}

void CBiquadDesign::ComputeCoefficients(int type, double x, double y, double gain_dB) {
  if (type < 0 || type >= kBiquadTypeCount) return;
  // Bilinear transform s -> (1/K) (1 - z^-1) / (1 + z^-1) of a prototype
  // normalised to the filter frequency: K = tan(pi F1 Ts) pre-warps it, so
  // the digital filter has at F1 exactly the prototype's response at s = j.
  const double k = std::tan(std::numbers::pi * x);
  const double kk = k * k;
  const double q = y;
  const double v = std::pow(10.0, std::fabs(gain_dB) / 20.0);
  const double sqrt2 = std::numbers::sqrt2;
  const double sqrt2v = std::sqrt(2.0 * v);
  // The denominator shared by the second-order types: s^2 + s/Q + 1.
  const double n = 1.0 / (1.0 + k / q + kk);
  const double a1 = 2.0 * (kk - 1.0) * n;
  const double a2 = (1.0 - k / q + kk) * n;
  BiquadCoefficients& c = m_coefficients;
  switch (type) {
    case kBiquadLowPass1:  // 1 / (s + 1)
      c = {k / (k + 1.0), k / (k + 1.0), 0.0, (k - 1.0) / (k + 1.0), 0.0};
      break;
    case kBiquadLowPass2:  // 1 / (s^2 + s/Q + 1)
      c = {kk * n, 2.0 * kk * n, kk * n, a1, a2};
      break;
    case kBiquadNotch:  // (s^2 + 1) / (s^2 + s/Q + 1)
      c = {(1.0 + kk) * n, 2.0 * (kk - 1.0) * n, (1.0 + kk) * n, a1, a2};
      break;
    case kBiquadHighPass:  // s^2 / (s^2 + s/Q + 1)
      c = {n, -2.0 * n, n, a1, a2};
      break;
    case kBiquadBandPass:  // (s/Q) / (s^2 + s/Q + 1): 0 dB at F1
      c = {k / q * n, 0.0, -k / q * n, a1, a2};
      break;
    case kBiquadPeak:  // (s^2 + s V/Q + 1) / (s^2 + s/Q + 1), inverted for a cut
      if (gain_dB >= 0.0) {
        const double m = 1.0 / (1.0 + k / q + kk);
        c = {(1.0 + v * k / q + kk) * m, 2.0 * (kk - 1.0) * m, (1.0 - v * k / q + kk) * m, 2.0 * (kk - 1.0) * m,
             (1.0 - k / q + kk) * m};
      } else {
        const double m = 1.0 / (1.0 + v * k / q + kk);
        c = {(1.0 + k / q + kk) * m, 2.0 * (kk - 1.0) * m, (1.0 - k / q + kk) * m, 2.0 * (kk - 1.0) * m,
             (1.0 - v * k / q + kk) * m};
      }
      break;
    case kBiquadLowShelf:  // (s^2 + sqrt(2V) s + V) / (s^2 + sqrt2 s + 1), inverted for a cut
      if (gain_dB >= 0.0) {
        const double m = 1.0 / (1.0 + sqrt2 * k + kk);
        c = {(1.0 + sqrt2v * k + v * kk) * m, 2.0 * (v * kk - 1.0) * m, (1.0 - sqrt2v * k + v * kk) * m,
             2.0 * (kk - 1.0) * m, (1.0 - sqrt2 * k + kk) * m};
      } else {
        const double m = 1.0 / (1.0 + sqrt2v * k + v * kk);
        c = {(1.0 + sqrt2 * k + kk) * m, 2.0 * (kk - 1.0) * m, (1.0 - sqrt2 * k + kk) * m, 2.0 * (v * kk - 1.0) * m,
             (1.0 - sqrt2v * k + v * kk) * m};
      }
      break;
    case kBiquadHighShelf:  // (V s^2 + sqrt(2V) s + 1) / (s^2 + sqrt2 s + 1), inverted for a cut
      if (gain_dB >= 0.0) {
        const double m = 1.0 / (1.0 + sqrt2 * k + kk);
        c = {(v + sqrt2v * k + kk) * m, 2.0 * (kk - v) * m, (v - sqrt2v * k + kk) * m, 2.0 * (kk - 1.0) * m,
             (1.0 - sqrt2 * k + kk) * m};
      } else {
        const double m = 1.0 / (v + sqrt2v * k + kk);
        c = {(1.0 + sqrt2 * k + kk) * m, 2.0 * (kk - 1.0) * m, (1.0 - sqrt2 * k + kk) * m, 2.0 * (kk - v) * m,
             (v - sqrt2v * k + kk) * m};
      }
      break;
    case kBiquadLeadLag1:
    case kBiquadLeadLag2: {
      // (1 + s/w1) / (1 + s/w2), each corner pre-warped at its own
      // frequency: zero at F1, pole at F2, gain 1 at zero frequency. The
      // second order is the first applied twice.
      const double k2 = std::tan(std::numbers::pi * y);
      const double r = k2 / k;
      const double d = k2 + 1.0;
      const double b0 = r * (k + 1.0) / d;
      const double b1 = r * (k - 1.0) / d;
      const double p = (k2 - 1.0) / d;
      if (type == kBiquadLeadLag1)
        c = {b0, b1, 0.0, p, 0.0};
      else
        c = {b0 * b0, 2.0 * r * r * (kk - 1.0) / (d * d), b1 * b1, 2.0 * p, p * p};
      break;
    }
    default:
      break;
  }
}

int CBiquadDesign::Quantize() {
  const double values[5] = {m_coefficients.b0, m_coefficients.b1, m_coefficients.b2, m_coefficients.a1,
                            m_coefficients.a2};
  double largest = 0.0;
  for (double value : values) {
    if (!std::isfinite(value)) return 0;
    largest = std::max(largest, std::fabs(value));
  }
  // SF is the smallest power of two strictly above the largest magnitude
  // (SF 1 below 1): then every coefficient / SF is below 1 in magnitude and
  // fits a Q31 register. A coefficient of exactly 2^k must not get SF = 2^k,
  // because 2^31 wraps to -2^31 in the drive and turns the filter unstable.
  double scaleFactor = 1.0;
  if (largest >= 1.0) {
    int exponent = 0;
    std::frexp(largest, &exponent);  // largest = f * 2^exponent, f in [0.5, 1)
    scaleFactor = std::ldexp(1.0, exponent);
  }
  // A coefficient a hair below a power of two still rounds up to 2^31; the
  // next power of two holds it.
  for (double value : values) {
    if (ToQ31(value, scaleFactor) > kInt32Max) {
      scaleFactor *= 2.0;
      break;
    }
  }
  if (scaleFactor > kLargestScaleFactor) return 0;
  m_coefficients = {ToQ31(values[0], scaleFactor), ToQ31(values[1], scaleFactor), ToQ31(values[2], scaleFactor),
                    ToQ31(values[3], scaleFactor), ToQ31(values[4], scaleFactor)};
  m_scaleFactor = scaleFactor;
  return 1;
}

int CBiquadDesign::ComputeFilter(const CMC_Setup& setup, int filter) { return ComputeFilterOfType(setup, filter) >= 0; }

int CBiquadDesign::ComputeFilterOfType(const CMC_Setup& setup, int filter) {
  if (filter < 1 || filter > kBiquadFilterCount) return -1;
  // Only what the type needs is read: a lead-lag reads F2 instead of Q,
  // and nothing else is asked of the setup (a name it lacks is reported).
  const double ts = Read(setup, "Ts_S");
  // The type counts by its integer part; checked as a double before it
  // becomes an int.
  const double type = std::trunc(Read(setup, FilterName("BQFilterType", filter)));
  if (!(type >= 0.0 && type < kBiquadTypeCount)) return -1;
  const int t = static_cast<int>(type);
  const double y =
      BiquadTypeUsesF2(t) ? Read(setup, FilterName("BQFilterF2", filter)) * ts : Read(setup, FilterName("BQFilterQ", filter));
  ComputeCoefficients(t, Read(setup, FilterName("BQFilterF1", filter)) * ts, y, 0.0);
  return t;
}

bool CBiquadDesign::DesignRegisters(const CMC_Setup& setup, int filter, BiquadRegisters& out) {
  if (filter < 1 || filter > kBiquadFilterCount) {
    m_lastError = "there is no filter " + std::to_string(filter);
    return false;
  }
  const int type = ComputeFilterOfType(setup, filter);
  if (type < 0) {
    m_lastError = "filter " + std::to_string(filter) + ": the type " +
                  Number(setup.GetParameterValueInBaseUnit(FilterName("BQFilterType", filter))) +
                  " is not one of this drive's filter types";
    return false;
  }
  if (!Quantize()) {
    m_lastError = "filter " + std::to_string(filter) +
                  ": its coefficients cannot be held by the drive (check F1, F2, Q and the sampling period)";
    return false;
  }
  BiquadRegisters r{m_coefficients.b0, m_coefficients.b1, m_coefficients.b2,
                    m_coefficients.a1, m_coefficients.a2, m_scaleFactor};
  // Rounding each coefficient leaves the gain at zero frequency a few parts
  // in 2^31 off what was designed. Most types are designed for gain 1 there:
  // B0 takes up the difference, so that a filter in the loop passes a
  // constant reference unchanged. A high pass and a band pass are designed
  // for gain 0 there; forcing 1 would turn them into something else. Their
  // numerator is (1 - z^-1)^2 or (1 - z^-2) times a constant, and the
  // registers keep that shape exactly, so that no constant leaks through:
  // an unmatched LSB would pass a constant at a gain of LSB / (4 K^2), which
  // for a high pass far below the sampling rate is felt up to several hertz.
  switch (type) {
    case kBiquadHighPass:
      r.b1 = -(r.b0 + r.b2);
      break;
    case kBiquadBandPass:
      r.b2 = -r.b0;
      break;
    default:
      if ((r.b0 + r.b1 + r.b2 - r.a1 - r.a2) * r.sf != kTwoPow31)
        r.b0 = std::floor(kTwoPow31 / r.sf - r.b1 - r.b2 + r.a1 + r.a2 + 0.5);
      break;
  }
  for (double value : {r.b0, r.b1, r.b2}) {
    if (!(value >= kInt32Min && value <= kInt32Max)) {
      m_lastError =
          "filter " + std::to_string(filter) + ": a coefficient does not fit its register after the gain correction";
      return false;
    }
  }
  m_coefficients.b0 = r.b0;
  m_coefficients.b1 = r.b1;
  m_coefficients.b2 = r.b2;
  out = r;
  return true;
}

int CBiquadDesign::DesignFilterRegisters(const CMC_Setup& setup, int filter, BiquadRegisters& registers) {
  m_lastError.clear();
  return DesignRegisters(setup, filter, registers) ? 1 : 0;
}

int CBiquadDesign::DesignFilter(CMC_Setup& setup, int filter, int slot) {
  m_lastError.clear();
  if (slot < 1 || slot > kBiquadSlotCount) {
    m_lastError = "there is no filter slot " + std::to_string(slot);
    return 0;
  }
  BiquadRegisters r;
  if (!DesignRegisters(setup, filter, r)) return 0;
  std::vector<PendingWrite> writes;
  const std::array<double, 6> values = AsArray(r);
  for (int i = 0; i < 6; ++i)
    writes.push_back({SlotRegisterName(slot, i), values[static_cast<std::size_t>(i)], filter});
  return WriteRegisters(setup, writes, m_lastError);
}

int CBiquadDesign::EncodeFilters(CMC_Setup& setup) {
  m_lastError.clear();
  const BiquadSlotPlan plan = PlanBiquadSlots(setup);
  // Design every filter first: a filter that cannot be designed must not
  // leave the drive with slots and counts that no longer belong together.
  std::array<BiquadRegisters, kBiquadSlotCount> slots{};  // unused slots: all six registers 0
  for (int s = 0; s < plan.usedSlots; ++s)
    if (!DesignRegisters(setup, plan.filterOfSlot[static_cast<std::size_t>(s)], slots[static_cast<std::size_t>(s)]))
      return 0;
  std::vector<PendingWrite> writes;
  for (int s = 1; s <= kBiquadSlotCount; ++s) {
    const std::array<double, 6> values = AsArray(slots[static_cast<std::size_t>(s - 1)]);
    const int filter = plan.filterOfSlot[static_cast<std::size_t>(s - 1)];
    for (int i = 0; i < 6; ++i) writes.push_back({SlotRegisterName(s, i), values[static_cast<std::size_t>(i)], filter});
  }
  for (int l = 0; l < kBiquadLocationCount; ++l)
    writes.push_back({kCountNames[l], static_cast<double>(plan.countOfLocation[static_cast<std::size_t>(l)]), 0});
  return WriteRegisters(setup, writes, m_lastError);
}

int CBiquadDesign::WriteFiltersToDrive(CMC_Setup& setup) {
  std::vector<std::string> names(std::begin(kCountNames), std::end(kCountNames));
  for (int s = 1; s <= kBiquadSlotCount; ++s)
    for (int i = 0; i < 6; ++i) names.push_back(SlotRegisterName(s, i));
  // A drive without some of these registers simply does not get them; the
  // lookups are quiet so that nothing is reported for them.
  for (const std::string& name : names) {
    CMC_Parameter* p = FindParameterQuiet(setup, name);
    if (p != nullptr && !p->WriteToChip()) return 0;
  }
  return 1;
}
