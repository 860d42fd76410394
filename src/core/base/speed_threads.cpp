#include "base/speed_threads.hpp"

#include <cstdlib>
#include <string_view>

namespace quillon {
namespace {

constexpr unsigned bit(SpeedThread thread) { return 1u << static_cast<unsigned>(thread); }

// The threads QUILLON_THREADS turns off; unknown words are ignored.
unsigned turned_off() {
  const char* value = std::getenv("QUILLON_THREADS");
  if (value == nullptr) return 0;
  unsigned off = 0;
  std::string_view rest = value;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view word = rest.substr(0, comma);
    if (word == "no-print") off |= bit(SpeedThread::print);
    if (word == "no-decode") off |= bit(SpeedThread::decode);
    if (word == "no-prefault") off |= bit(SpeedThread::prefault);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return off;
}

}  // namespace

bool speed_thread_on(SpeedThread thread) {
  static const unsigned off = turned_off();
  return (off & bit(thread)) == 0;
}

}  // namespace quillon
