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

}  // namespace

Plant::Plant(const PlantParameters& parameters) : m_p(parameters) {
  const double perPhase = m_p.connection == Connection::Delta ? 1.0 / 3.0 : 1.0;
  m_r_ohm = m_p.phase_resistance_ohm * perPhase;
  m_l_H = m_p.phase_inductance_H * perPhase;
  m_x_m = std::clamp(m_p.initial_position_m, m_p.travel_min_m, m_p.travel_max_m);
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
  m_periodOverMass_s_per_kg = period_s / m_p.moving_mass_kg;
  // Each switching of a leg loses the dead time: on average the supply
  // times the dead time over the PWM period.
  m_legLoss_V = m_p.vdc_V * m_p.dead_time_s / pwmPeriod_s;
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
  StepMechanical(force_N);
  // At rest: nothing powered, nothing moving, and the outside forces held
  // by static friction or pushing the mover into the stop it lies at.
  const double outside_N = m_p.gravity_force_N;
  const bool held = std::abs(outside_N) <= m_p.coulomb_friction_N ||
                    (outside_N > 0.0 && m_x_m >= m_p.travel_max_m) || (outside_N < 0.0 && m_x_m <= m_p.travel_min_m);
  m_atRest = !powered && m_v_m_s == 0.0 && held;
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
    const Phases midI = FromAlphaBeta(m_halfDecay * m_iAlpha_A + m_halfGain_S * (idealAlpha - eAlpha),
                                      m_halfDecay * m_iBeta_A + m_halfGain_S * (idealBeta - eBeta));
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
    m_iAlpha_A = m_decay * m_iAlpha_A + m_gain_S * (vAlpha - eAlpha);
    m_iBeta_A = m_decay * m_iBeta_A + m_gain_S * (vBeta - eBeta);
    return;
  }
  // One lead open: the other two phases form one loop of twice the
  // resistance and inductance (for a delta winding too, through its
  // equivalent star), driven by the difference of their voltages and EMFs.
  const double v[3] = {motorV.a, motorV.b, motorV.c};
  const Phases e3 = FromAlphaBeta(eAlpha, eBeta);
  const double e[3] = {e3.a, e3.b, e3.c};
  const double i[3] = {motorI.a, motorI.b, motorI.c};
  const int x = (m_faults.openLead + 1) % 3, y = (m_faults.openLead + 2) % 3;
  const double loop_A =
      m_decay * i[x] + (1.0 - m_decay) * ((v[x] - v[y]) - (e[x] - e[y])) / (2.0 * m_r_ohm);
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
  if (x >= m_p.travel_max_m) {
    x = m_p.travel_max_m;
    v = 0.0;
  } else if (x <= m_p.travel_min_m) {
    x = m_p.travel_min_m;
    v = 0.0;
  }
  m_x_m = x;
  m_v_m_s = v;
  UpdateEncoder();
}

void Plant::UpdateEncoder() {
  if (m_faults.encoderMissing) return;
  const int direction = m_faults.encoderReversed ? -m_p.encoder_direction : m_p.encoder_direction;
  // The plant file bounds travel, period and bits so that this fits.
  const double counts = std::floor(direction * m_x_m / m_p.encoder_period_m * m_countsPerPeriod);
  m_encoderCount = static_cast<std::int64_t>(counts);
}


}  // namespace virtualdrive
