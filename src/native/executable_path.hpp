// The running executable's own path, links resolved, so that what is
// installed beside it (the configuration directory, the package's program)
// is found from wherever it is started; argv[0] when /proc is unavailable.
#pragma once

#include <unistd.h>

#include <climits>
#include <string>

namespace quillon {

inline std::string executable_path(const char* argv0) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
  return argv0 != nullptr ? argv0 : "quillon";
}

}  // namespace quillon
