// Lengths of time in messages and traces, written one way everywhere.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

// "2 s", "0.5 s": a limit or a wait, as an operator would have typed it.
inline std::string seconds_text(double seconds) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%g s", seconds);
  return buffer;
}

// "0.021 s": a measured time, to the millisecond.
inline std::string timing_text(double seconds) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.3f s", seconds);
  return buffer;
}

}  // namespace quillon
