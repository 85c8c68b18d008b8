#include "CodecSteps.h"

std::span<const CodecStep> ConfigCodecSteps() { return {}; }
