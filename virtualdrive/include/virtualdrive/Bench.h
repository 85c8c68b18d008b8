// The scripted user's bench actions ("analogue VOLTS", "move MM [MS]") on a
// virtual drive: the host installs this on the script run wherever it
// connects one, so that a script can set the analogue reference input and
// push the mover by hand while a test dialog watches.
#pragma once

#include "axcore/HeadlessPlatform.h"
#include "virtualdrive/VirtualDrive.h"

namespace virtualdrive {

// Acts on `drive`, which must outlive the handler.
axcore::BenchHandler BenchHandlerFor(VirtualDrive& drive);

}  // namespace virtualdrive
