// A thread the program starts must leave the stop signals to the thread that
// handles them; the caller's own mask is left as it was.
#include <gtest/gtest.h>
#include <pthread.h>

#include "base/threads.hpp"

namespace {

bool blocked_here(int signal) {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, signal) == 1;
}

TEST(Threads, NewThreadBlocksStopSignalsCallerKeepsItsMask) {
  ASSERT_FALSE(blocked_here(SIGINT));
  bool blocked[3] = {};
  quillon::start_thread([&] {
    blocked[0] = blocked_here(SIGINT);
    blocked[1] = blocked_here(SIGTERM);
    blocked[2] = blocked_here(SIGHUP);
  }).join();
  EXPECT_TRUE(blocked[0] && blocked[1] && blocked[2]);
  EXPECT_FALSE(blocked_here(SIGINT) || blocked_here(SIGTERM) || blocked_here(SIGHUP));
}

}  // namespace
