#include "MySetupDlg.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "CodecDrivers.h"
#include "CodecSteps.h"
#include "FeatureProbes.h"
#include "Limits.h"
#include "axcore/Names.h"
#include "axcore/Platform.h"
#include "axcore/Setup.h"

namespace {

// One register step of a recomputation, by the parameter it writes.
struct Step {
  CodecDirection direction;
  const char* writes;
};

constexpr CodecDirection kEncode = CodecDirection::Encode;
constexpr CodecDirection kDecode = CodecDirection::Decode;

// What a changed gain re-encodes and decodes. Each encode computes its
// register from the gain alone; the decode at the end reads the gain back
// from the registers as the drive holds them (the mantissa rounded by its
// integer register), which also re-sets the gain's range.
struct GainRow {
  const char* changed;
  Step steps[4];  // a row of three ends with an empty step
};

const GainRow kGainRows[] = {
    {"Kp_C_scl", {{kEncode, "KPI"}, {kEncode, "SFTKPI"}, {kDecode, "Kp_C_scl"}}},
    {"Ki_C_scl", {{kEncode, "KII"}, {kEncode, "SFTKII"}, {kDecode, "Ki_C_scl"}}},
    {"Ki_P_scl", {{kEncode, "SFTKIP"}, {kEncode, "KIP"}, {kDecode, "Ki_P_scl"}}},
    {"Kp_P_scl", {{kEncode, "SFTKPP"}, {kEncode, "KPP"}, {kDecode, "Kp_P_scl"}}},
    {"Kd_P_scl", {{kEncode, "SFTKDP"}, {kEncode, "KDP"}, {kDecode, "Kd_P_scl"}}},
    {"Ki_S_scl", {{kEncode, "SFTKIS"}, {kEncode, "KIS"}, {kDecode, "Ki_S_scl"}}},
    {"Kp_S_scl", {{kEncode, "SFTKPS"}, {kEncode, "KPS"}, {kDecode, "Kp_S_scl"}}},
    // The acceleration feedforward's shift is split over two registers.
    {"KFFA_scl", {{kEncode, "SFTKFF"}, {kEncode, "KFFA"}, {kEncode, "SFTAFFW"}, {kDecode, "KFFA_scl"}}},
    {"KFFS_scl", {{kEncode, "SFTSFFW"}, {kEncode, "KFFS"}, {kDecode, "KFFS_scl"}}},
};

void RunSteps(CMC_Setup& setup, const Step (&steps)[4]) {
  // A step that lacks a parameter writes nothing; the others still run.
  for (const Step& step : steps) {
    if (step.writes == nullptr) break;
    if (step.direction == kEncode)
      RunEncodeStep(setup, step.writes);
    else
      RunDecodeStep(setup, step.writes);
  }
}

bool Is(std::string_view name, std::string_view candidate) { return axcore::EqualsIgnoreCase(name, candidate); }

}  // namespace

void CMySetupDlg::OnChangedParameterValue(const char* name) {
  const std::string_view changed = name != nullptr ? std::string_view(name) : std::string_view();
  CMC_Setup& setup = Setup();
  bool matched = false;
  for (const GainRow& row : kGainRows) {
    if (!Is(changed, row.changed)) continue;
    RunSteps(setup, row.steps);
    matched = true;
    break;
  }
  if (!matched) {
    if (Is(changed, "PolePitch")) {
      // The encoder period cannot exceed the pole pitch it divides.
      SetEncResLimits(setup);
      RefreshParameterControls("EncRes");
    } else if ((Is(changed, "In") || Is(changed, "InPS")) && HasAngleController(setup)) {
      // The motionless start's current stays within both nominal currents.
      SetMaxCurrentLimits(setup);
      RefreshParameterControls("MAX_CURRENT");
    }
  }
  CMC_EditSetupDlg::OnChangedParameterValue(name);
}

void CMySetupDlg::PrepareChild() {
  EncodeRegisters(Setup());
  DecodeRegisters(Setup());
}

void CMySetupDlg::ReloadAfterChild() {
  EncodeRegisters(Setup());
  DecodeRegisters(Setup());
  RefreshAllParameters(0);
  UpdateData(false);
}

