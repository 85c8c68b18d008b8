// The true motor behind the virtual drive: a three-phase linear synchronous
// motor on a power stage, with its current and voltage sensing and its
// sine-cosine encoder.
//
// Electrical model. A delta winding is taken as its equivalent star (a third
// of the winding resistance and inductance per phase), so both connections
// run the same per-phase equations in the stationary alpha-beta frame with
// amplitude-invariant transforms: the phase-A current of a current vector of
// amplitude I is I, phase B then carries -I/2. Over one period the leg
// voltages are held (zero-order hold of the PWM) and the back-EMF is taken
// at its value at the start of the period; the R-L winding is then solved
// exactly, i(t+T) = a i(t) + (1 - a) (v - e) / R with a = exp(-R T / L),
// which stays exact for any ratio of T to L/R. Phases of unequal resistance
// (an unbalanced winding; a delta through the star equivalent of its
// winding resistances) keep the star point floating, so the currents still
// sum to zero and stay an alpha-beta vector, but the resistance becomes a
// symmetric 2x2 matrix R_ab = (2/3) D' diag(Ra, Rb, Rc) D (D the inverse
// Clarke transform): the same exact solution with a = exp(-R_ab T / L) from
// its eigenvalues. A voltage along phase A then no longer gives phase B
// minus half of phase A's current. The bridge modulates space
// vectors: it applies a phase voltage amplitude of at most Vdc / sqrt(3),
// and each leg loses its dead time with the sign of its current at
// mid-period.
//
// Mechanics: force constant times the q-axis current, viscous and Coulomb
// friction (the Coulomb force holds the mover while the other forces stay
// below it), a constant gravity load, hard stops at the ends of the travel
// with a limit switch just inside each. The mechanical time constants are
// thousands of periods long, so a semi-implicit Euler step per period is
// ample there.
//
// Two masses: with a load mass the moving mass is the motor's part (the
// coil carriage the force acts on, with the friction and the stops) and the
// load rides on it through a spring and damper (a carriage, a frame, a cable
// chain). The coupling rings at the resonance w_r = sqrt(k (1/m_m + 1/m_l))
// and, seen from the motor, has an antiresonance at w_a = sqrt(k / m_l)
// where the load holds the motor still. The gravity load divides between
// the masses as their weights do. The coupling is stepped semi-implicitly
// in substeps of at most a twentieth of a radian of the resonance, which
// keeps its frequency within 0.02 % of the true one.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace virtualdrive {

enum class Connection { Star, Delta };

// Wiring and encoder faults of the plant.
struct PlantFaults {
  // A motor lead that is not connected: 0 A, 1 B, 2 C; -1 none.
  int openLead = -1;
  // Motor phases A and B exchanged at the drive's outputs. The drive's
  // current sensors sit in the motor leads, so they still measure motor
  // phases A and B: the measured current no longer belongs to the leg that
  // drives it.
  bool swappedPhases = false;
  bool encoderReversed = false;
  // The encoder cable is off: the interpolator sees no signal and the count
  // stays where it was.
  bool encoderMissing = false;
};

// What a plant file holds; every field in SI units, named with its unit.
struct PlantParameters {
  double vdc_V = 47.2;                    // supply voltage of the power stage
  double phase_resistance_ohm = 4.45;     // resistance of one winding
  double phase_inductance_H = 0.0038;     // inductance of one winding
  Connection connection = Connection::Star;
  double force_constant_N_per_A = 24.3;   // force per ampere of q-axis current amplitude
  double pole_pitch_m = 0.032;            // travel of one electrical period
  double moving_mass_kg = 0.58;
  double viscous_friction_N_s_per_m = 6.0;
  double coulomb_friction_N = 2.5;
  double gravity_force_N = 0.0;           // constant force along the travel (negative pulls back)
  double travel_min_m = -0.1;             // hard stops; each limit switch acts
  double travel_max_m = 0.5;              // limit_switch_margin_m inside its stop
  double limit_switch_margin_m = 0.002;
  int limit_switch_active_level = 0;     // input level (0 low, 1 high) while the mover is on a switch
  double initial_position_m = 0.0123;
  double encoder_period_m = 20e-6;        // one sine-cosine period
  int encoder_interpolation_bits = 8;     // 2^bits counts per period
  int encoder_direction = 1;              // +1 counts up with positive travel, -1 down
  double dead_time_s = 0.25e-6;           // effective dead time of each inverter leg
  // Current-loop periods between sampling the currents and the bridge
  // applying the voltage computed from them: 1 for a drive that samples,
  // computes and loads the new duty cycle at the next period's start; 0
  // (an ideal drive that applies at once) for comparison.
  int computation_delay_periods = 1;
  double current_noise_A = 0.0;           // standard deviation of the current sensing noise
  double voltage_noise_V = 0.0;           // standard deviation of the supply sensing noise
  std::uint64_t noise_seed = 1;
  // Each phase's resistance is phase_resistance_ohm times its factor (A, B,
  // C; for a delta the windings A-B, B-C, C-A): unequal factors make an
  // unbalanced winding.
  std::array<double, 3> phase_resistance_scale{1.0, 1.0, 1.0};
  double analogue_input_V = 0.0;          // voltage at the drive's analogue reference input
  // Two-mass mechanics: 0 load mass is the rigid mover of moving_mass_kg.
  double load_mass_kg = 0.0;
  double coupling_stiffness_N_per_m = 0.0;
  double coupling_damping_N_s_per_m = 0.0;
  bool encoder_on_load = false;           // the encoder reads the load's position, else the motor's
  PlantFaults faults;                     // the wiring as the plant starts
};

class Plant {
 public:
  explicit Plant(const PlantParameters& parameters);

  const PlantParameters& Parameters() const { return m_p; }
  PlantFaults& Faults() { return m_faults; }
  const PlantFaults& Faults() const { return m_faults; }

  // The period the power stage holds each voltage (the current-loop period)
  // and the PWM period; precomputes the exponential of the exact solution.
  void SetPeriod(double period_s, double pwmPeriod_s);
  double Period_s() const { return m_period_s; }

  // One period with the drive's voltage vector (amplitudes of the phase
  // voltages, V, in the drive's alpha-beta frame) held by the power stage.
  // With `powered` false the bridge is off: the winding current dies out
  // through the freewheel diodes (taken as instantaneous) and the mover
  // coasts.
  void Step(double vAlpha_V, double vBeta_V, bool powered);

  // Sensor readings, without converter quantisation, with noise (inline:
  // the drive reads them every period).
  void SensedCurrents(double& phaseA_A, double& phaseB_A) {
    phaseA_A = m_iAlpha_A + Noise(m_p.current_noise_A);
    phaseB_A = -0.5 * m_iAlpha_A + 0.5 * 1.7320508075688772 * m_iBeta_A + Noise(m_p.current_noise_A);
  }
  double SensedSupply_V() { return m_p.vdc_V + Noise(m_p.voltage_noise_V); }

  // Encoder count (interpolated, with direction and faults).
  std::int64_t EncoderCount() const { return m_encoderCount; }
  bool PositiveLimitSwitch() const { return m_x_m >= m_p.travel_max_m - m_p.limit_switch_margin_m; }
  bool NegativeLimitSwitch() const { return m_x_m <= m_p.travel_min_m + m_p.limit_switch_margin_m; }
  // The electrical level of each limit switch input: the switch's active
  // level while the mover is on it, the other level elsewhere.
  bool PositiveLimitInputHigh() const { return PositiveLimitSwitch() == (m_p.limit_switch_active_level != 0); }
  bool NegativeLimitInputHigh() const { return NegativeLimitSwitch() == (m_p.limit_switch_active_level != 0); }

  // The motor's part (the whole mover when rigid).
  double Position_m() const { return m_x_m; }
  double Speed_m_s() const { return m_v_m_s; }
  // The load's; the motor's on a rigid mover.
  double LoadPosition_m() const { return m_twoMass ? m_xLoad_m : m_x_m; }
  double LoadSpeed_m_s() const { return m_twoMass ? m_vLoad_m_s : m_v_m_s; }
  // Currents of motor phases A, B, C, A.
  double MotorPhaseCurrent_A(int phase) const;
  // True when nothing is powered or moves and static friction or a stop
  // holds the outside forces: a step changes nothing.
  bool AtRest() const { return m_atRest && !HandMoving(); }

  // The user pushes the mover by `distance_m` at a steady speed over
  // `duration_s` from the next step on (0 s: in one period). A hand is
  // stronger than anything on the axis: the mover follows it, against the
  // motor's force if the bridge is on, until a hard stop holds it; when the
  // hand lets go the mover is at rest where it left it. A new push starts
  // from where the mover is.
  void MoveByHand(double distance_m, double duration_s);
  bool HandMoving() const { return m_handDuration_s >= 0.0; }

  // The voltage at the analogue reference input, and as the drive's input
  // stage senses it (with noise of `sigma_V`).
  void SetAnalogueInput_V(double volts) { m_analogueInput_V = volts; }
  double SensedAnalogueInput_V(double sigma_V) { return m_analogueInput_V + Noise(sigma_V); }

 private:
  // The exact step of the winding over a time: i' = phi i + gamma (v - e),
  // both symmetric 2x2 matrices in the alpha-beta frame.
  struct WindingStep {
    double phi[2][2];
    double gamma[2][2];
  };
  WindingStep UnbalancedStep(double time_s) const;
  void StepElectrical(double vAlpha_V, double vBeta_V);
  void StepMechanical(double force_N);
  // The mover meets a mechanical end of its travel: it stops there.
  void StopAtTravelEnds(double& x_m, double& v_m_s) const;
  void StepTwoMass(double force_N, bool powered);
  // The load's share of the gravity load (its weight's).
  double LoadGravity_N() const {
    return m_p.gravity_force_N * m_p.load_mass_kg / (m_p.moving_mass_kg + m_p.load_mass_kg);
  }
  bool StepHand();
  void UpdateEncoder();
  void UpdateAngle();
  // Sum of two uniform deviates, both halves of one xorshift64* draw: a
  // triangular deviate of the given standard deviation, close enough to
  // normal for sensing noise, and cheap enough for every period.
  double Noise(double sigma) {
    if (sigma == 0.0) return 0.0;
    m_rng ^= m_rng >> 12;
    m_rng ^= m_rng << 25;
    m_rng ^= m_rng >> 27;
    const std::uint64_t r = m_rng * 2685821657736338717ull;
    // Both halves are below 2^32: converted through a signed integer, which
    // the processor does in one instruction.
    const double sum = static_cast<double>(static_cast<std::int64_t>(r >> 32)) * 0x1.0p-32 +
                       static_cast<double>(static_cast<std::int64_t>(r & 0xFFFFFFFFu)) * 0x1.0p-32 - 1.0;
    return sum * 2.449489742783178 * sigma;  // sqrt(6)
  }

  PlantParameters m_p;
  PlantFaults m_faults;
  double m_r_ohm = 0.0;  // per phase of the equivalent star
  double m_l_H = 0.0;
  // Per phase of the equivalent star, A, B, C; when they differ the winding
  // steps through the resistance matrix R_ab {{a, b}, {b, d}}.
  std::array<double, 3> m_phaseR_ohm{};
  bool m_balanced = true;
  double m_rab[3] = {0.0, 0.0, 0.0};  // a, b, d
  WindingStep m_step{}, m_halfStep{};
  // With one lead open, exp(-(Rx + Ry) T / 2L) of the loop through the other two.
  std::array<double, 3> m_openLoopDecay{};
  double m_period_s = 0.0;
  double m_decay = 0.0;   // exp(-R T / L)
  double m_gain_S = 0.0;  // (1 - exp(-R T / L)) / R
  double m_halfDecay = 0.0, m_halfGain_S = 0.0;  // the same over half a period
  double m_maxAmplitudeSquared_V2 = 0.0;         // (Vdc / sqrt(3))^2
  double m_periodOverMass_s_per_kg = 0.0;
  double m_countsPerPeriod = 256.0;  // 2^encoder_interpolation_bits
  double m_legLoss_V = 0.0;
  // Motor alpha-beta currents (amplitude-invariant).
  double m_iAlpha_A = 0.0;
  double m_iBeta_A = 0.0;
  double m_x_m = 0.0;
  double m_v_m_s = 0.0;
  // The load of two-mass mechanics, and the coupling's substeps per period.
  bool m_twoMass = false;
  double m_xLoad_m = 0.0, m_vLoad_m_s = 0.0;
  int m_couplingSubsteps = 1;
  double m_sin = 0.0, m_cos = 1.0, m_angleAt_m = 0.0;  // electrical angle cache
  bool m_atRest = false;
  // The hand: where its push started, how far and how long it goes, and the
  // time into it; a negative duration when no hand is on the mover.
  double m_handFrom_m = 0.0, m_handDistance_m = 0.0, m_handDuration_s = -1.0, m_handElapsed_s = 0.0;
  double m_analogueInput_V = 0.0;
  std::int64_t m_encoderCount = 0;
  std::uint64_t m_rng = 0;
};

}  // namespace virtualdrive
