#include "cli/default_config_dir.hpp"

#include <sys/stat.h>

#include "base/errors.hpp"

namespace quillon {

std::string compose_default_config_dir(std::string_view own_file) {
  std::size_t slash = own_file.rfind('/');
  std::string_view dir = slash == std::string_view::npos ? std::string_view() : own_file.substr(0, slash + 1);
  // Trailing slashes go, unless the directory is made of slashes only.
  if (dir.find_first_not_of('/') != std::string_view::npos)
    while (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
  return join_path(dir, "config");
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string default_config_dir(std::string_view own_file) {
  std::string path = compose_default_config_dir(own_file);
  if (!is_directory(path))
    throw Error(ErrorKind::default_config_dir_missing, "Default config directory not found: " + path);
  return path;
}

}  // namespace quillon
