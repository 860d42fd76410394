// Faulting pages in on another thread must never disturb what this thread
// writes into them meanwhile, nor outlive the object that started it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "base/page_prefault.hpp"

namespace {

TEST(PagePrefaultThreads, WritesMeanwhileStayAsWritten) {
  constexpr std::size_t bytes = std::size_t{48} << 20;
  static_assert(bytes >= quillon::PagePrefault::worth_bytes);
  for (std::size_t stop_after : {std::size_t{0}, bytes / 3, bytes}) {
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
    {
      quillon::PagePrefault prefault(buffer.get(), bytes);
      for (std::size_t i = 0; i < stop_after; i += 512) buffer[i] = static_cast<std::uint8_t>(i >> 9);
    }  // stopped and joined here, however far it got
    for (std::size_t i = 0; i < stop_after; i += 512) ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(i >> 9)) << i;
  }
}

}  // namespace
