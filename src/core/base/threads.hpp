// Every thread the program starts goes through start_thread: it leaves the
// stop signals (SIGINT, SIGTERM, SIGHUP) to the thread that handles them, so
// that Ctrl-C never lands on a helper thread that has no use for it while
// the main thread stays blocked in a write or a wait.
#pragma once

#include <signal.h>

#include <thread>
#include <utility>

namespace quillon {

// Blocks the stop signals on the calling thread for its lifetime; a thread
// started meanwhile inherits the mask.
class StopSignalsBlocked {
 public:
  StopSignalsBlocked();
  ~StopSignalsBlocked();
  StopSignalsBlocked(const StopSignalsBlocked&) = delete;
  StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

  // SIGINT, SIGTERM and SIGHUP.
  static sigset_t signals();

 private:
  sigset_t saved_;
};

// std::jthread(args...) with the stop signals blocked on the new thread.
// Throws std::system_error when no thread can be had, as std::jthread does.
template <typename... Args>
std::jthread start_thread(Args&&... args) {
  StopSignalsBlocked blocked;
  return std::jthread(std::forward<Args>(args)...);
}

}  // namespace quillon
