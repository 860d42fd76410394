// A whole file into memory, with the host's OSError (errno and path) when it
// cannot be opened or read.
#pragma once

#include <functional>
#include <string>

namespace quillon {

// The bytes of the file at `path`; OsError on failure. A signal that stops
// the wait for a slow file (a FIFO whose writer is silent) calls
// `check_interrupt`, whose exception ends the read (Ctrl-C).
std::string read_file(const std::string& path, const std::function<void()>& check_interrupt = {});

}  // namespace quillon
