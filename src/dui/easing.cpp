#include "dui/easing.h"

#include <cmath>
#include <map>

namespace dui {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBack = 1.70158;
constexpr double kBackX = 3.40316;
constexpr double kBackXX = kBack * 3;  // 5.1047400000000005, as the skins expect

// The bouncing curve: four parabolic arcs, B(0) = 0 and B(1) = 1.
double bounce(double y) {
  if (y < 1 / 2.75) return 7.5625 * y * y;
  if (y < 2 / 2.75) {
    y -= 1.5 / 2.75;
    return 7.5625 * y * y + 0.75;
  }
  if (y < 2.5 / 2.75) {
    y -= 2.25 / 2.75;
    return 7.5625 * y * y + 0.9375;
  }
  y -= 2.625 / 2.75;
  return 7.5625 * y * y + 0.984375;
}

// Curves of x = t / d in [0, 1]; the in-out forms use e = t / (d / 2).
using shape = double (*)(double t, double b, double c, double d);

double linear(double t, double b, double c, double d) { return c * (t / d) + b; }
double quad_in(double t, double b, double c, double d) {
  const double x = t / d;
  return c * x * x + b;
}
double quad_out(double t, double b, double c, double d) {
  const double x = t / d;
  return b - c * x * (x - 2);
}
double quad_in_out(double t, double b, double c, double d) {
  const double e = t / (d / 2);
  if (e < 1) return b + c / 2 * e * e;
  return b - c / 2 * ((e - 1) * (e - 3) - 1);
}
double cubic_in(double t, double b, double c, double d) {
  const double x = t / d;
  return c * x * x * x + b;
}
double cubic_out(double t, double b, double c, double d) {
  const double x = t / d - 1;
  return c * (x * x * x + 1) + b;
}
double cubic_in_out(double t, double b, double c, double d) {
  double e = t / (d / 2);
  if (e < 1) return b + c / 2 * e * e * e;
  e -= 2;
  return b + c / 2 * (e * e * e + 2);
}
double quart_in(double t, double b, double c, double d) {
  const double x = t / d;
  return c * x * x * x * x + b;
}
double quart_out(double t, double b, double c, double d) {
  const double x = t / d - 1;
  return b - c * (x * x * x * x - 1);
}
double quart_in_out(double t, double b, double c, double d) {
  double e = t / (d / 2);
  if (e < 1) return b + c / 2 * e * e * e * e;
  e -= 2;
  return b - c / 2 * (e * e * e * e - 2);
}
double quint_in(double t, double b, double c, double d) {
  const double x = t / d;
  return c * x * x * x * x * x + b;
}
double quint_out(double t, double b, double c, double d) {
  const double x = t / d - 1;
  return c * (x * x * x * x * x + 1) + b;
}
double quint_in_out(double t, double b, double c, double d) {
  double e = t / (d / 2);
  if (e < 1) return b + c / 2 * e * e * e * e * e;
  e -= 2;
  return b + c / 2 * (e * e * e * e * e + 2);
}
double sine_in(double t, double b, double c, double d) {
  return c - c * std::cos(t / d * (kPi / 2)) + b;
}
double sine_out(double t, double b, double c, double d) {
  return c * std::sin(t / d * (kPi / 2)) + b;
}
double sine_in_out(double t, double b, double c, double d) {
  return b - c / 2 * (std::cos(kPi * t / d) - 1);
}
double expo_in(double t, double b, double c, double d) {
  if (t == 0) return b;
  return c * std::pow(2, 10 * (t / d - 1)) + b;
}
double expo_out(double t, double b, double c, double d) {
  if (t == d) return b + c;
  return c * (1 - std::pow(2, -10 * t / d)) + b;
}
double expo_in_out(double t, double b, double c, double d) {
  if (t == 0) return b;
  if (t == d) return b + c;
  const double e = t / (d / 2);
  if (e < 1) return b + c / 2 * std::pow(2, 10 * (e - 1));
  return b + c / 2 * (2 - std::pow(2, -10 * (e - 1)));
}
double circ_in(double t, double b, double c, double d) {
  const double x = t / d;
  return b - c * (std::sqrt(1 - x * x) - 1);
}
double circ_out(double t, double b, double c, double d) {
  const double x = t / d - 1;
  return c * std::sqrt(1 - x * x) + b;
}
double circ_in_out(double t, double b, double c, double d) {
  double e = t / (d / 2);
  if (e < 1) return b - c / 2 * (std::sqrt(1 - e * e) - 1);
  e -= 2;
  return b + c / 2 * (std::sqrt(1 - e * e) + 1);
}
double elastic_in(double t, double b, double c, double d) {
  if (t == 0) return b;
  const double x = t / d;
  if (x == 1) return b + c;
  const double p = d * 0.3, q = p / 4;
  return b - c * std::pow(2, 10 * (x - 1)) * std::sin((d * (x - 1) - q) * (2 * kPi) / p);
}
double elastic_out(double t, double b, double c, double d) {
  if (t == 0) return b;
  const double x = t / d;
  if (x == 1) return b + c;
  const double p = d * 0.3, q = p / 4;
  return b + c + c * std::pow(2, -10 * x) * std::sin((x * d - q) * (2 * kPi) / p);
}
double elastic_in_out(double t, double b, double c, double d) {
  if (t == 0) return b;
  const double e = t / (d / 2);
  if (e == 2) return b + c;
  const double p = d * (0.3 * 1.5), q = p / 4;
  const double wave = std::sin((d * (e - 1) - q) * (2 * kPi) / p);
  if (e < 1) return b - c / 2 * std::pow(2, 10 * (e - 1)) * wave;
  return b + c + c / 2 * std::pow(2, -10 * (e - 1)) * wave;
}

template <const double& s>
double back_in(double t, double b, double c, double d) {
  const double x = t / d;
  return c * x * x * ((s + 1) * x - s) + b;
}
template <const double& s>
double back_out(double t, double b, double c, double d) {
  const double x = t / d - 1;
  return c * (x * x * ((s + 1) * x + s) + 1) + b;
}
template <const double& s>
double back_in_out(double t, double b, double c, double d) {
  const double s2 = s * 1.525;
  double e = t / (d / 2);
  if (e < 1) return b + c / 2 * (e * e * ((s2 + 1) * e - s2));
  e -= 2;
  return b + c / 2 * (e * e * ((s2 + 1) * e + s2) + 2);
}

// "bounce-in" lands with its bounces at the end, "bounce-out" bounces at the
// start: the panel counts t downwards and relies on this pairing.
double bounce_in(double t, double b, double c, double d) { return b + c * bounce(t / d); }
double bounce_out(double t, double b, double c, double d) {
  return c - c * bounce((d - t) / d) + b;
}
double bounce_in_out(double t, double b, double c, double d) {
  if (t < d / 2) return (c - c * bounce((d - 2 * t) / d)) / 2 + b;
  return c * bounce((2 * t - d) / d) / 2 + c / 2 + b;
}

// Every curve is reached through this guard: a zero or negative duration
// ends at b + c at once instead of dividing by zero.
template <shape curve>
double guarded(double t, double b, double c, double d) {
  return d <= 0 ? b + c : curve(t, b, c, d);
}

const std::map<std::string, easing_function>& curves() {
  static const std::map<std::string, easing_function> table = {
      {"linear", &guarded<linear>},
      {"quad-in", &guarded<quad_in>},
      {"quad-out", &guarded<quad_out>},
      {"quad-in-out", &guarded<quad_in_out>},
      {"cubic-in", &guarded<cubic_in>},
      {"cubic-out", &guarded<cubic_out>},
      {"cubic-in-out", &guarded<cubic_in_out>},
      {"quart-in", &guarded<quart_in>},
      {"quart-out", &guarded<quart_out>},
      {"quart-in-out", &guarded<quart_in_out>},
      {"quint-in", &guarded<quint_in>},
      {"quint-out", &guarded<quint_out>},
      {"quint-in-out", &guarded<quint_in_out>},
      {"sine-in", &guarded<sine_in>},
      {"sine-out", &guarded<sine_out>},
      {"sine-in-out", &guarded<sine_in_out>},
      {"expo-in", &guarded<expo_in>},
      {"expo-out", &guarded<expo_out>},
      {"expo-in-out", &guarded<expo_in_out>},
      {"circ-in", &guarded<circ_in>},
      {"circ-out", &guarded<circ_out>},
      {"circ-in-out", &guarded<circ_in_out>},
      {"elastic-in", &guarded<elastic_in>},
      {"elastic-out", &guarded<elastic_out>},
      {"elastic-in-out", &guarded<elastic_in_out>},
      {"back-in", &guarded<back_in<kBack>>},
      {"back-out", &guarded<back_out<kBack>>},
      {"back-in-out", &guarded<back_in_out<kBack>>},
      {"x-back-in", &guarded<back_in<kBackX>>},
      {"x-back-out", &guarded<back_out<kBackX>>},
      {"x-back-in-out", &guarded<back_in_out<kBackX>>},
      {"xx-back-in", &guarded<back_in<kBackXX>>},
      {"xx-back-out", &guarded<back_out<kBackXX>>},
      {"xx-back-in-out", &guarded<back_in_out<kBackXX>>},
      {"bounce-in", &guarded<bounce_in>},
      {"bounce-out", &guarded<bounce_out>},
      {"bounce-in-out", &guarded<bounce_in_out>},
  };
  return table;
}

}  // namespace

easing_function get_easing(const std::string& name) {
  const auto found = curves().find(name);
  return found == curves().end() ? &guarded<linear> : found->second;
}

}  // namespace dui
