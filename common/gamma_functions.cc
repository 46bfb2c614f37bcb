// log_gamma: W. J. Cody and K. E. Hillstrom's rational Chebyshev
// approximations in the arrangement of Cody's ALGAMA, with the Stirling
// series for large arguments. digamma: Cody's rational approximations of his
// PSI routine.
#include "common/gamma_functions.h"

#include <cmath>
#include <limits>

namespace veska {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

// ---- log_gamma ----

constexpr double kD1 = -0.5772156649015329;  // psi(1)
constexpr double kP1[8] = {4.945235359296727,  201.8112620856775,  2290.8383738313464,
                           11319.672059033808, 28557.246356716354, 38484.962284437934,
                           26377.487876241954, 7225.813979700288};
constexpr double kQ1[8] = {67.48212550303778,  1113.3323938571993, 7738.757056935398,
                           27639.870744033407, 54993.102062261576, 61611.22180066002,
                           36351.2759150194,   8785.536302431014};

constexpr double kD2 = 0.42278433509846713;  // psi(2)
constexpr double kP2[8] = {4.974607845568932,  542.4138599891071,  15506.93864978365,
                           184793.29044456323, 1088204.7694688288, 3338152.96798703,
                           5106661.678927353,  3074109.0548505397};
constexpr double kQ2[8] = {183.03283993705926, 7765.049321445006, 133190.38279660742,
                           1136705.8213219696, 5267964.117437947, 13467014.543111017,
                           17827365.303532742, 9533095.591844354};

constexpr double kD4 = 1.791759469228055;  // ln 6 = ln Gamma(4)
constexpr double kP4[8] = {14745.0216605994,  2426813.3694867045, 121475557.40450932,
                           2663432449.630977, 29403789566.34554,  170266573776.5399,
                           492612579337.7431, 560625185622.3951};
constexpr double kQ4[8] = {2690.5301758708993, 639388.5654300093, 41355999.30241388,
                           1120872109.616148,  14886137286.788137, 101680358627.24382,
                           341747634550.73773, 446315818741.9713};

// Stirling series: B_2k / (2k (2k - 1)), k = 1..8.
constexpr double kStirling[8] = {0.08333333333333333,   -0.002777777777777778,
                                 0.0007936507936507937, -0.0005952380952380953,
                                 0.0008417508417508417, -0.0019175269175269176,
                                 0.00641025641025641,   -0.029550653594771242};

constexpr double kLnSqrt2Pi = 0.9189385332046728;

// P(y) / Q(y) with P of degree 7 and Q = lead y^8 + ... (coefficients from the
// highest power).
double rational(double y, const double (&p)[8], const double (&q)[8], double lead) {
  double num = 0.0, den = lead;
  for (int i = 0; i < 8; ++i) {
    num = num * y + p[i];
    den = den * y + q[i];
  }
  return num / den;
}

// x <= 0: Gamma(x) Gamma(1 - x) = pi / sin(pi x). With t = -2x = n + f,
// |sin(pi x)| = sin(s pi / 2), s = f for even n and 1 - f for odd n.
double log_gamma_reflected(double x) {
  if (x <= -4503599627370496.0) return kInf;  // |x| >= 2^52: an integer, a pole
  double t = -2.0 * x;
  double n = std::floor(t);
  double f = t - n;
  double s = std::fmod(n, 2.0) == 0.0 ? f : 1.0 - f;
  double sine = std::sin(s * kPi / 2.0);
  if (sine == 0.0) return kInf;
  return std::log(kPi / sine) - log_gamma(1.0 - x);
}

// ---- digamma ----

constexpr double kPsiZeroHigh = 1.4609375;  // 187/128, the exact leading part of
constexpr double kPsiZeroLow = 0.0006946449683623413;  // the zero of psi near 1.4616
constexpr double kPsiP[9] = {0.004510468124576294, 5.493285583300039,  376.4669317592928,
                             7952.5490849152,      71451.59581895193,  306559.76301987364,
                             636069.9778896446,    580413.1278353757,  165856.95029761022};
constexpr double kPsiQ[8] = {96.14165477422236,  2628.771579058119, 29862.497022250278,
                             162065.66091533672, 434878.8071276833, 542563.8453726999,
                             242421.85002017985, 6.415522378357623e-8};
constexpr double kPsiAsymP[6] = {-2.7103228277757836, -15.16627177689612,  -19.78455414871922,
                                 -8.810095882831222,  -1.4479614616899843, -0.07368960033239455};
constexpr double kPsiAsymQ[6] = {44.992760373789366, 202.40955312679932, 247.3697900331529,
                                 107.42543875702279, 17.46396506067857,  0.8842752039887348};

// 0.5 <= x <= 3: psi(x) = (x - x0) P(x) / Q(x), x0 the zero of psi.
double digamma_middle(double x) {
  double num = kPsiP[0], den = 1.0;
  for (int i = 1; i < 9; ++i) num = num * x + kPsiP[i];
  for (double q : kPsiQ) den = den * x + q;
  return ((x - kPsiZeroHigh) - kPsiZeroLow) * (num / den);
}

// 3 < x: psi(x) = ln x - 1/(2x) + U(w)/V(w), w = 1/x^2, U = w (p1 w^5 + ... + p6),
// V = w^6 + q1 w^5 + ... + q6.
double digamma_large(double x) {
  double w = 1.0 / (x * x);
  double u = 0.0, v = 1.0;
  for (int i = 0; i < 6; ++i) {
    u = u * w + kPsiAsymP[i];
    v = v * w + kPsiAsymQ[i];
  }
  u *= w;
  return std::log(x) + (u / v - 0.5 / x);
}

// x < 0.5: psi(x) = psi(1 - x) - pi cot(pi x). With 4|x| = q + m and
// c = pi/4, pi |x| = (q mod 4) c + m c, which picks the reduced form of cot.
double digamma_reflected(double x) {
  double s = x > 0 ? 1.0 : -1.0;
  double four_a = 4.0 * std::fabs(x);  // exact
  double q = std::floor(four_a);
  double m = four_a - q;
  constexpr double c = 0.7853981633974483;
  double psi = digamma(1.0 - x);
  switch (static_cast<int>(std::fmod(q, 4.0))) {
    case 0:
      return psi - s * kPi / std::tan(m * c);
    case 1:
      return psi - s * kPi * std::tan((1.0 - m) * c);
    case 2:
      return psi + s * kPi * std::tan(m * c);
    default:
      return psi + s * kPi / std::tan((1.0 - m) * c);
  }
}

}  // namespace

double log_gamma(double x) {
  if (std::isnan(x)) return x;
  if (std::isinf(x)) return kInf;
  if (x <= 0.0) return log_gamma_reflected(x);
  if (x < 2.22e-16) return -std::log(x);
  if (x < 0.5) return x * (x * rational(x, kP1, kQ1, 1.0) + kD1) - std::log(x);
  if (x < 0.6796875) {
    double y = x - 1.0;
    return y * (y * rational(y, kP2, kQ2, 1.0) + kD2) - std::log(x);
  }
  if (x < 1.5) {
    double y = x - 1.0;
    return y * (y * rational(y, kP1, kQ1, 1.0) + kD1);
  }
  if (x < 4.0) {
    double y = x - 2.0;
    return y * (y * rational(y, kP2, kQ2, 1.0) + kD2);
  }
  if (x < 12.0) {
    double y = x - 4.0;
    return kD4 + y * rational(y, kP4, kQ4, -1.0);
  }
  // Stirling: (x - 1/2) ln x - x + ln sqrt(2 pi) + S(x); S is below rounding
  // from 2.25e76 on.
  double result = (x - 0.5) * std::log(x) - x + kLnSqrt2Pi;
  if (x < 2.25e76) {
    double w = 1.0 / (x * x);
    double series = kStirling[7];
    for (int k = 6; k >= 0; --k) series = series * w + kStirling[k];
    result += series / x;
  }
  return result;
}

double digamma(double x) {
  if (std::isnan(x)) return x;
  if (x <= -4.5e15 || std::fabs(x) < 2.23e-308) return x <= 0.0 ? kInf : -kInf;
  if (std::fabs(x) < 5.8e-9) return digamma(1.0 - x) - 1.0 / x;
  if (x < 0.5) return digamma_reflected(x);
  if (x <= 3.0) return digamma_middle(x);
  if (x < 2.71e14) return digamma_large(x);
  return std::log(x);
}

double log_wishart_const(int d, double nu) {
  double sum = 0.25 * d * (d - 1) * std::log(kPi) + 0.5 * nu * d * std::log(2.0);
  for (int i = 1; i <= d; ++i) sum += log_gamma((nu + 1.0 - i) / 2.0);
  return -sum;
}

}  // namespace veska
