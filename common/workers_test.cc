// The worker pool: every chunk once on a thread of the run, the pool reused
// run after run, and a failing chunk ending on the calling thread with the
// error the lowest failing chunk raised, for any number of threads.
#include "common/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/misc.h"
#include "tests/support/test_support.h"

namespace veska {
namespace {

using testing::run_capturing;

struct PoolReset {
  ~PoolReset() { stop_workers(); }
};

TEST(WorkerPool, RunsEveryChunkOnceOnTheThreadsOfTheRun) {
  PoolReset reset;
  for (int threads : {1, 2, 3, 7}) {
    start_workers(threads);
    ASSERT_EQ(worker_pool().threads(), threads);
    for (int round = 0; round < 20; ++round) {
      for (int n_chunks : {0, 1, 2, 5, 100}) {
        const int max_threads = round % 2 ? 2 : kMaxThreads;
        std::vector<std::atomic<int>> runs(static_cast<size_t>(n_chunks));
        std::atomic<int> bad_thread{0};
        worker_pool().run(n_chunks, max_threads, [&](int c, int t) {
          runs[static_cast<size_t>(c)]++;
          if (t < 0 || t >= std::min(threads, max_threads)) bad_thread++;
        });
        for (int c = 0; c < n_chunks; ++c) EXPECT_EQ(runs[static_cast<size_t>(c)], 1) << c;
        EXPECT_EQ(bad_thread, 0);
      }
    }
  }
}

TEST(WorkerPool, ARunFromInsideAChunkStaysOnItsThread) {
  PoolReset reset;
  start_workers(3);
  std::atomic<int> inner{0};
  worker_pool().run(6, kMaxThreads, [&](int, int) {
    worker_pool().run(4, kMaxThreads, [&](int, int t) { inner += t == 0 ? 1 : 100; });
  });
  EXPECT_EQ(inner, 24);
}

TEST(WorkerPool, AFatalErrorInAChunkEndsWithTheFirstChunksMessage) {
  PoolReset reset;
  for (int threads : {1, 2, 3, 7}) {
    start_workers(threads);
    const testing::FatalResult r = run_capturing([] {
      worker_pool().run(64, kMaxThreads, [](int c, int) {
        if (c == 9 || c == 10 || c == 63) {
          const std::string what = "chunk " + std::to_string(c) + "\n";
          raise_numerical_error("step", what.c_str());
        }
      });
    });
    EXPECT_TRUE(r.exited) << threads;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.msg, "Numerical error (step): chunk 9\n") << threads;
    EXPECT_EQ(r.log, r.msg);
    // The pool is whole afterwards.
    std::atomic<int> runs{0};
    worker_pool().run(50, kMaxThreads, [&](int, int) { runs++; });
    EXPECT_EQ(runs, 50);
  }
}

TEST(WorkerPool, OtherExceptionsReachTheCaller) {
  PoolReset reset;
  for (int threads : {1, 3}) {
    start_workers(threads);
    EXPECT_THROW(worker_pool().run(20, kMaxThreads,
                                   [](int c, int) {
                                     if (c == 17) throw std::runtime_error("chunk");
                                   }),
                 std::runtime_error);
    // die_stderr goes back to standard error, not the log.
    ::testing::internal::CaptureStderr();
    const testing::FatalResult r = run_capturing([] {
      worker_pool().run(8, kMaxThreads, [](int c, int) {
        if (c == 5) die_stderr("Couldn't allocate memory (%s, line %d)\n", "here", 5);
      });
    });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Couldn't allocate memory (here, line 5)\n");
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.log, "");
  }
}

TEST(WorkerPool, TheProcessMayUseAtLeastOneCpu) {
  const int n = available_cpus();
  EXPECT_GE(n, 1);
  EXPECT_LE(n, kMaxThreads);
}

}  // namespace
}  // namespace veska
