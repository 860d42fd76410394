// The configuration directory that ships with the program: "config" beside
// the program's own file.
#pragma once

#include <string>
#include <string_view>

#include "base/paths.hpp"

namespace quillon {

// os.path.dirname of `own_file` joined with "config", as the host composes them.
std::string compose_default_config_dir(std::string_view own_file);
// os.path.isdir: follows links, never fails (an unreadable path is "no").
bool is_directory(const std::string& path);
// The composed path when it names a directory; otherwise an Error of kind
// default_config_dir_missing: "Default config directory not found: <path>".
std::string default_config_dir(std::string_view own_file);

}  // namespace quillon
