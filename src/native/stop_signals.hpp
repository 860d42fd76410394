// The one place that waits for the signals that stop a run: SIGINT, SIGTERM
// and SIGHUP. main() blocks them before anything else, so every thread
// inherits the mask and no system call is ever cut short by them; one thread
// takes them from a signalfd. The first raises the stop flag, which the run
// polls (check_interrupt) to unwind, write out what completed and end by the
// signal itself. Meanwhile the thread pokes the main thread every 50 ms
// with a signal of its own whose handler does nothing, so that a blocked
// system call there (a write to a pipe nobody reads, a terminal read)
// returns EINTR and the run can see the flag. A run still going after the
// grace period is stuck where no check reaches (a long decode): the thread
// then puts the terminal's settings back and ends the process by the
// signal. A second signal ends it at once.
#pragma once

#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace quillon {

class StopSignals {
 public:
  // How long the run has to stop by itself.
  static constexpr int grace_ms = 500;
  static constexpr int poke_ms = 50;

  // Blocks the stop signals on the calling thread: main(), before any other
  // thread exists. A signal that was ignored when the program started (as
  // for a job run in the background) stays ignored.
  static void block();
  // Ends the process by `signal` with its default action.
  [[noreturn]] static void end_by(int signal);

  // Starts the thread that waits for them; the calling thread is the one
  // it pokes.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal received, or 0.
  int received() const { return received_.load(); }

  // The terminal whose settings a forced end puts back while they are
  // changed (echo off at the password prompt).
  void save_terminal(int fd, const termios& settings);
  void forget_terminal();

 private:
  void wait_for_signals();
  [[noreturn]] void end_now(int signal);

  std::atomic<int> received_{0};
  pthread_t main_thread_;
  int signal_fd_ = -1;
  int wake_fd_ = -1;  // written when the program ends on its own
  std::mutex terminal_mutex_;
  std::optional<std::pair<int, termios>> terminal_;
  std::jthread thread_;
};

}  // namespace quillon
