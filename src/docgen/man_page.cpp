#include "man_page.hpp"

#include <string_view>

#include "base/version.hpp"
#include "cli/command_line_help.hpp"
#include "cli/option_table.hpp"

namespace quillon::docgen {
namespace {

struct Entry {
  std::string_view term;
  std::string_view text;
};

// libcurl's own proxy settings, which every request honours (the host's HTTP
// client reads the same ones). http_proxy is not among them: the controller is
// only reached over HTTPS.
constexpr Entry proxy_variables[] = {
    {"https_proxy, HTTPS_PROXY",
     "The proxy that requests to the controller go through, e.g. http://proxy.example.net:3128 (read by libcurl)."},
    {"all_proxy, ALL_PROXY", "The proxy to use when https_proxy is not set."},
    {"no_proxy, NO_PROXY",
     "Comma-separated host names (or * for all) that are reached directly, not through the proxy."},
};

constexpr Entry exit_statuses[] = {
    {"0", "The run finished, or help or the version was shown."},
    {"1", "A login was refused (Login failed is printed), or an error ended the run (reported on standard error)."},
    {"2", "The command line was not understood, or a FILE cannot be read (usage on standard error)."},
    {"3", "With --compare: a result differs from the saved one, or has none."},
    {"130, 143, 129",
     "Stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP: the native program ends by that signal itself, which a shell "
     "reports as 128 plus its number; what completed before it is written out."},
};

constexpr Entry examples[] = {
    {"Run the configuration files of the default directory; the controller's address and the password are asked for:",
     "quillon"},
    {"A scheduled run: the password from the environment, no terminal, a time limit on every request and up to two "
     "retries of a transient failure:",
     "QUILLON_PASSWORD=\"$(cat /etc/quillon/password)\" quillon --controller_ip 10.0.0.5 --max-time 60 --retry 2 "
     "< /dev/null"},
    {"Check the controller's certificate and run up to eight files at once, the output kept in a file:",
     "quillon --controller_ip controller.example.net --verify --jobs 8 > audit.txt"},
    {"One JSON object per file for other tools; here, the names of the files that failed:",
     "quillon --controller_ip 10.0.0.5 --json | jq -r 'select(.error) | .file'"},
    {"The same run through the Python module, with a directory of one's own:",
     "quillon-py --controller_ip 10.0.0.5 --config_dir ./checks"},
};

// Text for a troff line: backslashes escaped, a leading control character neutralised.
std::string roff(std::string_view text) {
  std::string out = replace_all(text, "\\", "\\e");
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

// Words to be typed: hyphens as minus signs, so that they can be searched and copied.
std::string roff_literal(std::string_view text) { return replace_all(roff(text), "-", "\\-"); }

// An option name in bold.
std::string roff_option(std::string_view name) { return cat({"\\fB", roff_literal(name), "\\fR"}); }

// As the help page shows it: "-j N, --jobs N".
std::string roff_invocation(const DocOption& option) {
  std::string value = option.metavar.empty() ? "" : cat({" \\fI", option.metavar, "\\fR"});
  std::string out;
  if (!option.short_name.empty()) out += roff_option(option.short_name) + value + ", ";
  return out + roff_option(option.long_name) + value;
}

// A tagged paragraph per entry; the terms in bold when `bold`.
std::string entries(const auto& list, bool bold) {
  std::string out;
  for (const Entry& entry : list) {
    std::string term = bold ? cat({"\\fB", replace_all(entry.term, ", ", "\\fR, \\fB"), "\\fR"}) : roff(entry.term);
    out += cat({".TP\n", term, "\n", roff(entry.text), "\n"});
  }
  return out;
}

}  // namespace

std::string man_page(const std::vector<DocOption>& options) {
  std::string out;
  out += ".\\\" Generated from the command-line option table at build time.\n";
  out += cat({".TH QUILLON 1 \"\" \"quillon ", quillon_version(), "\" \"User Commands\"\n"});
  out += ".SH NAME\nquillon \\- check a Norvane Controller against a directory of query files\n";
  out += ".SH SYNOPSIS\n.B quillon\n";
  for (const auto& option : options) {
    std::string_view name = option.short_name.empty() ? option.long_name : option.short_name;
    out += cat({"[", roff_option(name)});
    if (!option.metavar.empty()) out += cat({" \\fI", option.metavar, "\\fR"});
    out += "]\n";
  }
  const command_line::OptionSpec& files = command_line::file_arguments;
  out += cat({"[\\fI", files.metavar, "\\fR ...]\n"});
  out +=
      ".SH DESCRIPTION\n"
      "For each \\fIFILE\\fR given, in the order given, or else for every configuration file (\\fI*.cfg\\fR) of the\n"
      "configuration directory, in the order the directory lists them,\n"
      "\\fBquillon\\fR prints the file's description, logs in to the controller's HTTPS API\n"
      "(\\fIhttps://<address>/v1/api\\fR), posts the file's query, narrows the JSON answer with the file's\n"
      "filter expressions and pretty-prints what is left, followed by two empty lines.\n"
      ".PP\n"
      "\\fBquillon\\-py\\fR and \\fBpython \\-m quillon\\fR, installed with the Python package, make the same run\n"
      "through the interpreter and take the same options.\n";
  out += cat({".SH ARGUMENTS\n.TP\n\\fI", files.metavar, "\\fR\n", roff(files.help), "\n"});
  out += ".SH OPTIONS\n";
  for (const auto& option : options) out += cat({".TP\n", roff_invocation(option), "\n", roff(option.help), "\n"});
  out +=
      ".PP\n"
      "Long options may be shortened to any unique prefix and take their value as the next argument or\n"
      "after \\fB=\\fR. A value that starts with \\fB\\-\\fR must be joined with \\fB=\\fR.\n";
  out += cat({".SH ENVIRONMENT\n.TP\n\\fBQUILLON_PASSWORD\\fR\n", roff(command_line::epilog), "\n"});
  out += entries(proxy_variables, true);
  out += ".SH EXIT STATUS\n" + entries(exit_statuses, false);
  out +=
      ".SH FILES\n"
      ".TP\n"
      "\\fIconfig/\\fR\n"
      "The default configuration directory: \\fIconfig\\fR beside the program (\\fIlib/quillon/config\\fR\n"
      "under the installation prefix), or the Python package's own \\fIconfig\\fR directory when the\n"
      "program was installed with the package.\n";
  out += ".SH EXAMPLES\n";
  for (const Entry& example : examples)
    out += cat({".PP\n", roff(example.term), "\n.PP\n.RS\n.nf\n", roff_literal(example.text), "\n.fi\n.RE\n"});
  out +=
      ".SH SECURITY\n"
      "By default the controller's certificate is not verified: use the program only on networks you\n"
      "trust, or give \\fB\\-\\-cacert\\fR or \\fB\\-\\-verify\\fR. The password is never printed, logged or\n"
      "written to disk.\n";
  return out;
}

}  // namespace quillon::docgen
