// quillon._core.parse_command_line / default_help_width: the command line
// parser, for differential tests against the host's argparse.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "host/host_text.hpp"

namespace nb = nanobind;

namespace {

// Lone surrogates (undecodable bytes of sys.argv) pass through unchanged.
nb::object optional_text(const std::optional<std::string>& value) {
  if (!value) return nb::none();
  return quillon::host::host_text(*value);
}

template <typename Number>
nb::object optional_number(const std::optional<Number>& value) {
  return value ? nb::cast(*value) : nb::none();
}

}  // namespace

void bind_command_line(nb::module_& m) {
  m.def(
      "parse_command_line",
      [](nb::list args, nb::handle prog, int width) {
        std::vector<std::string> arguments;
        for (nb::handle arg : args) arguments.push_back(quillon::host::checked_wtf8(arg));
        quillon::CommandLineOutcome outcome =
            quillon::parse_command_line(arguments, quillon::host::checked_wtf8(prog), width);
        using Action = quillon::CommandLineOutcome::Action;
        const char* action = outcome.action == Action::run       ? "run"
                             : outcome.action == Action::help    ? "help"
                             : outcome.action == Action::version ? "version"
                                                                 : "usage_error";
        nb::object options = nb::none();
        if (outcome.action == Action::run) {
          const quillon::CommandLineOptions& o = outcome.options;
          nb::dict d;
          d["controller_ip"] = optional_text(o.controller_ip);
          d["username"] = optional_text(o.username);
          d["password"] = optional_text(o.password);
          d["config_dir"] = optional_text(o.config_dir);
          d["connect_timeout"] = optional_number(o.connect_timeout);
          d["max_time"] = optional_number(o.max_time);
          d["retry"] = optional_number(o.retry);
          d["retry_delay"] = optional_number(o.retry_delay);
          d["cacert"] = optional_text(o.cacert);
          d["max_filesize"] = optional_number(o.max_filesize);
          d["verify"] = nb::bool_(o.verify);
          d["verbose"] = nb::bool_(o.verbose);
          d["jobs"] = optional_number(o.jobs);
          d["json"] = nb::bool_(o.json);
          d["save"] = optional_text(o.save);
          d["compare"] = optional_text(o.compare);
          nb::list files;
          for (const std::string& file : o.files) files.append(quillon::host::host_text(file));
          d["files"] = files;
          options = d;
        }
        return nb::make_tuple(action, options, quillon::host::host_text(outcome.output), outcome.exit_status);
      },
      nb::arg("args"), nb::arg("prog"), nb::arg("width"),
      "(action, options or None, output, exit status) for a command line, as argparse would decide it;\n"
      "action is run, help, version or usage_error.");
  m.def("default_help_width", &quillon::default_help_width,
        "The help formatter's default width: terminal columns (COLUMNS, the terminal, or 80) minus 2.");
}
