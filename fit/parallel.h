// The entries cut into fixed chunks for the worker pool, and the shared
// kernels run chunk by chunk. A chunk's size depends on the entry count
// alone, and the sums of the chunks are combined in chunk order, so every
// result has the same bits whatever the number of threads. One chunk (2,048
// entries or fewer) runs exactly as the plain call over all entries.
#pragma once

#include <algorithm>
#include <array>
#include <span>
#include <type_traits>
#include <vector>

#include "common/workers.h"
#include "data/entry_views.h"
#include "data/read_freq.h"
#include "fit/kernels.h"

namespace veska {

// Chunks of kChunkEntries entries, larger when there would be more than
// kMaxChunks of them, so that the partial sums stay small.
constexpr int kChunkEntries = 2048;
constexpr int kMaxChunks = 256;

struct EntryChunks {
  int n_entries = 0;
  int size = kChunkEntries;
  int count = 0;
  EntryRange range(int c) const {
    return {c * size, std::min(n_entries, (c + 1) * size)};
  }
};
EntryChunks entry_chunks(int n_entries);

// f(range) for every chunk of n entries, on every thread of the pool; f
// writes only what belongs to its own entries.
template <typename F>
void for_entry_chunks(int n_entries, F&& f) {
  const EntryChunks chunks = entry_chunks(n_entries);
  worker_pool().run(chunks.count, kMaxThreads, [&](int c, int) { f(chunks.range(c)); });
}

// The sum of f(range) over the chunks of n entries, added in chunk order.
template <typename F>
double sum_entry_chunks(int n_entries, F&& f) {
  const EntryChunks chunks = entry_chunks(n_entries);
  if (chunks.count == 0) return 0.0;
  std::array<double, kMaxChunks> part;
  worker_pool().run(chunks.count, kMaxThreads, [&](int c, int) { part[c] = f(chunks.range(c)); });
  double sum = part[0];
  for (int c = 1; c < chunks.count; ++c) sum += part[c];
  return sum;
}

// What the chunked kernel calls keep per number of classes: a kernel scratch
// for each pool worker (the calling thread uses the engine's own), the
// per-chunk partial sums, and the moment sums' targets while the chunks'
// partials stand in for them.
struct ChunkWork {
  int K = 0;
  std::vector<KernelScratch> workers;  // thread t >= 1 uses workers[t - 1]
  std::vector<double> partial;
  std::vector<double*> s1;
  std::vector<double*> s2;
};

// Sized for the pool as it is now: one scratch per worker, each a copy of
// `caller` (made after the engine has sized it), and the partials of the
// entries' chunks.
ChunkWork allocate_chunk_work(int n_entries, int K, int cat_stride, std::span<const int> dims,
                              const KernelScratch& caller);

// complete_log_joint over every entry, chunk by chunk. The workers' scratch
// starts as a copy of the caller's, so the parameters the engine put there
// come with it. `after(range)` runs on the chunk's thread once the chunk's
// log joints are in; when it returns a double, the call returns the sum of
// those in chunk order (else 0).
template <typename After>
double chunked_log_joint(const EntryViews& views, const LogJointModel& model,
                         const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                         ClassEntryArray out, After&& after);
void chunked_log_joint(const EntryViews& views, const LogJointModel& model,
                       const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                       ClassEntryArray out);

// class_counts over every entry: N_k and n_cat of the listed classes, the
// chunks' sums added in chunk order.
void chunked_class_counts(const EntryViews& views, ConstClassEntryArray resp,
                          const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                          double* n_k, double* n_cat);

// observed_block_moments over every entry: each chunk sums into its own
// partials, which are then added to caller.s1[k] and caller.s2[k] in chunk
// order.
void chunked_block_moments(const EntryViews& views, ConstClassEntryArray resp,
                           const ClassList& classes, int b, int d, const double* centre,
                           KernelScratch& caller, ChunkWork& work, MissingBlockMoments missing);

// ---- implementation of the template -----------------------------------------

// The threads a kernel call may use.
int kernel_threads(const ChunkWork& work);
KernelScratch& thread_scratch(KernelScratch& caller, ChunkWork& work, int thread);

template <typename After>
double chunked_log_joint(const EntryViews& views, const LogJointModel& model,
                         const ClassList& classes, KernelScratch& caller, ChunkWork& work,
                         ClassEntryArray out, After&& after) {
  constexpr bool kSums = std::is_same_v<std::invoke_result_t<After&, EntryRange>, double>;
  const EntryChunks chunks = entry_chunks(views.n_entries);
  const int threads =
      std::min(kernel_threads(work), worker_pool().threads());
  for (int t = 1; t < std::min(threads, chunks.count); ++t) work.workers[t - 1] = caller;
  std::array<double, kMaxChunks> part;
  worker_pool().run(chunks.count, threads, [&](int c, int t) {
    const EntryRange range = chunks.range(c);
    complete_log_joint(views, model, classes, range, thread_scratch(caller, work, t), out);
    if constexpr (kSums) {
      part[static_cast<size_t>(c)] = after(range);
    } else {
      after(range);
    }
  });
  if (!kSums || chunks.count == 0) return 0.0;
  double sum = part[0];
  for (int c = 1; c < chunks.count; ++c) sum += part[static_cast<size_t>(c)];
  return sum;
}

}  // namespace veska
