#include "fit/parallel.h"

#include <algorithm>

namespace veska {

EntryChunks entry_chunks(int n_entries) {
  EntryChunks chunks;
  chunks.n_entries = std::max(n_entries, 0);
  const long long spread = (static_cast<long long>(chunks.n_entries) + kMaxChunks - 1) / kMaxChunks;
  chunks.size = static_cast<int>(std::max<long long>(kChunkEntries, spread));
  chunks.count = (chunks.n_entries + chunks.size - 1) / chunks.size;
  return chunks;
}

namespace {

// A chunk's share of the partials: the counts (N_k then n_cat, by class) or
// the moments (S1 then S2, by listed class) of the largest block.
size_t partial_stride(int K, int cat_stride, std::span<const int> dims) {
  size_t block = 0;
  for (int d : dims) block = std::max(block, static_cast<size_t>(d + d * d));
  const size_t counts = static_cast<size_t>(1 + cat_stride);
  return static_cast<size_t>(K) * std::max(counts, block);
}

}  // namespace

ChunkWork allocate_chunk_work(int n_entries, int K, int cat_stride, std::span<const int> dims,
                              const KernelScratch& caller) {
  ChunkWork w;
  w.K = K;
  w.workers.assign(static_cast<size_t>(worker_pool().threads() - 1), caller);
  const EntryChunks chunks = entry_chunks(n_entries);
  if (chunks.count > 1) {
    w.partial.assign(static_cast<size_t>(chunks.count) * partial_stride(K, cat_stride, dims), 0.0);
  }
  w.s1.assign(static_cast<size_t>(K), nullptr);
  w.s2.assign(static_cast<size_t>(K), nullptr);
  return w;
}

int kernel_threads(const ChunkWork& work) {
  return static_cast<int>(work.workers.size()) + 1;
}

KernelScratch& thread_scratch(KernelScratch& caller, ChunkWork& work, int thread) {
  return thread == 0 ? caller : work.workers[static_cast<size_t>(thread - 1)];
}

void chunked_log_joint(const EntryViews& views, const LogJointModel& model,
                       const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                       ClassEntryArray out) {
  chunked_log_joint(views, model, classes, caller, work, out, [](EntryRange) {});
}

void chunked_class_counts(const EntryViews& views, ConstClassEntryArray resp,
                          const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                          double* n_k, double* n_cat) {
  const EntryChunks chunks = entry_chunks(views.n_entries);
  if (chunks.count <= 1) {
    class_counts(views, resp, classes, all_entries(views), caller, n_k, n_cat);
    return;
  }
  const size_t K = static_cast<size_t>(work.K);
  const size_t stride = static_cast<size_t>(views.cat_stride);
  const size_t per_chunk = K * (1 + stride);
  worker_pool().run(chunks.count, kernel_threads(work), [&](int c, int t) {
    double* p = work.partial.data() + static_cast<size_t>(c) * per_chunk;
    class_counts(views, resp, classes, chunks.range(c), thread_scratch(caller, work, t), p, p + K);
  });
  for (int i = 0; i < classes.size(); ++i) {
    const size_t k = static_cast<size_t>(classes[i]);
    const double* p = work.partial.data();
    n_k[k] = p[k];
    for (size_t v = 0; v < stride; ++v) n_cat[k * stride + v] = p[K + k * stride + v];
    for (int c = 1; c < chunks.count; ++c) {
      p = work.partial.data() + static_cast<size_t>(c) * per_chunk;
      n_k[k] += p[k];
      for (size_t v = 0; v < stride; ++v) n_cat[k * stride + v] += p[K + k * stride + v];
    }
  }
}

void chunked_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                           const ClassList& classes, int b, int d, const double* centre,
                           KernelScratch& caller, ChunkWork& work, MissingBlockMoments missing) {
  const EntryChunks chunks = entry_chunks(views.n_entries);
  if (chunks.count <= 1) {
    observed_block_moments(views, resp, classes, b, d, centre, all_entries(views), caller,
                           missing);
    return;
  }
  const size_t per_class = static_cast<size_t>(d + d * d);
  const size_t per_chunk = per_class * static_cast<size_t>(classes.size());
  for (int i = 0; i < classes.size(); ++i) {
    const size_t k = static_cast<size_t>(classes[i]);
    work.s1[k] = caller.s1[k];
    work.s2[k] = caller.s2[k];
  }
  worker_pool().run(chunks.count, kernel_threads(work), [&](int c, int t) {
    KernelScratch& s = thread_scratch(caller, work, t);
    double* p = work.partial.data() + static_cast<size_t>(c) * per_chunk;
    std::fill(p, p + per_chunk, 0.0);
    for (int i = 0; i < classes.size(); ++i) {
      const size_t k = static_cast<size_t>(classes[i]);
      s.s1[k] = p + static_cast<size_t>(i) * per_class;
      s.s2[k] = s.s1[k] + d;
    }
    observed_block_moments(views, resp, classes, b, d, centre, chunks.range(c), s, missing);
  });
  for (int i = 0; i < classes.size(); ++i) {
    const size_t k = static_cast<size_t>(classes[i]);
    double* s1 = work.s1[k];
    double* s2 = work.s2[k];
    for (int c = 0; c < chunks.count; ++c) {
      const double* p = work.partial.data() + static_cast<size_t>(c) * per_chunk +
                        static_cast<size_t>(i) * per_class;
      for (int a = 0; a < d; ++a) s1[a] += p[a];
      for (int a = 0; a < d * d; ++a) s2[a] += p[d + a];
    }
    caller.s1[k] = s1;
    caller.s2[k] = s2;
  }
}

}  // namespace veska
