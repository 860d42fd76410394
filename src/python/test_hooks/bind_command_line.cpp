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
        const char* action = outcome.action == Action::run    ? "run"
                             : outcome.action == Action::help ? "help"
                                                              : "usage_error";
        nb::object options = nb::none();
        if (outcome.action == Action::run) {
          nb::dict d;
          d["controller_ip"] = optional_text(outcome.options.controller_ip);
          d["username"] = optional_text(outcome.options.username);
          d["password"] = optional_text(outcome.options.password);
          d["config_dir"] = optional_text(outcome.options.config_dir);
          options = d;
        }
        return nb::make_tuple(action, options, quillon::host::host_text(outcome.output), outcome.exit_status);
      },
      nb::arg("args"), nb::arg("prog"), nb::arg("width"),
      "(action, options or None, output, exit status) for a command line, as argparse would decide it.");
  m.def("default_help_width", &quillon::default_help_width,
        "The help formatter's default width: terminal columns (COLUMNS, the terminal, or 80) minus 2.");
}
