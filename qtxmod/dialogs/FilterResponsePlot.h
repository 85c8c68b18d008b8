// What the drive's biquad filters do, as the Filters dialog plots it while
// the user edits them: the magnitude and the phase of each filter that is on
// and that the drive runs (a location of 0, 1 or 2), and of all of them in
// series when more than one is, over frequency up to the speed loop's
// Nyquist frequency. Each is drawn twice: as the drive's quantised
// registers will run it (solid) and as designed (dashed).
//
// The points are those of `axhost filters` (FilterResponseFrequencies), with
// nine more inside each of its intervals for a smooth curve; the registers
// are those register encoding will write, designed without writing them.
#pragma once

#include <string>

namespace axcore {
class PlotDocument;
}
class CMC_Setup;

// Fills both plots (axes, curves and the Nyquist marker) from the setup.
// "" when every filter that is on could be shown, else why one could not
// (that filter is left out; nothing is drawn without a speed-loop period).
std::string DrawFilterResponse(const CMC_Setup& setup, axcore::PlotDocument& magnitude,
                               axcore::PlotDocument& phase);
