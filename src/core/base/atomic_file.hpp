// Files a run leaves behind (--save) are written whole or not at all: the
// content goes to a file without a name in the same directory, which takes
// the name only once it is complete and on disk, so that a run that fails or
// is stopped at any point leaves the earlier file as it was and no partial
// or temporary file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillon {

// Hands `produce` a writer for the content, then puts the file in place at
// `path`, replacing what was there. OsError (with `path`) when it cannot.
void write_file_atomically(const std::string& path,
                           const std::function<void(const std::function<void(std::string_view)>&)>& produce);

// mkdir -p: `path` and its missing parents; OsError when one cannot be made.
void make_directories(const std::string& path);

}  // namespace quillon
