#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "common/common.h"

void parallel_tasks(uli ntasks, uli nthreads,
                    const std::function<void(uli, const std::atomic<bool>&)>& task) {
  if (ntasks == 0) return;
  if (nthreads == 0) nthreads = 1;
  nthreads = std::min(nthreads, ntasks);
  std::vector<std::exception_ptr> failure(ntasks);
  std::atomic<uli> next{0};
  std::atomic<bool> stop{false};
  std::mutex m;
  std::condition_variable cv;
  uli done = 0;
  auto worker = [&] {
    for (;;) {
      if (stop.load(std::memory_order_relaxed)) break;
      const uli t = next.fetch_add(1);
      if (t >= ntasks) break;
      try {
        task(t, stop);
      } catch (...) {
        failure[t] = std::current_exception();
        stop.store(true);
      }
    }
    std::lock_guard<std::mutex> lk(m);
    ++done;
    cv.notify_one();
  };
  std::vector<std::thread> threads;
  threads.reserve(nthreads);
  // Whatever happens while waiting (an interrupt), every thread is joined
  // before this function is left.
  struct Joiner {
    std::vector<std::thread>& t;
    std::atomic<bool>& stop;
    ~Joiner() {
      stop.store(true);
      for (auto& x : t)
        if (x.joinable()) x.join();
    }
  } joiner{threads, stop};
  for (uli w = 0; w < nthreads; ++w) threads.emplace_back(worker);
  {
    std::unique_lock<std::mutex> lk(m);
    while (done < nthreads) {
      if (cv.wait_for(lk, std::chrono::milliseconds(100), [&] { return done == nthreads; })) break;
      lk.unlock();
      check_interrupt();
      lk.lock();
    }
  }
  for (auto& x : threads) x.join();
  for (auto& e : failure)
    if (e) std::rethrow_exception(e);
}
