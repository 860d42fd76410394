// Paths composed as the host composes them.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// os.path.join of two parts: `name` when it is absolute, otherwise `dir`
// and `name` with one "/" between them unless `dir` is empty or ends in "/".
std::string join_path(std::string_view dir, std::string_view name);

// The last component of `path` (os.path.basename): what follows its last
// "/", the whole path when it has none.
std::string_view base_name(std::string_view path);

}  // namespace quillon
