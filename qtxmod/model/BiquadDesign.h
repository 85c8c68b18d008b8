// The drive's three biquad filters: design from the user's description, Q31
// quantisation, and the assignment of the filters to the drive's slots.
//
// The user describes up to three filters ("BQFilter1" ... "BQFilter3" on or
// off, with type, location, F1, F2 and Q). The drive runs up to three slots,
// "BQ1*" to "BQ3*", in the speed loop; the counts "SPDREF_BQ_INI",
// "IQREF_BQ_INI" and "ASPD_BQ_INI" tell how many consecutive slots, from slot
// 1, filter the speed reference (position controller output), the current
// reference (speed controller output) and the speed feedback. Each filter is
// designed with the bilinear transform pre-warped at its frequency, for the
// speed-loop period "Ts_S".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "FilterResponse.h"

class CMC_Setup;

inline constexpr int kBiquadSlotCount = 3;
inline constexpr int kBiquadFilterCount = 3;

// Where a filter sits in the loop; the value of "BQFilterLocation%d".
enum BiquadLocation : int {
  kBiquadAtPositionControllerOutput = 0,  // filters the speed reference
  kBiquadAtSpeedControllerOutput = 1,     // filters the current reference
  kBiquadAtSpeedFeedback = 2,
};
inline constexpr int kBiquadLocationCount = 3;

// "Position Controller Output", "Speed Controller Output", "Speed Feedback";
// null for any other location.
const char* BiquadLocationName(int location);

// Which user filter runs in which slot: the slots are filled location by
// location (0, 1, 2), and within a location in filter order (1, 2, 3), with
// every filter that is on and has location 0, 1 or 2.
struct BiquadSlotPlan {
  std::array<int, kBiquadSlotCount> filterOfSlot{};    // filter number 1..3; 0: the slot is unused
  std::array<int, kBiquadSlotCount> locationOfSlot{};  // meaningful where filterOfSlot is not 0
  std::array<int, kBiquadLocationCount> countOfLocation{};
  int usedSlots = 0;
};

// Reads "BQFilter%d" and "BQFilterLocation%d" of the three filters (ordinary
// lookups: a missing one is reported and reads as 0, so the filter is off).
BiquadSlotPlan PlanBiquadSlots(const CMC_Setup& setup);

// The user-side description of filter n as the design reads it.
struct BiquadFilterParameters {
  double type = 0.0;      // "BQFilterType%d"
  double location = 0.0;  // "BQFilterLocation%d"
  double f1_Hz = 0.0;     // "BQFilterF1%d": filter frequency, lead frequency of the lead-lag types
  double f2_Hz = 0.0;     // "BQFilterF2%d": lag frequency of the lead-lag types
  double q = 0.0;         // "BQFilterQ%d"
  double period_s = 0.0;  // "Ts_S": the speed-loop period the design is made for
};
BiquadFilterParameters ReadBiquadFilterParameters(const CMC_Setup& setup, int filter);

// Type indices of the drive's filter designs.
enum BiquadType : int {
  kBiquadLowPass1 = 0,
  kBiquadLowPass2 = 1,
  kBiquadNotch = 2,
  kBiquadHighPass = 3,
  kBiquadBandPass = 4,
  kBiquadPeak = 5,
  kBiquadLowShelf = 6,
  kBiquadHighShelf = 7,
  kBiquadLeadLag1 = 8,
  kBiquadLeadLag2 = 9,
};
inline constexpr int kBiquadTypeCount = 10;

// Whether a type reads its second parameter as Q (1 to 5) or as the lag
// frequency F2 (8, 9); the others use neither.
bool BiquadTypeUsesQ(int type);
bool BiquadTypeUsesF2(int type);

class CBiquadDesign {
 public:
  CBiquadDesign();

  // The type's name ("Low Pass 1st order" ...), null outside 0..9.
  const char* GetTypeName(int type) const;
  // Whether the Filters dialog offers the type (all but Peak and the shelves).
  bool IsTypeOffered(int type) const;
  // Empties both arrays, then appends name and index of every offered type
  // in index order.
  void GetAvailableTypes(std::vector<std::string>& names, std::vector<int>& indices) const;

  // Designs the floating coefficients of `type` into the working set. x is
  // F1 * Ts; y is Q, or F2 * Ts for the lead-lag types 8 and 9; gain_dB is
  // the gain of Peak and the shelves. Any other type leaves the working set
  // unchanged. No range check: a Q of 0 or an F1 of 0 for a lead-lag gives
  // non-finite coefficients, which Quantize refuses.
  void ComputeCoefficients(int type, double x, double y, double gain_dB);

  // Turns the working set into the slot's integers and sets SF: SF is the
  // smallest power of two (1, 2, 4 ...) for which every coefficient, as
  // floor(c / SF * 2^31 + 0.5), fits a signed 32-bit register. 0, changing
  // nothing, when a coefficient is not finite or SF would pass 2^30.
  int Quantize();

  // Steps shared by DesignFilter and the response display: reads filter n
  // and designs its floating coefficients (gain 0 dB). 0, changing nothing,
  // when n is not 1..3 or the type is not one of 0..9.
  int ComputeFilter(const CMC_Setup& setup, int filter);

  // The six registers DesignFilter would write for filter n, written
  // nowhere: what the drive would run while the user is still editing.
  // 0 when the filter cannot be designed (GetLastError says why).
  int DesignFilterRegisters(const CMC_Setup& setup, int filter, BiquadRegisters& registers);

  // Designs filter n (1..3), quantises it and writes it into slot s (1..3).
  // Except for "High Pass" and "Band Pass", B0 is corrected so that the
  // quantised filter has gain 1 at zero frequency exactly. 1 when the six
  // registers were written; 0 when the filter cannot be designed or a value
  // does not fit its register, and then nothing is written.
  int DesignFilter(CMC_Setup& setup, int filter, int slot);

  // Fills the three slots and the three counts from the user parameters;
  // unused slots get 0 in all six registers. Every filter is designed before
  // anything is written: when one cannot be, nothing is written and the
  // result is 0 (GetLastError says why). 1 when every register was written.
  int EncodeFilters(CMC_Setup& setup);

  // Sends the three counts, then the six registers of slots 1 to 3 (B0, B1,
  // B2, A1, A2, SF) to the drive, skipping registers the setup lacks. Stops at
  // the first failed write and returns 0 (the setup's last drive error says
  // why); 1 when every present register was sent.
  int WriteFiltersToDrive(CMC_Setup& setup);

  // The working set: floating coefficients after ComputeCoefficients, the
  // integers after Quantize.
  const BiquadCoefficients& GetCoefficients() const { return m_coefficients; }
  double GetScaleFactor() const { return m_scaleFactor; }
  void SetCoefficients(const BiquadCoefficients& coefficients, double scaleFactor = 1.0) {
    m_coefficients = coefficients;
    m_scaleFactor = scaleFactor;
  }

  // Why the last DesignFilter or EncodeFilters failed; empty after success.
  const std::string& GetLastError() const { return m_lastError; }

 private:
  struct TypeInfo {
    const char* name;
    bool offered;
  };
  // ComputeFilter giving the type it designed, -1 when it could not.
  int ComputeFilterOfType(const CMC_Setup& setup, int filter);
  // Designs filter n into the six register values of a slot.
  bool DesignRegisters(const CMC_Setup& setup, int filter, BiquadRegisters& out);

  std::array<TypeInfo, kBiquadTypeCount> m_types;
  BiquadCoefficients m_coefficients;
  double m_scaleFactor = 1.0;
  std::string m_lastError;
};
