#include "common/workers.h"

#include <sched.h>

#include <algorithm>
#include <memory>

#include "common/misc.h"

namespace veska {

namespace {

// Set while this thread runs chunks: a run started from inside a chunk runs
// on that thread alone instead of waiting for workers that are busy.
thread_local bool t_in_chunks = false;

}  // namespace

int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return std::clamp(CPU_COUNT(&set), 1, kMaxThreads);
}

WorkerPool::WorkerPool(int threads) {
  const int n = std::clamp(threads, 1, kMaxThreads);
  workers_.reserve(static_cast<size_t>(n - 1));
  for (int t = 1; t < n; ++t) workers_.emplace_back([this, t] { worker_main(t); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& w : workers_) w.join();
}

void WorkerPool::take_chunks(int thread) {
  for (;;) {
    int chunk;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // After a failure only the chunks before it can change which error is
      // raised.
      if (next_chunk_ >= n_chunks_ || next_chunk_ > error_chunk_) return;
      chunk = next_chunk_++;
    }
    try {
      fn_(task_, chunk, thread);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (chunk < error_chunk_) {
        error_chunk_ = chunk;
        error_ = std::current_exception();
      }
    }
  }
}

void WorkerPool::worker_main(int thread) {
  // Nothing on a worker may end the process: its errors go to the caller.
  DeferFatalErrors defer;
  t_in_chunks = true;
  unsigned long seen = 0;
  for (;;) {
    bool takes_part;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      takes_part = thread < participants_;
    }
    if (takes_part) take_chunks(thread);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--busy_ == 0) done_.notify_one();
  }
}

void WorkerPool::run_erased(int n_chunks, int max_threads, Erased fn, void* task) {
  const int participants = std::min({threads(), max_threads, n_chunks});
  if (participants <= 1 || t_in_chunks) {
    for (int c = 0; c < n_chunks; ++c) fn(task, c, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    task_ = task;
    n_chunks_ = n_chunks;
    participants_ = participants;
    next_chunk_ = 0;
    error_chunk_ = n_chunks;
    error_ = nullptr;
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  {
    DeferFatalErrors defer;
    t_in_chunks = true;
    take_chunks(0);
    t_in_chunks = false;
  }
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    error = error_;
    error_ = nullptr;
  }
  if (error == nullptr) return;
  try {
    std::rethrow_exception(error);
  } catch (const DeferredFatal& fatal) {
    raise_deferred_fatal(fatal);
  }
}

namespace {

std::unique_ptr<WorkerPool>& pool_slot() {
  static std::unique_ptr<WorkerPool> pool;
  return pool;
}

}  // namespace

WorkerPool& worker_pool() {
  std::unique_ptr<WorkerPool>& pool = pool_slot();
  if (pool == nullptr) pool = std::make_unique<WorkerPool>(1);
  return *pool;
}

void start_workers(int threads) {
  std::unique_ptr<WorkerPool>& pool = pool_slot();
  pool.reset();
  pool = std::make_unique<WorkerPool>(threads);
}

void stop_workers() { start_workers(1); }

}  // namespace veska
