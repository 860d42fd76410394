#include "base/list_directory.hpp"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "base/errors.hpp"

namespace quillon {

std::vector<std::string> list_directory(const std::string& path) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) throw OsError(errno, path);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
    errno = 0;
  }
  if (errno != 0) throw OsError(errno, path);
  return names;
}

}  // namespace quillon
