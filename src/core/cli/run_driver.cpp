#include "cli/run_driver.hpp"

#include <cstdlib>
#include <map>
#include <memory>

#include "base/atomic_file.hpp"
#include "base/errors.hpp"
#include "base/paths.hpp"
#include "cli/command_line.hpp"
#include "cli/default_config_dir.hpp"
#include "cli/file_report.hpp"
#include "cli/parallel_walk.hpp"
#include "cli/walk_step.hpp"
#include "client/controller_session.hpp"
#include "print/json_writer.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

// The FILE arguments as paths, each checked; one that cannot be run ends the
// run as argparse's FileType would refuse it. Files saved or compared under
// the same name must be the same file.
std::vector<std::string> chosen_files(FrontEnd& front_end, std::string_view prog, const CommandLineOptions& options,
                                      const std::string& config_dir) {
  auto refuse = [&](const std::string& message) {
    front_end.write_usage(usage_error_text(prog, default_help_width(), unicode::escape_controls(message)), true);
    front_end.exit(2);
  };
  const bool kept = options.save.value_or("") != "" || options.compare.value_or("") != "";
  std::vector<std::string> paths;
  for (const std::string& file : options.files) {
    paths.push_back(config_file_path(unicode::unescape_surrogates(file), config_dir));
    try {
      check_config_file(paths.back());
    } catch (const OsError& e) {
      refuse("argument FILE: can't open " + repr::quoted(file) + ": " + e.what());
    }
  }
  std::map<std::string_view, std::size_t> first_by_name;
  for (std::size_t i = 0; kept && i < paths.size(); ++i) {
    auto [first, added] = first_by_name.emplace(base_name(paths[i]), i);
    if (!added && paths[first->second] != paths[i])
      refuse("argument FILE: " + repr::quoted(options.files[first->second]) + " and " + repr::quoted(options.files[i]) +
             " have the same saved result " + repr::quoted(std::string(first->first) + ".json"));
  }
  return paths;
}

}  // namespace

RunSettings resolve_settings(FrontEnd& front_end, const CommandLineOptions& options, const std::string& own_file,
                             std::string_view prog) {
  // An option counts when given and not empty; values go on to paths and the
  // wire as the bytes that were typed.
  auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };
  auto typed = [](const std::string& value) { return unicode::unescape_surrogates(value); };
  auto configuration_directory = [&] {
    return given(options.config_dir) ? typed(*options.config_dir) : default_config_dir(own_file);
  };
  // FILE arguments are checked before any prompt: a mistyped name costs no password.
  std::optional<std::string> config_dir;
  std::vector<std::string> files;
  if (!options.files.empty()) {
    config_dir = configuration_directory();
    files = chosen_files(front_end, prog, options, *config_dir);
  }

  auto ask_line = [&](std::string_view prompt) {
    if (!options.json) return front_end.ask_line(prompt);
    front_end.note(prompt);  // standard output holds JSON lines only
    return front_end.ask_line("");
  };
  std::string controller_ip =
      given(options.controller_ip) ? typed(*options.controller_ip) : ask_line("Enter Norvane Controller IP: ");
  std::string username = given(options.username) ? typed(*options.username) : "admin";
  std::string password;
  if (given(options.password)) {
    password = typed(*options.password);
  } else if (const char* from_environment = std::getenv("QUILLON_PASSWORD"); from_environment && *from_environment) {
    password = from_environment;  // for scheduled runs: neither the process list nor a terminal
  } else {
    password = front_end.ask_password("Enter Norvane Controller Password: ");
  }
  if (!config_dir) config_dir = configuration_directory();
  RunSettings settings = RunSettings::for_controller(std::move(controller_ip), std::move(username), std::move(password),
                                                     std::move(*config_dir));
  settings.files = std::move(files);
  if (given(options.save)) settings.save_dir = typed(*options.save);
  if (given(options.compare)) settings.compare_dir = typed(*options.compare);

  // A limit of 0 is no limit, as in curl.
  TransportOptions& transport = settings.transport;
  if (options.connect_timeout > 0.0) transport.connect_timeout = options.connect_timeout;
  if (options.max_time > 0.0) transport.max_time = options.max_time;
  transport.retries = options.retry.value_or(0);
  transport.retry_delay = options.retry_delay.value_or(1.0);
  // Even empty ("--cacert=--"): a check asked for is never silently dropped.
  if (options.cacert) transport.cacert = typed(*options.cacert);
  if (options.max_filesize.value_or(0) > 0) transport.max_filesize = *options.max_filesize;
  transport.verify = options.verify;
  settings.jobs = static_cast<unsigned>(options.jobs.value_or(0));
  settings.verbose = options.verbose;
  settings.json = options.json;
  return settings;
}

void run_main(FrontEnd& front_end, Transport& transport, const std::string& prog, const std::string& own_file) {
  CommandLineOutcome outcome = parse_command_line(front_end.arguments(), prog, default_help_width());
  if (outcome.action != CommandLineOutcome::Action::run) {
    front_end.write_usage(outcome.output, outcome.action == CommandLineOutcome::Action::usage_error);
    front_end.exit(outcome.exit_status);
  }
  for (const ArgumentPart& secret : outcome.options.password_values)
    front_end.hide_argument(secret.index, secret.offset);
  const RunSettings settings = resolve_settings(front_end, outcome.options, own_file, prog);
  // Before anything is sent: a directory that cannot be made ends the run.
  if (!settings.save_dir.empty()) make_directories(settings.save_dir);
  // The front end made its transport before the options were known.
  transport.configure(settings.transport);
  const RequestLog log(settings.verbose, [&](std::string_view line) { front_end.note(line); });
  // A refused login ends the run with status 1, wherever it happens; an
  // answer that was no login answer (a proxy's) says why on standard error.
  auto login_failed = [&](const LoginRefused& refused) {
    if (settings.json)
      front_end.note("Login failed\n");  // standard output holds JSON lines only
    else
      front_end.print("Login failed\n");
    if (!refused.reason().empty()) front_end.note("quillon: " + std::string(refused.what()) + "\n");
    front_end.exit(1);
  };
  try {
    ControllerSession session(transport, settings, [&] { front_end.check_interrupt(); });
    session.log_requests_to(&log);
    session.login();
  } catch (const LoginRefused& refused) {
    if (settings.json)  // before any file: a line of its own
      write_json_error_line(std::nullopt, std::nullopt, "LoginFailed", refused.what(),
                            [&](std::string_view chunk) { front_end.write_result(chunk); });
    login_failed(refused);
  }
  bool differs = false;
  try {
    differs = walk_config_dir(front_end, transport, settings, &log);
  } catch (const LoginRefused& refused) {
    login_failed(refused);
  }
  if (differs) front_end.exit(3);  // so that cron can tell drift from failure
}

bool walk_config_dir(FrontEnd& front_end, Transport& transport, const RunSettings& settings, const RequestLog* log) {
  if (settings.jobs > 0)
    return walk_config_dir_in_parallel(
        front_end, settings,
        [&] {
          // Each worker keeps its connection open between its requests.
          TransportOptions options = settings.transport;
          options.reuse_connections = true;
          return std::make_unique<CurlTransport>(options);
        },
        log);
  const std::function<void()> check_interrupt = [&] { front_end.check_interrupt(); };
  ControllerSession session(transport, settings, check_interrupt);
  session.log_requests_to(log);
  FileReport report(front_end, settings);
  for (const std::string& path : config_file_paths(settings)) {
    const std::string_view file = base_name(path);
    try {
      json::Document result =
          run_config_file(session, path, check_interrupt,
                          [&](const std::optional<std::string>& description) { report.description(description); });
      report.result(file, result.root);
    } catch (...) {
      report.failure(file, std::current_exception());
      throw;
    }
  }
  return report.differs();
}

}  // namespace quillon
