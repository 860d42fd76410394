// The entries of a directory, as the host's os.listdir gives them.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// Every entry but "." and "..", in the file system's order; OsError (errno
// and path) when the directory cannot be read.
std::vector<std::string> list_directory(const std::string& path);

}  // namespace quillon
