// Controller gains from a passband and a damping, by pole placement on a
// simple model of the motor: an R-L winding for the current loop, a rigid
// mass driven by a force constant for the speed and position loops.
//
// Each design reads its inputs from the setup in base units and writes the
// scaled gains ("Kp_C_scl", ...); turning them into mantissa and shift
// registers is the loop codec's work, which the Tune buttons run right after.
// The passband is taken as an angular frequency (rad/s). The sampling periods
// are those of the registers ("CLPER", "SLPER", "PWMPER", "DSP_freq"), never
// the parameters "Ts_C" and "Ts_S".
//
// Result 1 when the gains were written. 0, writing nothing, when a name is
// missing (reported by the host; the optional "PosSpd_in_FastLoop" is looked
// up quietly), when a drive scale or period is zero or not finite, or when
// the drive data give a gain that is no finite number (a zero "R" or "Kf").
// A finite gain outside its parameter's range is written as computed and
// the setup document limits it.
#pragma once

class CMC_Setup;

enum class ControllerModel {
  CurrentPolePlacement,   // PI on the R-L winding, poles at s^2 + 2 zeta w s + w^2
  CurrentFastWinding,     // L/R <= 4 Ts_C: gains from L/R and Ts_C; the damping is not used
  Speed,                  // PI on the mass
  PositionOverSpeedLoop,  // PositionControlType 1: PI over the closed speed loop, no derivative
  PositionPid,            // PID on the mass, poles at (s + w)(s^2 + 2 zeta w s + w^2)
};

// What a design used and computed, for whoever shows it.
struct ControllerDesignResult {
  ControllerModel model = ControllerModel::CurrentPolePlacement;
  double passband_rad_s = 0.0;
  double damping = 0.0;
  // Ts_C for the current loop; for speed and position the period T of their
  // controllers (Ts_C when they run in the fast loop, else Ts_S).
  double period_s = 0.0;
  // The gains as computed, before the setup's ranges; kd only for position.
  double kp = 0.0;
  double ki = 0.0;
  double kd = 0.0;
};

// "Kp_C_scl", "Ki_C_scl" from "PB_C", "Dump_C", "R", "L",
// "MotorPhaseConnectionType".
int DesignCurrentController(CMC_Setup& setup, ControllerDesignResult* result = nullptr);
// "Kp_S_scl", "Ki_S_scl" from "PB_S", "Dump_S", "Mt", "PolePitch", "Kf".
int DesignSpeedController(CMC_Setup& setup, ControllerDesignResult* result = nullptr);
// "Kp_P_scl", "Ki_P_scl", "Kd_P_scl" from "PB_P", "Dump_P",
// "PositionControlType" and, for the PID, "Mt", "PolePitch", "Kf".
int DesignPositionController(CMC_Setup& setup, ControllerDesignResult* result = nullptr);

// The acceleration feed-forward "KFFA_scl" that gives the mass "Mt" the
// force it needs to follow the reference: the drive adds KFFA_scl times
// the reference's change of speed per Ts_S (load speed counts per Ts_S, per
// Ts_S) to the current reference (converter counts), and the force Kf i
// accelerates the mass, so KFFA_scl = K_I Mt / (Kf K_S Ts_S) with K_I the
// current scale, K_S the load speed scale and Ts_S the speed-loop period.
// NaN when a name is missing or the result is not a finite number 0 or more.
double AccelerationFeedForwardFromMass(const CMC_Setup& setup);
