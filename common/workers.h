// The worker pool of the estimation loops: N - 1 threads started once per
// run plus the calling thread, which share the chunks of one call. Chunks
// are taken in any order, so a caller that needs the same bits for every
// thread count gives each chunk a place of its own for its results and
// combines them in chunk order afterwards.
//
// A fatal error (die, raise_numerical_error, ...) inside a chunk must not end
// the process from beneath the other threads: while a run is on, it is
// carried back as a DeferredFatal, and once every thread has stopped the
// calling thread raises the one of the lowest chunk again. That is the error
// a single thread, running the chunks in order, would have met first.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace veska {

// The most threads --threads accepts.
constexpr int kMaxThreads = 1024;

// The CPUs this process may run on (its affinity mask), 1 to kMaxThreads.
int available_cpus();

class WorkerPool {
 public:
  // threads - 1 workers; with 1 no thread is started.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls task(chunk, thread) once for every chunk in [0, n_chunks) on at
  // most max_threads threads, thread 0 being the caller and the others
  // numbered from 1; returns when every chunk has run. One chunk, or one
  // thread, runs on the caller alone, in chunk order, and so does a run
  // started from inside a chunk. Nothing is allocated.
  template <typename Task>
  void run(int n_chunks, int max_threads, Task&& task) {
    run_erased(n_chunks, max_threads, &call<Task>, &task);
  }

 private:
  using Erased = void (*)(void* task, int chunk, int thread);
  template <typename Task>
  static void call(void* task, int chunk, int thread) {
    (*static_cast<Task*>(task))(chunk, thread);
  }
  void run_erased(int n_chunks, int max_threads, Erased fn, void* task);
  void take_chunks(int thread);
  void worker_main(int thread);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  bool stop_ = false;
  unsigned long generation_ = 0;
  int busy_ = 0;  // workers that have not finished the current run

  // The current run (set under the mutex before the workers wake).
  Erased fn_ = nullptr;
  void* task_ = nullptr;
  int n_chunks_ = 0;
  int participants_ = 0;
  int next_chunk_ = 0;  // under the mutex
  int error_chunk_ = 0;  // the lowest chunk that failed (n_chunks_: none)
  std::exception_ptr error_;
};

// The process's pool. It has one thread (no worker) until start_workers.
WorkerPool& worker_pool();
// Replaces the pool by one of `threads` threads (the run, after the options).
void start_workers(int threads);
// Back to one thread: the workers are joined.
void stop_workers();

}  // namespace veska
