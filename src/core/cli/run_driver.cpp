#include "cli/run_driver.hpp"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "base/errors.hpp"
#include "cli/command_line.hpp"
#include "cli/default_config_dir.hpp"
#include "client/controller_client.hpp"
#include "config/config_reader.hpp"
#include "print/printer.hpp"
#include "text/unicode.hpp"

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

void run_main(FrontEnd& front_end, Transport& transport, const std::string& prog, const std::string& own_file) {
  CommandLineOutcome outcome = parse_command_line(front_end.arguments(), prog, default_help_width());
  if (outcome.action != CommandLineOutcome::Action::run) {
    front_end.write_usage(outcome.output, outcome.action == CommandLineOutcome::Action::usage_error);
    front_end.exit(outcome.exit_status);
  }
  // Values go on to paths and the wire as the bytes that were typed.
  CommandLineOptions options;
  for (auto [in, out] : {std::pair{&outcome.options.controller_ip, &options.controller_ip},
                         std::pair{&outcome.options.username, &options.username},
                         std::pair{&outcome.options.password, &options.password},
                         std::pair{&outcome.options.config_dir, &options.config_dir}})
    if (*in) *out = unicode::unescape_surrogates(**in);
  auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };

  RunSettings settings;
  settings.controller_ip =
      given(options.controller_ip) ? *options.controller_ip : front_end.ask_line("Enter Norvane Controller IP: ");
  settings.username = given(options.username) ? *options.username : "admin";
  settings.password =
      given(options.password) ? *options.password : front_end.ask_password("Enter Norvane Controller Password: ");
  settings.config_dir = given(options.config_dir) ? *options.config_dir : default_config_dir(own_file);

  ControllerClient(transport, front_end).get_norvane_cid(settings.controller_ip, settings.username, settings.password);
  walk_config_dir(front_end, transport, settings);
}

void walk_config_dir(FrontEnd& front_end, Transport& transport, const RunSettings& settings) {
  ControllerClient client(transport, front_end);
  for (const std::string& file : list_directory(settings.config_dir)) {
    if (!std::string_view(file).ends_with(".cfg")) continue;
    std::string filepath = join_path(settings.config_dir, file);

    config::Reader config;
    config.read_path(filepath);
    try {
      front_end.print_description(config.get("default", "description") + "\n");
    } catch (const config::ConfigError&) {
      // A file without a readable description still runs.
    }

    json::Document result =
        client.norvane_api(settings.controller_ip, settings.username, settings.password, settings.config_dir, filepath);
    pretty_print(result.root, [&](std::string_view chunk) { front_end.write_result(chunk); });
    front_end.print("\n\n");
  }
}

}  // namespace quillon
