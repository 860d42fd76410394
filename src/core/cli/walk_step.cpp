#include "cli/walk_step.hpp"

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
  }
}

}  // namespace quillon
