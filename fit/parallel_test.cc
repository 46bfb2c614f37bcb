// The chunked kernel calls against the plain kernels run chunk by chunk on
// one thread with the sums added in chunk order, bit for bit, on 1, 2, 3
// and 7 threads: complete data (every chunk on the pool) and data with
// missing values (their callbacks kept on the calling thread).
#include "fit/parallel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "tests/support/case_data.h"

namespace veska {
namespace {

using testing::CaseData;
using testing::Shape;

TEST(EntryChunks, CoverTheEntriesInFewBoundedChunks) {
  for (int n : {0, 1, 2047, 2048, 2049, 9000, 524288, 524289, 10000000}) {
    const EntryChunks c = entry_chunks(n);
    EXPECT_GE(c.size, kChunkEntries);
    EXPECT_LE(c.count, kMaxChunks) << n;
    int next = 0;
    for (int i = 0; i < c.count; ++i) {
      const EntryRange r = c.range(i);
      EXPECT_EQ(r.first, next);
      EXPECT_GT(r.last, r.first);
      next = r.last;
    }
    EXPECT_EQ(next, n);
  }
}

struct Data {
  explicit Data(double p_missing)
      : shape(make_shape(p_missing)), data(testing::random_cases(shape), shape.n_attr(), shape.gauss()) {
    views = build_entry_views(data.cases, data.model);
  }
  static Shape make_shape(double p_missing) {
    Shape s;
    s.discrete = {3, 4};
    s.blocks = {2, 5};
    s.lines = 9000;  // five chunks
    s.p_missing = p_missing;
    s.p_block_missing = p_missing;
    return s;
  }
  Shape shape;
  CaseData data;
  EntryViews views;
};

constexpr int K = 5;

// What the engine's callbacks return: matrices that depend on their arguments.
// They write only what they are handed, so they may run on any thread.
struct FakeEngine {
  static const double* values(int b, int p, int k) {
    static const std::vector<double> v = [] {
      std::vector<double> out(4096);
      for (size_t i = 0; i < out.size(); ++i) out[i] = 0.05 * static_cast<double>(i % 13) - 0.2;
      return out;
    }();
    return v.data() + (b * 31 + p * 7 + k * 3) % 64;
  }
  static void term(const void*, int b, int p, int k, PatternTerm* out) {
    *out = PatternTerm{values(b, p, k), values(b, p + 1, k), 0.3 * b - 0.7 * k, 1.0 + 0.1 * p};
  }
  static void add(const void* self, int p, int k, PatternMoments* out) {
    const int b = *static_cast<const int*>(self);
    *out = PatternMoments{values(b, p, k), values(b, p + 2, k), values(b, p + 3, k), 0.5 + 0.1 * k};
  }
};

// Everything one set of calls produces.
struct Results {
  std::vector<double> log_joint, n_k, n_cat, moments;
};

// The model, the responsibilities and the moment sums of one call.
struct CallSetup {
  explicit CallSetup(const Data& d) : ks(allocate_kernel_scratch(K, d.views.cat_stride, d.shape.blocks)) {
    std::mt19937 gen(5);
    std::normal_distribution<double> z(0.0, 1.0);
    const size_t G = d.shape.blocks.size();
    for (int k = 0; k < K; ++k) log_pi.push_back(-1.6 + 0.2 * z(gen));
    for (int i = 0; i < K * d.views.cat_stride; ++i) log_theta.push_back(-1.2 + 0.3 * z(gen));
    params.resize(K * G);
    for (size_t kb = 0; kb < K * G; ++kb) {
      const int dim = d.shape.blocks[kb % G];
      for (int i = 0; i < dim; ++i) params[kb].push_back(z(gen));
      for (int i = 0; i < dim * dim; ++i) params[kb].push_back(i % (dim + 1) ? 0.1 * z(gen) : 1.0);
      ks.mean[kb] = params[kb].data();
      ks.precision[kb] = params[kb].data() + dim;
      ks.log_const[kb] = z(gen);
      ks.scale[kb] = 1.0;
    }
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < K * d.views.n_entries; ++i) resp.push_back(u(gen));
  }
  KernelScratch ks;
  std::vector<double> log_pi, log_theta, resp;
  std::vector<std::vector<double>> params;
};

// The chunked calls on the pool as it is.
Results chunked(const Data& d, CallSetup& s, const FakeEngine& engine) {
  const int M = d.views.n_entries;
  ChunkWork work = allocate_chunk_work(M, K, d.views.cat_stride, d.shape.blocks, s.ks);
  Results r;
  r.log_joint.assign(static_cast<size_t>(K) * M, 0.0);
  const LogJointModel model{0.9, s.log_pi.data(), s.log_theta.data(), d.shape.blocks,
                            MissingBlockTerm{FakeEngine::term, &engine}};
  const ClassList all = ClassList::all(K);
  chunked_log_joint(d.views, model, all, s.ks, work,
                    ClassEntryArray{r.log_joint.data(), static_cast<size_t>(M), 1});
  const ConstClassEntryArray resp{s.resp.data(), 1, K};
  r.n_k.assign(K, 0.0);
  r.n_cat.assign(static_cast<size_t>(K) * d.views.cat_stride, 0.0);
  chunked_class_counts(d.views, resp, all, s.ks, work, r.n_k.data(), r.n_cat.data());
  for (size_t b = 0; b < d.shape.blocks.size(); ++b) {
    const int dim = d.shape.blocks[b];
    const int block = static_cast<int>(b);
    std::vector<double> sums(static_cast<size_t>(K) * (dim + dim * dim), 1.0);  // added to
    for (int k = 0; k < K; ++k) {
      s.ks.s1[k] = sums.data() + k * (dim + dim * dim);
      s.ks.s2[k] = s.ks.s1[k] + dim;
    }
    chunked_block_moments(d.views, resp, all, static_cast<int>(b), dim, nullptr, s.ks, work,
                          MissingBlockMoments{FakeEngine::add, &block});
    r.moments.insert(r.moments.end(), sums.begin(), sums.end());
  }
  return r;
}

// The plain kernels on one chunk at a time, the sums added in chunk order.
Results chunk_by_chunk(const Data& d, CallSetup& s, const FakeEngine& engine) {
  const int M = d.views.n_entries;
  const EntryChunks chunks = entry_chunks(M);
  Results r;
  r.log_joint.assign(static_cast<size_t>(K) * M, 0.0);
  const LogJointModel model{0.9, s.log_pi.data(), s.log_theta.data(), d.shape.blocks,
                            MissingBlockTerm{FakeEngine::term, &engine}};
  const ClassList all = ClassList::all(K);
  const ConstClassEntryArray resp{s.resp.data(), 1, K};
  const size_t cells = static_cast<size_t>(K) * d.views.cat_stride;
  r.n_k.assign(K, 0.0);
  r.n_cat.assign(cells, 0.0);
  std::vector<double> n_k(K), n_cat(cells);
  for (int c = 0; c < chunks.count; ++c) {
    complete_log_joint(d.views, model, all, chunks.range(c), s.ks,
                       ClassEntryArray{r.log_joint.data(), static_cast<size_t>(M), 1});
    class_counts(d.views, resp, all, chunks.range(c), s.ks, n_k.data(), n_cat.data());
    for (int k = 0; k < K; ++k) r.n_k[k] = c == 0 ? n_k[k] : r.n_k[k] + n_k[k];
    for (size_t i = 0; i < cells; ++i) r.n_cat[i] = c == 0 ? n_cat[i] : r.n_cat[i] + n_cat[i];
  }
  for (size_t b = 0; b < d.shape.blocks.size(); ++b) {
    const int dim = d.shape.blocks[b];
    const int block = static_cast<int>(b);
    const size_t per_class = static_cast<size_t>(dim + dim * dim);
    std::vector<double> sums(K * per_class, 1.0), part(K * per_class);
    for (int c = 0; c < chunks.count; ++c) {
      std::fill(part.begin(), part.end(), 0.0);
      for (int k = 0; k < K; ++k) {
        s.ks.s1[k] = part.data() + k * per_class;
        s.ks.s2[k] = s.ks.s1[k] + dim;
      }
      observed_block_moments(d.views, resp, all, static_cast<int>(b), dim, nullptr,
                             chunks.range(c), s.ks, MissingBlockMoments{FakeEngine::add, &block});
      for (size_t i = 0; i < sums.size(); ++i) sums[i] += part[i];
    }
    r.moments.insert(r.moments.end(), sums.begin(), sums.end());
  }
  return r;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void expect_same_bits(const Results& a, const Results& b, int threads) {
  EXPECT_TRUE(same_bits(a.log_joint, b.log_joint)) << threads;
  EXPECT_TRUE(same_bits(a.n_k, b.n_k)) << threads;
  EXPECT_TRUE(same_bits(a.n_cat, b.n_cat)) << threads;
  EXPECT_TRUE(same_bits(a.moments, b.moments)) << threads;
}

class ChunkedKernels : public ::testing::TestWithParam<double> {
 protected:
  ~ChunkedKernels() override { stop_workers(); }
};

TEST_P(ChunkedKernels, GiveTheChunkOrderSumsOnEveryThreadCount) {
  const Data d(GetParam());
  ASSERT_GT(entry_chunks(d.views.n_entries).count, 3);
  CallSetup s(d);
  FakeEngine engine;
  const Results reference = chunk_by_chunk(d, s, engine);
  for (int threads : {1, 2, 3, 7}) {
    start_workers(threads);
    expect_same_bits(chunked(d, s, engine), reference, threads);
  }
}

INSTANTIATE_TEST_SUITE_P(CompleteAndWithHoles, ChunkedKernels, ::testing::Values(0.0, 0.03));

TEST(ChunkedSums, AddThePartsInChunkOrderOnEveryThreadCount) {
  const int n = 100000;
  std::vector<double> x(n);
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (double& v : x) v = u(gen) * 1e6;
  const EntryChunks chunks = entry_chunks(n);
  double reference = 0.0;
  for (int c = 0; c < chunks.count; ++c) {
    double part = 0.0;
    for (int i = chunks.range(c).first; i < chunks.range(c).last; ++i) part += x[i];
    reference = c == 0 ? part : reference + part;
  }
  for (int threads : {1, 2, 3, 7}) {
    start_workers(threads);
    const double sum = sum_entry_chunks(n, [&](EntryRange r) {
      double part = 0.0;
      for (int i = r.first; i < r.last; ++i) part += x[i];
      return part;
    });
    EXPECT_EQ(std::memcmp(&sum, &reference, sizeof sum), 0) << threads;
  }
  stop_workers();
  EXPECT_EQ(sum_entry_chunks(0, [](EntryRange) { return 1.0; }), 0.0);
}

}  // namespace
}  // namespace veska
