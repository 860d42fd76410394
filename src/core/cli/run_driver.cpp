#include "cli/run_driver.hpp"

#include <cstdlib>
#include <memory>

#include "base/errors.hpp"
#include "base/paths.hpp"
#include "cli/command_line.hpp"
#include "cli/default_config_dir.hpp"
#include "cli/file_report.hpp"
#include "cli/parallel_walk.hpp"
#include "cli/walk_step.hpp"
#include "client/controller_session.hpp"
#include "print/json_writer.hpp"
#include "text/unicode.hpp"

namespace quillon {

RunSettings resolve_settings(FrontEnd& front_end, const CommandLineOptions& options, const std::string& own_file) {
  // An option counts when given and not empty; values go on to paths and the
  // wire as the bytes that were typed.
  auto given = [](const std::optional<std::string>& value) { return value && !value->empty(); };
  auto typed = [](const std::string& value) { return unicode::unescape_surrogates(value); };

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
  std::string config_dir = given(options.config_dir) ? typed(*options.config_dir) : default_config_dir(own_file);
  RunSettings settings = RunSettings::for_controller(std::move(controller_ip), std::move(username), std::move(password),
                                                     std::move(config_dir));

  // A limit of 0 is no limit, as in curl.
  TransportOptions& transport = settings.transport;
  if (options.connect_timeout > 0.0) transport.connect_timeout = options.connect_timeout;
  if (options.max_time > 0.0) transport.max_time = options.max_time;
  transport.retries = options.retry.value_or(0);
  transport.retry_delay = options.retry_delay.value_or(1.0);
  if (given(options.cacert)) transport.cacert = typed(*options.cacert);
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
  const RunSettings settings = resolve_settings(front_end, outcome.options, own_file);
  // The front end made its transport before the options were known.
  transport.configure(settings.transport);
  const RequestLog log(settings.verbose, [&](std::string_view line) { front_end.note(line); });
  // A refused login ends the run with status 1, wherever it happens.
  auto login_failed = [&] {
    if (settings.json)
      front_end.note("Login failed\n");  // standard output holds JSON lines only
    else
      front_end.print("Login failed\n");
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
    login_failed();
  }
  try {
    walk_config_dir(front_end, transport, settings, &log);
  } catch (const LoginRefused&) {
    login_failed();
  }
}

void walk_config_dir(FrontEnd& front_end, Transport& transport, const RunSettings& settings, const RequestLog* log) {
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
  FileReport report(front_end, settings.json);
  for (const std::string& file : config_file_names(settings.config_dir)) {
    try {
      json::Document result =
          run_config_file(session, join_path(settings.config_dir, file), check_interrupt,
                          [&](const std::optional<std::string>& description) { report.description(description); });
      report.result(file, result.root);
    } catch (...) {
      report.failure(file, std::current_exception());
      throw;
    }
  }
}

}  // namespace quillon
