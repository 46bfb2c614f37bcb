#include "output/print_stat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/misc.h"
#include "data/test_model.h"
#include "output/section_writer.h"

namespace veska {
namespace {

using testing::make_model;
using testing::Roles;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Vector* vec(std::vector<double> values) {
  return new_vector_from(static_cast<int>(values.size()), values.data());
}

Matrix* mat(std::vector<std::vector<double>> rows) {
  std::vector<const double*> pointers;
  for (const auto& row : rows) pointers.push_back(row.data());
  return new_matrix_from(static_cast<int>(rows.size()), static_cast<int>(rows.size()),
                         pointers.data());
}

// The printer's tests build the statistics by hand, and give them back here.
void release(SampleStats& stats) {
  for (GroupStats& g : stats.groups) {
    free_vector(g.mean);
    free_matrix(g.covar);
    free_vector(g.reg_mean);
    free_matrix(g.reg_covar);
    free_vector(g.reg_min);
    free_vector(g.reg_max);
  }
  stats = SampleStats();
}

class PrintStatistics : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
  }
  void TearDown() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    release(stats_);
  }

  std::string write(const AttrModel& model) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(tmpfile(), fclose);
    print_statistics(f.get(), settings_, model, stats_);
    std::string out;
    rewind(f.get());
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return out;
  }

  // Group 0 = attributes 2 and 4, group 1 = attribute 3.
  void fill_two_groups(const AttrModel& model) {
    stats_.attrs.resize(model.attrs.size());
    AttrStat& a0 = stats_.attrs[0];
    a0.n_values = 3;
    a0.mode = "b,c";  // written as it stands
    a0.mode_count = 7;
    const double ps[3][9] = {{-1, 0, 0.5, 1, 2, 3, 4.5, 5, 6},
                             {10, 11, 12, 13, 14, 15, 16, 17, 18},
                             {0.25, 0.5, 0.75, 1, 1.25, 1.5, 1.75, 2, 2.25}};
    for (int j = 2; j <= 4; ++j) {
      AttrStat& s = stats_.attrs[j];
      for (int i = 0; i < 9; ++i) s.percentiles[i] = ps[j - 2][i];
      s.min = s.percentiles[0];
      s.max = s.percentiles[8];
      s.median = s.percentiles[4];
      s.mean = s.median + 0.125;
      s.variance = 4.0 * j;
      s.sd = std::sqrt(s.variance);
    }
    stats_.groups.resize(2);
    GroupStats& g0 = stats_.groups[0];
    g0.mean = vec({2.125, 1.375});
    g0.covar = mat({{8, -0.5}, {-0.5, 16}});
    g0.reg_mean = vec({2.5, 1.25});
    g0.reg_covar = mat({{3, 0.1}, {0.1, 1.0 / 3}});
    g0.reg_min = vec({0, 0.5});
    g0.reg_max = vec({5, 2});
    GroupStats& g1 = stats_.groups[1];
    g1.mean = vec({14.125});
    g1.covar = mat({{12}});
    g1.reg_mean = vec({14});
    g1.reg_covar = mat({{kNaN}});  // too few values within the bounds
    g1.reg_min = vec({14});
    g1.reg_max = vec({14});
    for (GroupStats& g : stats_.groups) {
      g.sample_mean = settings_.regular_stat ? g.reg_mean : g.mean;
      g.sample_covar = settings_.regular_stat ? g.reg_covar : g.covar;
    }
  }

  Settings settings_;
  SampleStats stats_;
};

TEST_F(PrintStatistics, DiscreteAndTwoGaussianGroups) {
  AttrModel model = make_model(Roles(5).ignore(1).group({2, 4}).group({3}));
  settings_.extreme_low = 0.1;
  settings_.extreme_high = 0.9;
  fill_two_groups(model);
  EXPECT_EQ(write(model),
            "#### ID:STAT-BASIC-CAT\r\n"
            "#### Attr. ID, Attr. name, Num. of distinct values, Mode value, Mode count\r\n"
            "#### -- Only for discrete attributes\r\n"
            "####\r\n"
            "0,X0,3,b,c,7\r\n"
            "#### ID:STAT-BASIC-GAUSS\r\n"
            "#### Gauss ID, Attr. ID, Attr. name, Min., Mean, Median, Max., Var., Std.\r\n"
            "#### -- Only for continuous attributes\r\n"
            "####\r\n"
            "0,2,X2,-1,2.125,2,6,8,2.82842712475\r\n"
            "1,3,X3,10,14.125,14,18,12,3.46410161514\r\n"
            "0,4,X4,0.25,1.375,1.25,2.25,16,4\r\n"
            "#### ID:STAT-PERCENTILE\r\n"
            "#### Attr. ID, Attr. name, Percent, Percentile\r\n"
            "#### -- Only for continuous attributes\r\n"
            "####\r\n"
            "2,X2,0,-1\r\n2,X2,5,0\r\n2,X2,10,0.5\r\n2,X2,25,1\r\n2,X2,50,2\r\n"
            "2,X2,75,3\r\n2,X2,90,4.5\r\n2,X2,95,5\r\n2,X2,100,6\r\n"
            "3,X3,0,10\r\n3,X3,5,11\r\n3,X3,10,12\r\n3,X3,25,13\r\n3,X3,50,14\r\n"
            "3,X3,75,15\r\n3,X3,90,16\r\n3,X3,95,17\r\n3,X3,100,18\r\n"
            "4,X4,0,0.25\r\n4,X4,5,0.5\r\n4,X4,10,0.75\r\n4,X4,25,1\r\n4,X4,50,1.25\r\n"
            "4,X4,75,1.5\r\n4,X4,90,1.75\r\n4,X4,95,2\r\n4,X4,100,2.25\r\n"
            "#### ID:STAT-GAUSS-MEAN\r\n"
            "#### Gauss ID, Attr. ID, Attr. name, Mean\r\n"
            "####\r\n"
            "0,2,X2,2.125\r\n0,4,X4,1.375\r\n1,3,X3,14.125\r\n"
            "#### ID:STAT-GAUSS-COVAR\r\n"
            "#### Gauss ID, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance\r\n"
            "####\r\n"
            "0,2,2,X2,X2,8\r\n0,2,4,X2,X4,-0.5\r\n0,4,4,X4,X4,16\r\n1,3,3,X3,X3,12\r\n"
            "#### ID:STAT-REGULAR-Q\r\n"
            "#### Q-min., Q-max.\r\n"
            "#### -- The values below Q-min. or above Q-max. are considered as extreme values\r\n"
            "####\r\n"
            "0.1,0.9\r\n"
            "#### ID:STAT-REGULAR-MEAN\r\n"
            "#### Gauss ID, Attr. ID, Attr. name, Min., Mean, Max.\r\n"
            "#### -- These are the statistics when ignoring extreme values\r\n"
            "####\r\n"
            "0,2,X2,0,2.5,5\r\n0,4,X4,0.5,1.25,2\r\n1,3,X3,14,14,14\r\n"
            "#### ID:STAT-REGULAR-COVAR\r\n"
            "#### Gauss ID, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance\r\n"
            "#### -- These are the statistics when ignoring extreme values\r\n"
            "####\r\n"
            "0,2,2,X2,X2,3\r\n0,2,4,X2,X4,0.1\r\n0,4,4,X4,X4,0.333333333333\r\n"
            "1,3,3,X3,X3,?\r\n");
}

TEST_F(PrintStatistics, SampleStatisticsFollowTheSelectedPairInTabSeparatedFiles) {
  set_output_delimiter('\t');
  set_conv_precision(6, 3);
  settings_.regular_stat = true;
  AttrModel model = make_model(Roles(5).ignore(1).group({2, 4}).group({3}));
  model.names_read = true;
  model.attrs[2].has_name = true;
  model.attrs[2].name = "petal, length";
  fill_two_groups(model);
  std::string out = write(model);
  EXPECT_NE(out.find("#### ID:STAT-GAUSS-MEAN\r\n"
                     "#### Gauss ID, Attr. ID, Attr. name, Mean\r\n"
                     "####\r\n"
                     "0\t2\tpetal, length\t2.5\r\n0\t4\tX4\t1.25\r\n1\t3\tX3\t14\r\n"
                     "#### ID:STAT-GAUSS-COVAR\r\n"
                     "#### Gauss ID, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance\r\n"
                     "####\r\n"
                     "0\t2\t2\tpetal, length\tpetal, length\t3\r\n"
                     "0\t2\t4\tpetal, length\tX4\t0.1\r\n"
                     "0\t4\t4\tX4\tX4\t0.333\r\n"
                     "1\t3\t3\tX3\tX3\t?\r\n"
                     "#### ID:STAT-REGULAR-Q\r\n"),
            std::string::npos)
      << out;
}

TEST_F(PrintStatistics, EachKindOfAttributeBringsItsOwnDataMatrices) {
  AttrModel discrete = make_model(Roles(2));
  stats_.attrs.resize(2);
  stats_.attrs[1].mode = "?";  // missing in every case
  std::string out = write(discrete);
  EXPECT_EQ(out,
            "#### ID:STAT-BASIC-CAT\r\n"
            "#### Attr. ID, Attr. name, Num. of distinct values, Mode value, Mode count\r\n"
            "#### -- Only for discrete attributes\r\n"
            "####\r\n"
            "0,X0,0,,0\r\n"
            "1,X1,0,?,0\r\n");

  AttrModel continuous = make_model(Roles(5).ignore(1).ignore(0).group({2, 4}).group({3}));
  release(stats_);
  fill_two_groups(continuous);
  out = write(continuous);
  EXPECT_EQ(out.find("STAT-BASIC-CAT"), std::string::npos);
  EXPECT_EQ(out.rfind("#### ID:STAT-BASIC-GAUSS\r\n", 0), 0u);
}

}  // namespace
}  // namespace veska
