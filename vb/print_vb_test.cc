#include "vb/print_vb.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/matrix_store.h"
#include "common/misc.h"
#include "data/test_model.h"
#include "output/print_fit_tables.h"
#include "output/print_data.h"
#include "output/section_writer.h"

namespace veska {
namespace {

using testing::make_model;
using testing::Roles;

class PrintVb : public ::testing::Test {
 protected:
  void SetUp() override {
    set_conv_precision(6, 12);
    set_output_delimiter(',');
    section_writer_init();
    file_.reset(tmpfile());
  }
  void TearDown() override { set_output_delimiter(','); }

  FILE* file() { return file_.get(); }
  std::string text() {
    fflush(file());
    std::string out;
    rewind(file());
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, file())) > 0) out.append(buf, n);
    return out;
  }

 private:
  std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, fclose};
};

TEST_F(PrintVb, FreeEnergyRowsStopBeforeTheFinalIndex) {
  FitHistory h;
  h.objective = {-10.5, -9.25, -9.0};
  h.beta = {0.5, 1.0, 1.0};
  print_free_energy(file(), 3, h, false, 2);
  print_free_energy(file(), 3, h, true, 2);
  EXPECT_EQ(text(),
            "#### ID:FREE-ENERGY-K3\r\n"
            "#### Num. of classes, Num. of updates, Variational free energy\r\n####\r\n"
            "3,0,-10.5\r\n3,1,-9.25\r\n"
            "#### ID:FREE-ENERGY-K3\r\n"
            "#### Num. of classes, Num. of updates, Variational free energy, Inverse temperature\r\n"
            "####\r\n"
            "3,0,-10.5,0.5\r\n3,1,-9.25,1\r\n");
}

TEST_F(PrintVb, ScoreAndSeedsWithAndWithoutRecordedSeeds) {
  print_score(file(), {2, 3}, {-100.25, -99.5}, 3);
  std::vector<RestartRecord> drawn = {{true, 4000000000u, 12, -101.0}, {true, 7, 30, -99.5}};
  print_seeds(file(), true, 3, 1, drawn, "Variational free energy");
  std::vector<RestartRecord> given = {{false, 0, 5, -3.0}};
  print_seeds(file(), false, 2, 0, given, "Variational free energy");
  EXPECT_EQ(text(),
            "#### ID:SCORE\r\n#### Num. of classes, Variational free energy\r\n"
            "#### -- Optimal num. of classes = 3\r\n####\r\n"
            "2,-100.25\r\n3,-99.5\r\n"
            "#### ID:SEED-K3\r\n"
            "#### Num. of classes, Restart, Random seed, Num. of updates, Variational free energy\r\n"
            "#### -- Best seed = 1\r\n####\r\n"
            "3,0,4000000000,12,-101\r\n3,1,7,30,-99.5\r\n"
            "#### ID:SEED\r\n"
            "#### Num. of classes, Restart, Random seed, Num. of updates, Variational free energy\r\n"
            "#### -- Best seed = 0\r\n####\r\n"
            "2,0,N/A,5,-3\r\n");
}

TEST_F(PrintVb, DecreaseReportInTabSeparatedLog) {
  set_output_delimiter('\t');
  FitDecrease d;
  d.op = 2;
  d.t = 17;
  d.before = -1.5;
  d.after = -1.75;
  d.beta_after = 0.25;
  print_decrease_error(file(), 4, d);
  EXPECT_EQ(text(),
            "#### ID:ERR-MSG-DECREASE\r\n#### -- Variational free energy decreased!\r\n####\r\n"
            "NumberOfClasses\t4\r\nRestart\t2\r\nNumberOfUpdates\t17\r\n"
            "FreeEnergyBeforeUpdate\t-1.5\r\nFreeEnergyAfterUpdate\t-1.75\r\n"
            "InverseTemperature\t0.25\r\n");
}

TEST_F(PrintVb, AutoSmoothingOfClassesAndDiscreteAttributes) {
  AttrModel m = make_model(Roles(3).group({1}));
  Settings s;
  s.smooth_c = 0.25;
  s.smooth_a = {{0.5, kModeAuto}, {1.0, kModeValue}};
  print_auto_smoothing(file(), s, m, 4);
  EXPECT_EQ(text(),
            "#### ID:AUTO-SMOOTH-CLASS-K4\r\n#### Num. of classes, Class smoothing constant\r\n"
            "####\r\n4,0.25\r\n"
            "#### ID:AUTO-SMOOTH-CAT-K4\r\n"
            "#### Num. of classes, Attr. ID, Attr. name, "
            "Attr. smoothing constant [based on AutoClass]\r\n####\r\n"
            "4,0,X0,0.5\r\n4,2,X2,1\r\n");
}

// A two-class model of one discrete attribute (values coded b = 0, a = 1,
// shown in lexicographic order) and one block of attributes 1 and 3.
class PrintHparams : public PrintVb {
 protected:
  void SetUp() override {
    PrintVb::SetUp();
    model_ = make_model(Roles(4).group({1, 3}).ignore(2));
    DiscreteValues& v = model_.values[0];
    v.n_values = 2;
    v.names = {"b", "a"};
    v.order = {1, 0};
    st_.K = 2;
    st_.n_discrete = 1;
    st_.n_groups = 1;
    st_.n_values = {2};
    st_.dims = {2};
    st_.cat_offset = {0};
    st_.cat_stride = 2;
    st_.tau0 = 0.5;
    st_.alpha0 = {2.000001};
    st_.delta = {3.5, 8.5};
    st_.delta_cat = {1.25, 2.25, 5.5, 6.5};
    st_.n_k = {3, 8};
    st_.blocks.resize(2);
    for (int k = 0; k < 2; ++k) {
      VbBlock& b = st_.block(k, 0);
      b.mu = VectorValue(2);
      (*b.mu)[0] = k + 0.5;
      (*b.mu)[1] = -k;
      b.sigma = MatrixValue(2, 2);
      (*b.sigma)[0][0] = 1 + k;
      (*b.sigma)[0][1] = (*b.sigma)[1][0] = 0.125;
      (*b.sigma)[1][1] = 4;
    }
  }

  AttrModel model_;
  VbState st_;
  Settings settings_;
  CaseTable cases_;
  SampleStats stats_;
  EntryViews views_;  // nothing reads the entries here
};

TEST_F(PrintHparams, EveryDataMatrixOfAMixedModel) {
  VbContext ctx{settings_, model_, cases_, stats_, views_};
  print_hparams(file(), ctx, st_);
  EXPECT_EQ(text(),
            "#### ID:HPARAM-CLASS\r\n#### Class k, Class pseudo count delta(k)\r\n####\r\n"
            "0,3.5\r\n1,8.5\r\n"
            "#### ID:HPARAM-CAT0\r\n"
            "#### Attr. ID, Attr. name, Class k, Attr. value x0, Attr. pseudo count delta(x0|k)\r\n"
            "####\r\n"
            "0,X0,0,a,2.25\r\n0,X0,0,b,1.25\r\n0,X0,1,a,6.5\r\n0,X0,1,b,5.5\r\n"
            "#### ID:HPARAM-GAUSS-MEAN0\r\n#### Gauss ID, Class k, Attr. ID, Attr. name, Mean\r\n"
            "####\r\n"
            "0,0,1,X1,0.5\r\n0,0,3,X3,0\r\n0,1,1,X1,1.5\r\n0,1,3,X3,-1\r\n"
            "#### ID:HPARAM-GAUSS-COVAR0\r\n"
            "#### Gauss ID, Class k, Attr. ID, Attr. ID, Attr. name, Attr. name, (Co)Variance\r\n"
            "####\r\n"
            "0,0,1,1,X1,X1,1\r\n0,0,1,3,X1,X3,0.125\r\n0,0,3,3,X3,X3,4\r\n"
            "0,1,1,1,X1,X1,2\r\n0,1,1,3,X1,X3,0.125\r\n0,1,3,3,X3,X3,4\r\n"
            "#### ID:HPARAM-GAUSS-TAU\r\n#### Class k, Tau\r\n####\r\n0,3.5\r\n1,8.5\r\n"
            "#### ID:HPARAM-GAUSS-ALPHA0\r\n#### Gauss ID, Class k, Alpha\r\n####\r\n"
            "0,0,5.000001\r\n0,1,10.000001\r\n");
}

TEST_F(PrintHparams, NamedAttributesAndTabsWithoutGaussianBlocks) {
  set_output_delimiter('\t');
  model_.names_read = true;
  model_.attrs[0].has_name = true;
  model_.attrs[0].name = "colour, hue";
  model_.n_groups = 0;
  model_.groups.clear();
  VbContext ctx{settings_, model_, cases_, stats_, views_};
  print_hparams(file(), ctx, st_);
  std::string out = text();
  EXPECT_NE(out.find("0\tcolour, hue\t1\tb\t5.5\r\n"), std::string::npos);
  EXPECT_EQ(out.find("HPARAM-GAUSS"), std::string::npos);
}

}  // namespace
}  // namespace veska
