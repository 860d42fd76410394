#include "base/threads.hpp"

#include <pthread.h>

namespace quillon {

sigset_t StopSignalsBlocked::signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

StopSignalsBlocked::StopSignalsBlocked() {
  const sigset_t stop = signals();
  pthread_sigmask(SIG_BLOCK, &stop, &saved_);
}

StopSignalsBlocked::~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace quillon
