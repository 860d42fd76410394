#include "base/page_prefault.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <system_error>

#include "base/speed_threads.hpp"
#include "base/threads.hpp"

namespace quillon {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it
#endif

namespace {
constexpr std::uintptr_t step = std::uintptr_t{1} << 20;
constexpr std::uintptr_t page = 4096;  // rounding only: a larger page size is a multiple
}  // namespace

PagePrefault::PagePrefault(void* begin, std::size_t bytes) {
  const auto first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
  if (end <= first || !speed_thread_on(SpeedThread::prefault)) return;
  try {
    thread_ = start_thread([first, end](std::stop_token stop) {
      for (std::uintptr_t at = first; at < end && !stop.stop_requested(); at += step) {
        const std::uintptr_t n = end - at < step ? end - at : step;
        // Advice only: an older kernel refuses it, and the writer faults the pages itself.
        if (madvise(reinterpret_cast<void*>(at), n, MADV_POPULATE_WRITE) != 0) return;
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: the writer faults the pages itself.
  }
}

PagePrefault::~PagePrefault() = default;  // jthread: stop requested, then joined

}  // namespace quillon
