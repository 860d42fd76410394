#include "stop_signals.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "base/threads.hpp"

namespace quillon {
namespace {

// The stop signals this program handles: those it did not start ignoring.
sigset_t handled;

// The poke: a signal nobody else sends, that interrupts without restarting.
int poke_signal() { return SIGRTMIN; }
void on_poke(int) {}

}  // namespace

void StopSignals::block() {
  const sigset_t stop = StopSignalsBlocked::signals();
  sigemptyset(&handled);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (sigismember(&stop, signal) != 1) continue;
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&handled, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &handled, nullptr);
}

void StopSignals::end_by(int signal) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(signal, &default_action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached: the default action of each stop signal ends the process
}

StopSignals::StopSignals() : main_thread_(::pthread_self()) {
  if (sigisemptyset(&handled)) return;
  struct sigaction poke {};
  poke.sa_handler = on_poke;
  sigemptyset(&poke.sa_mask);
  poke.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
  ::sigaction(poke_signal(), &poke, nullptr);
  signal_fd_ = ::signalfd(-1, &handled, SFD_CLOEXEC);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC);
  if (signal_fd_ < 0 || wake_fd_ < 0) {
    // Without the waiting thread the signals must act as they would by default.
    ::pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
    return;
  }
  thread_ = start_thread([this] { wait_for_signals(); });
}

StopSignals::~StopSignals() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (::write(wake_fd_, &one, sizeof one) == sizeof one)
      thread_.join();
    else
      thread_.detach();
  }
  if (signal_fd_ >= 0) ::close(signal_fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void StopSignals::save_terminal(int fd, const termios& settings) {
  std::lock_guard lock(terminal_mutex_);
  terminal_.emplace(fd, settings);
}

void StopSignals::forget_terminal() {
  std::lock_guard lock(terminal_mutex_);
  terminal_.reset();
}

void StopSignals::wait_for_signals() {
  using clock = std::chrono::steady_clock;
  std::optional<clock::time_point> deadline;
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - clock::now()).count();
      if (left <= 0) end_now(received_.load());
      ::pthread_kill(main_thread_, poke_signal());
      timeout = static_cast<int>(std::min<long long>(left, poke_ms));
    }
    pollfd ready[2] = {{signal_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (::poll(ready, 2, timeout) < 0 && errno != EINTR) return;
    if (ready[1].revents != 0) return;  // the program ends on its own
    if ((ready[0].revents & POLLIN) == 0) continue;
    signalfd_siginfo info{};
    if (::read(signal_fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    int first = 0;
    if (!received_.compare_exchange_strong(first, static_cast<int>(info.ssi_signo))) end_now(first);
    deadline = clock::now() + std::chrono::milliseconds(grace_ms);
  }
}

void StopSignals::end_now(int signal) {
  {
    std::lock_guard lock(terminal_mutex_);
    if (terminal_) ::tcsetattr(terminal_->first, TCSANOW, &terminal_->second);
  }
  end_by(signal);
}

}  // namespace quillon
