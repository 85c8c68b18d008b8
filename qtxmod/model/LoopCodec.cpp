#include "CodecSteps.h"

std::span<const CodecStep> LoopCodecSteps() { return {}; }
