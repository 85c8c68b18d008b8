#include "virtualdrive/Plant.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace virtualdrive {
namespace {

constexpr double kSqrt3 = std::numbers::sqrt3;
constexpr double kInverseSqrt3 = 1.0 / std::numbers::sqrt3;
// Below this current a leg's dead-time loss fades linearly to zero, as the
// diode conduction of a real bridge does around the current's zero crossing.
constexpr double kDeadTimeBand_A = 0.02;
constexpr double kInverseDeadTimeBand_per_A = 1.0 / kDeadTimeBand_A;

double Saturate(double x) { return std::clamp(x, -1.0, 1.0); }

struct Phases {
  double a, b, c;
};

Phases FromAlphaBeta(double alpha, double beta) {
  return {alpha, -0.5 * alpha + 0.5 * kSqrt3 * beta, -0.5 * alpha - 0.5 * kSqrt3 * beta};
}

// The alpha-beta part of three phase quantities (amplitude-invariant Clarke
// transform); a common part, such as a floating star point's, drops out.
void ToAlphaBeta(const Phases& p, double& alpha, double& beta) {
  alpha = (2.0 / 3.0) * (p.a - 0.5 * (p.b + p.c));
  beta = (p.b - p.c) * kInverseSqrt3;
}

// i' = phi i + gamma u for one winding step (outputs may alias the inputs).
void Advance(const auto& step, double iAlpha, double iBeta, double uAlpha, double uBeta, double& outAlpha,
             double& outBeta) {
  const double alpha = step.phi[0][0] * iAlpha + step.phi[0][1] * iBeta + step.gamma[0][0] * uAlpha +
                       step.gamma[0][1] * uBeta;
  const double beta = step.phi[1][0] * iAlpha + step.phi[1][1] * iBeta + step.gamma[1][0] * uAlpha +
                      step.gamma[1][1] * uBeta;
  outAlpha = alpha;
  outBeta = beta;
}

}  // namespace

Plant::Plant(const PlantParameters& parameters) : m_p(parameters), m_faults(parameters.faults) {
  const double perPhase = m_p.connection == Connection::Delta ? 1.0 / 3.0 : 1.0;
  const std::array<double, 3>& scale = m_p.phase_resistance_scale;
  m_balanced = scale[0] == scale[1] && scale[1] == scale[2];
  m_r_ohm = m_p.phase_resistance_ohm * scale[0] * perPhase;
  m_l_H = m_p.phase_inductance_H * perPhase;
  m_phaseR_ohm = {m_r_ohm, m_r_ohm, m_r_ohm};
  if (!m_balanced) {
    const double a = m_p.phase_resistance_ohm * scale[0], b = m_p.phase_resistance_ohm * scale[1],
                 c = m_p.phase_resistance_ohm * scale[2];
    if (m_p.connection == Connection::Star) {
      m_phaseR_ohm = {a, b, c};
    } else {
      // Windings A-B (a), B-C (b), C-A (c) seen from the terminals: the star
      // with the same resistance between every pair of terminals.
      const double sum = a + b + c;
      m_phaseR_ohm = {a * c / sum, a * b / sum, b * c / sum};
    }
    m_r_ohm = (m_phaseR_ohm[0] + m_phaseR_ohm[1] + m_phaseR_ohm[2]) / 3.0;
    // R_ab = (2/3) D' diag(R) D with the rows of D (1, 0), (-1/2, sqrt3/2),
    // (-1/2, -sqrt3/2).
    const double ra = m_phaseR_ohm[0], rb = m_phaseR_ohm[1], rc = m_phaseR_ohm[2];
    m_rab[0] = (2.0 / 3.0) * ra + (rb + rc) / 6.0;
    m_rab[1] = (rc - rb) * 0.5 * kInverseSqrt3;
    m_rab[2] = 0.5 * (rb + rc);
  }
  m_analogueInput_V = m_p.analogue_input_V;
  m_x_m = std::clamp(m_p.initial_position_m, m_p.travel_min_m, m_p.travel_max_m);
  // A load needs a spring to ride on (the plant file insists); without one
  // the mover is rigid.
  m_twoMass = m_p.load_mass_kg > 0.0 && m_p.coupling_stiffness_N_per_m > 0.0;
  // The load starts where its share of the gravity load holds the spring.
  if (m_twoMass) m_xLoad_m = m_x_m + LoadGravity_N() / m_p.coupling_stiffness_N_per_m;
  m_countsPerPeriod = std::ldexp(1.0, m_p.encoder_interpolation_bits);
  m_maxAmplitudeSquared_V2 = m_p.vdc_V * m_p.vdc_V / 3.0;
  m_rng = m_p.noise_seed * 2654435761u + 0x9E3779B97F4A7C15ull;
  if (m_rng == 0) m_rng = 1;
  m_angleAt_m = std::nan("");
  UpdateEncoder();
}

void Plant::SetPeriod(double period_s, double pwmPeriod_s) {
  m_period_s = period_s;
  m_decay = std::exp(-m_r_ohm * period_s / m_l_H);
  m_gain_S = (1.0 - m_decay) / m_r_ohm;
  m_halfDecay = std::exp(-0.5 * m_r_ohm * period_s / m_l_H);
  m_halfGain_S = (1.0 - m_halfDecay) / m_r_ohm;
  if (!m_balanced) {
    m_step = UnbalancedStep(period_s);
    m_halfStep = UnbalancedStep(0.5 * period_s);
  }
  for (int open = 0; open < 3; ++open) {
    const double loop_ohm = m_phaseR_ohm[static_cast<std::size_t>((open + 1) % 3)] +
                            m_phaseR_ohm[static_cast<std::size_t>((open + 2) % 3)];
    m_openLoopDecay[static_cast<std::size_t>(open)] =
        m_balanced ? m_decay : std::exp(-loop_ohm * period_s / (2.0 * m_l_H));
  }
  m_periodOverMass_s_per_kg = period_s / m_p.moving_mass_kg;
  if (m_twoMass) {
    // Substeps of at most 0.05 rad of the resonance, and of at most half
    // the damper's rate (semi-implicit Euler stays stable and true there).
    const double inverseMass = 1.0 / m_p.moving_mass_kg + 1.0 / m_p.load_mass_kg;
    const double resonance_rad_s = std::sqrt(m_p.coupling_stiffness_N_per_m * inverseMass);
    const double damping_per_s = m_p.coupling_damping_N_s_per_m * inverseMass;
    const double wanted = std::ceil(std::max(resonance_rad_s * period_s / 0.05, damping_per_s * period_s / 0.5));
    m_couplingSubsteps = std::isfinite(wanted) ? static_cast<int>(std::clamp(wanted, 1.0, 10000.0)) : 1;
  }
  // Each switching of a leg loses the dead time: on average the supply
  // times the dead time over the PWM period.
  m_legLoss_V = m_p.vdc_V * m_p.dead_time_s / pwmPeriod_s;
}

// exp(-R_ab t / L) and R_ab^-1 (1 - exp(-R_ab t / L)) through the
// eigenvalues of the symmetric R_ab (both positive: every phase has
// resistance) and the angle of its eigenvectors.
Plant::WindingStep Plant::UnbalancedStep(double time_s) const {
  const double a = m_rab[0], b = m_rab[1], d = m_rab[2];
  const double mean = 0.5 * (a + d), radius = std::hypot(0.5 * (a - d), b);
  const double theta = 0.5 * std::atan2(b, 0.5 * (a - d));
  const double c = std::cos(theta), s = std::sin(theta);
  const double lambda[2] = {mean + radius, mean - radius};
  double f[2], g[2];
  for (int k = 0; k < 2; ++k) {
    const double x = -lambda[k] * time_s / m_l_H;
    f[k] = std::exp(x);
    g[k] = -std::expm1(x) / lambda[k];
  }
  WindingStep step{};
  step.phi[0][0] = c * c * f[0] + s * s * f[1];
  step.phi[1][1] = s * s * f[0] + c * c * f[1];
  step.phi[0][1] = step.phi[1][0] = c * s * (f[0] - f[1]);
  step.gamma[0][0] = c * c * g[0] + s * s * g[1];
  step.gamma[1][1] = s * s * g[0] + c * c * g[1];
  step.gamma[0][1] = step.gamma[1][0] = c * s * (g[0] - g[1]);
  return step;
}

void Plant::MoveByHand(double distance_m, double duration_s) {
  if (!std::isfinite(distance_m) || !std::isfinite(duration_s)) return;
  m_handFrom_m = m_x_m;
  m_handDistance_m = distance_m;
  m_handDuration_s = std::max(0.0, duration_s);
  m_handElapsed_s = 0.0;
  m_atRest = false;
}

// One period of the hand's push; false when no hand is on the mover.
bool Plant::StepHand() {
  if (!HandMoving()) return false;
  m_handElapsed_s += m_period_s;
  const double share = m_handDuration_s > 0.0 ? std::min(1.0, m_handElapsed_s / m_handDuration_s) : 1.0;
  const double wanted = m_handFrom_m + share * m_handDistance_m;
  const double x = std::clamp(wanted, m_p.travel_min_m, m_p.travel_max_m);
  // The mover has the hand's speed until the push ends or a stop holds it.
  m_v_m_s = share < 1.0 && x == wanted ? m_handDistance_m / m_handDuration_s : 0.0;
  if (m_twoMass) {
    // The hand holds the carriage and what rides on it alike.
    m_xLoad_m += x - m_x_m;
    m_vLoad_m_s = m_v_m_s;
  }
  m_x_m = x;
  if (share >= 1.0) m_handDuration_s = -1.0;
  UpdateEncoder();
  return true;
}

double Plant::MotorPhaseCurrent_A(int phase) const {
  const Phases i = FromAlphaBeta(m_iAlpha_A, m_iBeta_A);
  return phase == 0 ? i.a : phase == 1 ? i.b : i.c;
}

void Plant::Step(double vAlpha_V, double vBeta_V, bool powered) {
  // Space-vector modulation: the bridge gives a phase voltage amplitude of
  // at most Vdc / sqrt(3) (the line-to-line amplitude is the supply); a
  // longer vector is shortened, keeping its direction.
  const double squared = vAlpha_V * vAlpha_V + vBeta_V * vBeta_V;
  if (squared > m_maxAmplitudeSquared_V2) {
    const double shorten = std::sqrt(m_maxAmplitudeSquared_V2 / squared);
    vAlpha_V *= shorten;
    vBeta_V *= shorten;
  }
  if (powered) {
    StepElectrical(vAlpha_V, vBeta_V);
  } else {
    m_iAlpha_A = 0.0;
    m_iBeta_A = 0.0;
  }
  double force_N = 0.0;
  if (m_iAlpha_A != 0.0 || m_iBeta_A != 0.0) {
    UpdateAngle();
    force_N = m_p.force_constant_N_per_A * (-m_iAlpha_A * m_sin + m_iBeta_A * m_cos);
  }
  if (!StepHand()) {
    if (m_twoMass) {
      StepTwoMass(force_N, powered);
    } else {
      StepMechanical(force_N);
    }
  }
  // At rest: nothing powered, nothing moving, and the outside forces held
  // by static friction or pushing the mover into the stop it lies at.
  const double outside_N = m_p.gravity_force_N;
  const bool held = std::abs(outside_N) <= m_p.coulomb_friction_N ||
                    (outside_N > 0.0 && m_x_m >= m_p.travel_max_m) || (outside_N < 0.0 && m_x_m <= m_p.travel_min_m);
  m_atRest = !powered && m_v_m_s == 0.0 && held && (!m_twoMass || m_vLoad_m_s == 0.0);
}

// The motor's part as StepMechanical moves the rigid mover, with the
// coupling's force on it, and the load on the coupling alone; the motor
// alone meets friction and the stops.
void Plant::StepTwoMass(double force_N, bool powered) {
  const double m1 = m_p.moving_mass_kg, m2 = m_p.load_mass_kg;
  const double k = m_p.coupling_stiffness_N_per_m, c = m_p.coupling_damping_N_s_per_m;
  const double motorGravity_N = m_p.gravity_force_N - LoadGravity_N();
  const double dt = m_period_s / m_couplingSubsteps;
  double x = m_x_m, v = m_v_m_s, xl = m_xLoad_m, vl = m_vLoad_m_s;
  for (int step = 0; step < m_couplingSubsteps; ++step) {
    const double coupling_N = k * (x - xl) + c * (v - vl);
    const double driving_N = force_N + motorGravity_N - coupling_N - m_p.viscous_friction_N_s_per_m * v;
    if (v == 0.0) {
      if (std::abs(driving_N) > m_p.coulomb_friction_N)
        v = (driving_N - std::copysign(m_p.coulomb_friction_N, driving_N)) * dt / m1;
    } else {
      const double next = v + (driving_N - std::copysign(m_p.coulomb_friction_N, v)) * dt / m1;
      v = (next > 0.0) != (v > 0.0) ? 0.0 : next;
    }
    vl += (coupling_N + LoadGravity_N()) * dt / m2;
    x += v * dt;
    xl += vl * dt;
    StopAtTravelEnds(x, v);
  }
  // A load that has rung down on a carriage friction holds: its last
  // nanometres and nanometres per second are below anything a sensor sees,
  // and settling it lets an idle drive rest.
  const double rest_m = x + LoadGravity_N() / k;
  if (!powered && v == 0.0 && std::abs(vl) < 1e-9 && std::abs(xl - rest_m) < 1e-9) {
    vl = 0.0;
    xl = rest_m;
  }
  m_x_m = x;
  m_v_m_s = v;
  m_xLoad_m = xl;
  m_vLoad_m_s = vl;
  UpdateEncoder();
}

// The electrical angle of the mover's flux, recomputed only when it moved.
void Plant::UpdateAngle() {
  if (m_x_m == m_angleAt_m) return;
  const double angle = 2.0 * std::numbers::pi * m_x_m / m_p.pole_pitch_m;
  m_sin = std::sin(angle);
  m_cos = std::cos(angle);
  m_angleAt_m = m_x_m;
}

void Plant::StepElectrical(double vAlpha_V, double vBeta_V) {
  // Back-EMF of the motor in its own alpha-beta frame: 2/3 of Kf times the
  // speed along the q axis, so that the electrical power 3/2 e.i equals F v.
  double eAlpha = 0.0, eBeta = 0.0;
  if (m_v_m_s != 0.0) {
    UpdateAngle();
    const double emf = (2.0 / 3.0) * m_p.force_constant_N_per_A * m_v_m_s;
    eAlpha = -emf * m_sin;
    eBeta = emf * m_cos;
  }
  // Leg voltages of the bridge, less each leg's dead-time loss, which
  // follows the sign of the current the leg carries: taken at mid-period,
  // from the current the winding would carry then without the loss (the
  // current at the start would lag it by half a period).
  const Phases motorI = FromAlphaBeta(m_iAlpha_A, m_iBeta_A);
  const bool swapped = m_faults.swappedPhases;
  Phases leg = FromAlphaBeta(vAlpha_V, vBeta_V);
  if (m_legLoss_V != 0.0) {
    double idealAlpha = vAlpha_V, idealBeta = vBeta_V;  // the motor's voltages without the loss
    if (swapped) ToAlphaBeta({leg.b, leg.a, leg.c}, idealAlpha, idealBeta);
    double midAlpha = 0.0, midBeta = 0.0;
    if (m_balanced) {
      midAlpha = m_halfDecay * m_iAlpha_A + m_halfGain_S * (idealAlpha - eAlpha);
      midBeta = m_halfDecay * m_iBeta_A + m_halfGain_S * (idealBeta - eBeta);
    } else {
      Advance(m_halfStep, m_iAlpha_A, m_iBeta_A, idealAlpha - eAlpha, idealBeta - eBeta, midAlpha, midBeta);
    }
    const Phases midI = FromAlphaBeta(midAlpha, midBeta);
    const Phases legI = swapped ? Phases{midI.b, midI.a, midI.c} : midI;
    leg.a -= m_legLoss_V * Saturate(legI.a * kInverseDeadTimeBand_per_A);
    leg.b -= m_legLoss_V * Saturate(legI.b * kInverseDeadTimeBand_per_A);
    leg.c -= m_legLoss_V * Saturate(legI.c * kInverseDeadTimeBand_per_A);
  }
  const Phases motorV = swapped ? Phases{leg.b, leg.a, leg.c} : leg;

  if (m_faults.openLead < 0 || m_faults.openLead > 2) {
    // The star point floats: only the alpha-beta part of the phase voltages
    // drives current.
    double vAlpha = 0.0, vBeta = 0.0;
    ToAlphaBeta(motorV, vAlpha, vBeta);
    if (m_balanced) {
      m_iAlpha_A = m_decay * m_iAlpha_A + m_gain_S * (vAlpha - eAlpha);
      m_iBeta_A = m_decay * m_iBeta_A + m_gain_S * (vBeta - eBeta);
    } else {
      Advance(m_step, m_iAlpha_A, m_iBeta_A, vAlpha - eAlpha, vBeta - eBeta, m_iAlpha_A, m_iBeta_A);
    }
    return;
  }
  // One lead open: the other two phases form one loop of their two
  // resistances and twice the inductance (for a delta winding too, through
  // its equivalent star), driven by the difference of their voltages and EMFs.
  const double v[3] = {motorV.a, motorV.b, motorV.c};
  const Phases e3 = FromAlphaBeta(eAlpha, eBeta);
  const double e[3] = {e3.a, e3.b, e3.c};
  const double i[3] = {motorI.a, motorI.b, motorI.c};
  const int x = (m_faults.openLead + 1) % 3, y = (m_faults.openLead + 2) % 3;
  const double decay = m_openLoopDecay[static_cast<std::size_t>(m_faults.openLead)];
  const double loop_A = decay * i[x] + (1.0 - decay) * ((v[x] - v[y]) - (e[x] - e[y])) /
                                           (m_phaseR_ohm[static_cast<std::size_t>(x)] +
                                            m_phaseR_ohm[static_cast<std::size_t>(y)]);
  double phase[3] = {0.0, 0.0, 0.0};
  phase[x] = loop_A;
  phase[y] = -loop_A;
  m_iAlpha_A = (2.0 / 3.0) * (phase[0] - 0.5 * (phase[1] + phase[2]));
  m_iBeta_A = (phase[1] - phase[2]) / kSqrt3;
}

void Plant::StepMechanical(double force_N) {
  const double driving_N = force_N + m_p.gravity_force_N - m_p.viscous_friction_N_s_per_m * m_v_m_s;
  double v = m_v_m_s;
  if (v == 0.0) {
    // Stiction: the Coulomb force holds the mover until it is exceeded.
    if (std::abs(driving_N) <= m_p.coulomb_friction_N) return;
    const double net = driving_N - std::copysign(m_p.coulomb_friction_N, driving_N);
    v = net * m_periodOverMass_s_per_kg;
  } else {
    const double net = driving_N - std::copysign(m_p.coulomb_friction_N, v);
    const double next = v + net * m_periodOverMass_s_per_kg;
    v = (next > 0.0) != (v > 0.0) ? 0.0 : next;  // friction stops, never reverses
  }
  double x = m_x_m + v * m_period_s;
  StopAtTravelEnds(x, v);
  m_x_m = x;
  m_v_m_s = v;
  UpdateEncoder();
}

void Plant::StopAtTravelEnds(double& x_m, double& v_m_s) const {
  if (x_m >= m_p.travel_max_m) {
    x_m = m_p.travel_max_m;
    v_m_s = 0.0;
  } else if (x_m <= m_p.travel_min_m) {
    x_m = m_p.travel_min_m;
    v_m_s = 0.0;
  }
}

void Plant::UpdateEncoder() {
  if (m_faults.encoderMissing) return;
  const int direction = m_faults.encoderReversed ? -m_p.encoder_direction : m_p.encoder_direction;
  // The plant file bounds travel, period and bits so that this fits; should
  // the position ever stop being a number, the count holds its last value
  // (an encoder that loses its signal) rather than converting a NaN.
  const double read_m = m_p.encoder_on_load ? LoadPosition_m() : m_x_m;
  const double counts = std::floor(direction * read_m / m_p.encoder_period_m * m_countsPerPeriod);
  if (!(std::fabs(counts) < 9.0e18)) return;
  m_encoderCount = static_cast<std::int64_t>(counts);
}


}  // namespace virtualdrive
