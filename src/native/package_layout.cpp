#include "package_layout.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace quillon {
namespace {

// The path without its last component: "." for a bare name, "/" at the root.
std::string parent(std::string_view path) {
  if (path == ".") return "..";
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string under(const std::string& prefix, std::string_view rest) {
  std::string path = prefix;
  if (path.back() != '/') path += '/';
  path.append(rest);
  return path;
}

}  // namespace

std::vector<std::string> package_program_candidates(std::string_view command_path, std::string_view python_dir) {
  const std::string prefix = parent(parent(command_path));  // <prefix>/bin/quillon
  const std::string py(python_dir);
  constexpr std::string_view program = "quillon/quillon";
  return {
      under(prefix, "lib/" + py + "/site-packages/" + std::string(program)),    // venv, --user, --prefix
      under(prefix, "lib64/" + py + "/site-packages/" + std::string(program)),  // platlib in lib64
      under(prefix, "lib/" + py + "/dist-packages/" + std::string(program)),    // pip on a distribution's Python
      under(prefix, "lib/python3/dist-packages/" + std::string(program)),       // a distribution's own packages
      under(prefix, program),                                                   // pip install --target <prefix>
  };
}

std::string find_package_program(std::string_view command_path, std::string_view python_dir) {
  for (const std::string& candidate : package_program_candidates(command_path, python_dir)) {
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

}  // namespace quillon
