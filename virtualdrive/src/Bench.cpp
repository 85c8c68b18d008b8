#include "virtualdrive/Bench.h"

namespace virtualdrive {

axcore::BenchHandler BenchHandlerFor(VirtualDrive& drive) {
  return [&drive](const axcore::BenchAction& action, std::string&) {
    if (action.kind == axcore::BenchAction::Kind::AnalogueInput) {
      drive.SetAnalogueInput_V(action.volts);
    } else {
      drive.MoveByHand(action.distance_m, action.duration_s);
    }
    return true;
  };
}

}  // namespace virtualdrive
