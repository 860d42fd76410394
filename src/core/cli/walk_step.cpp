#include "cli/walk_step.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/errors.hpp"
#include "base/list_directory.hpp"
#include "base/paths.hpp"
#include "config/config_reader.hpp"

namespace quillon {

std::vector<std::string> config_file_names(const std::string& config_dir) {
  std::vector<std::string> names = list_directory(config_dir);
  std::erase_if(names, [](const std::string& name) { return !std::string_view(name).ends_with(".cfg"); });
  return names;
}

std::vector<std::string> config_file_paths(const RunSettings& settings) {
  if (!settings.files.empty()) return settings.files;
  std::vector<std::string> paths;
  for (const std::string& name : config_file_names(settings.config_dir))
    paths.push_back(join_path(settings.config_dir, name));
  return paths;
}

std::string config_file_path(std::string_view file, std::string_view config_dir) {
  if (file.find('/') != std::string_view::npos) return std::string(file);
  return join_path(config_dir, file);
}

void check_config_file(const std::string& path) {
  // Not opened: a FIFO's writer would take an open and close for its reader.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw OsError(errno, path);
  if (S_ISDIR(st.st_mode)) throw OsError(EISDIR, path);
  if (::access(path.c_str(), R_OK) != 0) throw OsError(errno, path);
}

json::Document run_config_file(ControllerSession& session, const std::string& path,
                               const std::function<void()>& check_interrupt,
                               const std::function<void(const std::optional<std::string>&)>& described) {
  try {
    check_interrupt();
    config::Reader config;
    config.read_path(path, check_interrupt);
    std::optional<std::string> description;
    try {
      description = config.get("default", "description") + "\n";
    } catch (const config::ConfigError&) {
      // A file without a readable description still runs.
    }
    described(description);
    return session.run_query_file(path);
  } catch (Error& e) {
    if (e.files().empty()) e.add_file(std::string(base_name(path)));  // failed before the query ran
    throw;
  } catch (const std::bad_alloc&) {
    throw out_of_memory(std::string(base_name(path)));
  }
}

}  // namespace quillon
