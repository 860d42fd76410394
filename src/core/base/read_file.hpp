// A whole file into memory, with the host's OSError (errno and path) when it
// cannot be opened or read.
#pragma once

#include <functional>
#include <string>

namespace quillon {

// The bytes of the file at `path`; OsError on failure. While it waits for a
// file that is not regular (a FIFO whose writer is silent or not there yet)
// it calls `check_interrupt` about every 100 ms; what that throws ends the
// read (Ctrl-C, a stopped run).
std::string read_file(const std::string& path, const std::function<void()>& check_interrupt = {});

}  // namespace quillon
