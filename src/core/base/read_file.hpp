// A whole file into memory, with the host's OSError (errno and path) when it
// cannot be opened or read.
#pragma once

#include <string>

namespace quillon {

// The bytes of the file at `path`; OsError on failure.
std::string read_file(const std::string& path);

}  // namespace quillon
