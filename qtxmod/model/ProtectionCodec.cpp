#include "CodecSteps.h"

std::span<const CodecStep> ProtectionCodecSteps() { return {}; }
