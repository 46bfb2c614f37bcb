// An independent recomputation of what rumel reports, from its parameter
// file, the sample statistics in its log and the case file alone: the
// log-likelihood, the log-prior, BIC and the Cheeseman-Stutz score of a
// fitted model with two discrete attributes and a 2-D Gaussian block, with
// plain loops and 2 x 2 closed forms (none of the engine's functions).
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mlmap/rumel_test_files.h"
#include "tests/support/case_data.h"

namespace veska {
namespace {

using testing::real_of;
using testing::Sections;

constexpr double kPi = 3.14159265358979323846;

struct Mat2 {
  double a = 0, b = 0, d = 0;  // [[a, b], [b, d]]
  double det() const { return a * d - b * b; }
  Mat2 inverse() const { return Mat2{d / det(), -b / det(), a / det()}; }
};

double log_normal2(const double* x, const double* mu, const Mat2& s) {
  const Mat2 p = s.inverse();
  const double u = x[0] - mu[0], v = x[1] - mu[1];
  return -std::log(2 * kPi) - 0.5 * std::log(s.det()) - 0.5 * (p.a * u * u + 2 * p.b * u * v + p.d * v * v);
}

// ln of the 2-D Wishart normaliser without its determinant factor.
double wishart_const2(double nu) {
  return -nu * std::log(2.0) - 0.5 * std::log(kPi) - std::lgamma(nu / 2) - std::lgamma((nu - 1) / 2);
}

struct Case {
  std::string v[2];
  double x[2];
};

TEST(ParamFileOracle, LikelihoodPriorBicAndCheesemanStutzFromTheFiles) {
  testing::Shape shape{{3, 2}, {2}, 60};
  shape.seed = 9;
  const std::string csv = testing::random_cases(shape);
  testing::TempDir dir;
  testing::write_file(dir.file("d_freq.csv"), csv);
  const int K = 2;
  auto r = testing::rumel(dir, {"-f", "d", "-k", "2", "-x", "4", "-u", "2,3", "--autoclass", "-n",
                                "2", "--seed", "4", "--prec-out", "17"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::vector<Case> cases;
  {
    std::stringstream ss(csv);
    for (std::string line; std::getline(ss, line);) {
      std::stringstream ls(line);
      Case c;
      std::string f;
      std::getline(ls, c.v[0], ',');
      std::getline(ls, c.v[1], ',');
      std::getline(ls, f, ',');
      c.x[0] = real_of(f);
      std::getline(ls, f, ',');
      c.x[1] = real_of(f);
      cases.push_back(c);
    }
  }
  const double N = static_cast<double>(cases.size());

  // The data matrices in the order the parameter reader takes them.
  std::vector<std::string> ids;
  for (const std::string& line : testing::lines_of(testing::read_file(dir.file("d_param.csv")))) {
    if (line.rfind("#### ID:", 0) == 0) ids.push_back(line.substr(8));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"PARAM-CLASS", "PARAM-CAT0", "PARAM-CAT1",
                                           "PARAM-GAUSS-MEAN0", "PARAM-GAUSS-COVAR0"}));
  Sections param = testing::read_sections(dir.file("d_param.csv"));
  Sections log = testing::read_sections(dir.file("d_log.csv"));
  double pi[K];
  std::map<std::string, double> theta[K][2];
  double mu[K][2];
  Mat2 sigma[K];
  for (auto& row : param["PARAM-CLASS"]) pi[std::stoi(row[0])] = real_of(row[1]);
  for (int i = 0; i < 2; ++i) {
    for (auto& row : param["PARAM-CAT" + std::to_string(i)]) theta[std::stoi(row[2])][i][row[3]] = real_of(row[4]);
  }
  for (auto& row : param["PARAM-GAUSS-MEAN0"]) mu[std::stoi(row[1])][std::stoi(row[2]) - 2] = real_of(row[4]);
  for (auto& row : param["PARAM-GAUSS-COVAR0"]) {
    Mat2& s = sigma[std::stoi(row[1])];
    const int a = std::stoi(row[2]) - 2, b = std::stoi(row[3]) - 2;
    (a == 0 ? (b == 0 ? s.a : s.b) : s.d) = real_of(row[6]);
  }
  double m0[2];
  Mat2 b0;
  for (auto& row : log["STAT-GAUSS-MEAN"]) m0[std::stoi(row[1]) - 2] = real_of(row[3]);
  for (auto& row : log["STAT-GAUSS-COVAR"]) {
    const int a = std::stoi(row[1]) - 2, b = std::stoi(row[2]) - 2;
    (a == 0 ? (b == 0 ? b0.a : b0.b) : b0.d) = real_of(row[5]);
  }
  const int nv[2] = {static_cast<int>(theta[0][0].size()), static_cast<int>(theta[0][1].size())};

  // L and the expected statistics of the E-step.
  double loglike = 0, ec[K] = {0, 0}, s1[K][2] = {}, s2[K][3] = {};
  std::map<std::string, double> ew[K][2];
  for (const Case& c : cases) {
    double joint[K], z = 0;
    for (int k = 0; k < K; ++k) {
      joint[k] = pi[k] * theta[k][0][c.v[0]] * theta[k][1][c.v[1]] * std::exp(log_normal2(c.x, mu[k], sigma[k]));
      z += joint[k];
    }
    loglike += std::log(z);
    for (int k = 0; k < K; ++k) {
      const double w = joint[k] / z;
      ec[k] += w;
      ew[k][0][c.v[0]] += w;
      ew[k][1][c.v[1]] += w;
      s1[k][0] += w * c.x[0];
      s1[k][1] += w * c.x[1];
      s2[k][0] += w * c.x[0] * c.x[0];
      s2[k][1] += w * c.x[0] * c.x[1];
      s2[k][2] += w * c.x[1] * c.x[1];
    }
  }

  // The automatic priors: a = 1/K, a_i = 1/V_i, tau = 1/K, alpha = 2 + 1e-6,
  // m0 the sample mean, B0 the sample covariance.
  const double a = 1.0 / K, tau = 1.0 / K, alpha = 2 + 1e-6;
  double prior = std::lgamma((a + 1) * K) - K * std::lgamma(a + 1);
  for (int k = 0; k < K; ++k) prior += a * std::log(pi[k]);
  for (int i = 0; i < 2; ++i) {
    const double ai = 1.0 / nv[i];
    prior += K * std::lgamma((ai + 1) * nv[i]) - K * nv[i] * std::lgamma(ai + 1);
    for (int k = 0; k < K; ++k) {
      for (auto& [name, t] : theta[k][i]) prior += ai * std::log(t);
    }
  }
  for (int k = 0; k < K; ++k) {
    const Mat2 shrunk{sigma[k].a / tau, sigma[k].b / tau, sigma[k].d / tau};
    const Mat2 lambda = sigma[k].inverse();
    const double trace = b0.a * lambda.a + 2 * b0.b * lambda.b + b0.d * lambda.d;
    prior += log_normal2(mu[k], m0, shrunk) + (alpha - 3) / 2 * std::log(lambda.det()) +
             alpha / 2 * std::log(b0.det()) - 0.5 * trace + wishart_const2(alpha);
  }

  const double P = (K - 1) + K * ((nv[0] - 1) + (nv[1] - 1)) + K * 3;
  const double bic = loglike - 0.5 * P * std::log(N);

  // Cheeseman-Stutz: M - Q + L.
  const double c1 = a + 1;
  double m = std::lgamma(K * c1) - std::lgamma(K * c1 + N) - K * std::lgamma(c1);
  double q = 0;
  for (int k = 0; k < K; ++k) {
    m += std::lgamma(c1 + ec[k]);
    q += ec[k] * std::log(pi[k]);
  }
  for (int i = 0; i < 2; ++i) {
    const double ci = 1.0 / nv[i] + 1;
    m += K * (std::lgamma(nv[i] * ci) - nv[i] * std::lgamma(ci));
    for (int k = 0; k < K; ++k) {
      m -= std::lgamma(nv[i] * ci + ec[k]);
      for (auto& [name, t] : theta[k][i]) {
        m += std::lgamma(ci + ew[k][i][name]);
        q += ew[k][i][name] * std::log(t);
      }
    }
  }
  for (int k = 0; k < K; ++k) {
    const double n = ec[k], xb0 = s1[k][0] / n, xb1 = s1[k][1] / n, sh = tau * n / (tau + n);
    const Mat2 bn{b0.a + s2[k][0] - s1[k][0] * s1[k][0] / n + sh * (m0[0] - xb0) * (m0[0] - xb0),
                  b0.b + s2[k][1] - s1[k][0] * s1[k][1] / n + sh * (m0[0] - xb0) * (m0[1] - xb1),
                  b0.d + s2[k][2] - s1[k][1] * s1[k][1] / n + sh * (m0[1] - xb1) * (m0[1] - xb1)};
    m += alpha / 2 * std::log(b0.det()) - (alpha + n) / 2 * std::log(bn.det()) + wishart_const2(alpha) -
         wishart_const2(alpha + n) - n * std::log(2 * kPi) + std::log(tau) - std::log(tau + n);
    const Mat2 p = sigma[k].inverse();
    const double* u = mu[k];
    const double t00 = s2[k][0] - 2 * u[0] * s1[k][0] + n * u[0] * u[0];
    const double t01 = s2[k][1] - u[0] * s1[k][1] - s1[k][0] * u[1] + n * u[0] * u[1];
    const double t11 = s2[k][2] - 2 * u[1] * s1[k][1] + n * u[1] * u[1];
    q += -0.5 * (n * (std::log(sigma[k].det()) + 2 * std::log(2 * kPi)) + p.a * t00 + 2 * p.b * t01 + p.d * t11);
  }
  const double cs = m - q + loglike;

  const std::vector<std::string>& last = log["LOGLIKE-K2"].back();
  auto near = [](double got, double want) { EXPECT_NEAR(got, want, 1e-10 * std::fabs(want)); };
  near(real_of(last[2]), loglike);
  near(real_of(last[3]), prior);
  near(real_of(last[4]), loglike + prior);
  const std::vector<std::string>& score = log["SCORE"][0];
  near(real_of(score[1]), bic);
  near(real_of(score[2]), cs);
}

}  // namespace
}  // namespace veska
