// Writes the man page and the bash, zsh and fish completion scripts from the
// option table that also builds --help, so that they can never disagree.
// Run at build time: generate_docs <share-dir> writes man/man1/quillon.1,
// bash-completion/completions/quillon, zsh/site-functions/_quillon and
// fish/vendor_completions.d/quillon.fish under <share-dir>.
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/option_table.hpp"
#include "cli/version.hpp"

namespace {

namespace fs = std::filesystem;

// What an option's value is, for completion: none, free text, a file or a directory.
enum class ValueKind { flag, text, file, directory };

struct DocOption {
  std::string_view long_name;   // "--config_dir"
  std::string_view short_name;  // "-h", or empty
  std::string_view metavar;     // empty for flags
  std::string_view help;
  ValueKind kind;
  bool ends_run;  // --help, --version: print something and end the run; nothing else goes with them
};

// The one place that reads the command line's table: every option in --help
// order, -h/--help first as the help page lists it.
std::vector<DocOption> documented_options() {
  using quillon::command_line::OptionKind;
  std::vector<DocOption> options;
  for (const auto& option : quillon::command_line::option_table) {
    ValueKind kind = option.kind == OptionKind::file                   ? ValueKind::file
                     : option.kind == OptionKind::directory            ? ValueKind::directory
                     : quillon::command_line::takes_value(option.kind) ? ValueKind::text
                                                                       : ValueKind::flag;
    bool ends_run = option.kind == OptionKind::help || option.kind == OptionKind::version;
    options.push_back({option.long_name, option.short_name, option.metavar, option.help, kind, ends_run});
  }
  return options;
}

// Joins pieces into one string.
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out.append(part);
  return out;
}

std::string replace_all(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  for (std::size_t pos = 0;;) {
    std::size_t hit = text.find(from, pos);
    out.append(text.substr(pos, hit == std::string_view::npos ? std::string_view::npos : hit - pos));
    if (hit == std::string_view::npos) return out;
    out.append(to);
    pos = hit + from.size();
  }
}

// --- man page ---------------------------------------------------------------

// Text for a troff line: backslashes escaped, a leading control character neutralised.
std::string roff(std::string_view text) {
  std::string out = replace_all(text, "\\", "\\e");
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

// An option name in bold with its hyphens as minus signs, so it can be searched and copied.
std::string roff_option(std::string_view name) { return cat({"\\fB", replace_all(name, "-", "\\-"), "\\fR"}); }

// As the help page shows it: "-j N, --jobs N".
std::string roff_invocation(const DocOption& option) {
  std::string value = option.metavar.empty() ? "" : cat({" \\fI", option.metavar, "\\fR"});
  std::string out;
  if (!option.short_name.empty()) out += roff_option(option.short_name) + value + ", ";
  return out + roff_option(option.long_name) + value;
}

std::string man_page(const std::vector<DocOption>& options) {
  std::string out;
  out += ".\\\" Generated from the command-line option table at build time.\n";
  out += cat({".TH QUILLON 1 \"\" \"quillon ", quillon::quillon_version(), "\" \"User Commands\"\n"});
  out += ".SH NAME\nquillon \\- check a Norvane Controller against a directory of query files\n";
  out += ".SH SYNOPSIS\n.B quillon\n";
  for (const auto& option : options) {
    std::string_view name = option.short_name.empty() ? option.long_name : option.short_name;
    out += cat({"[", roff_option(name)});
    if (!option.metavar.empty()) out += cat({" \\fI", option.metavar, "\\fR"});
    out += "]\n";
  }
  const quillon::command_line::OptionSpec& files = quillon::command_line::file_arguments;
  out += cat({"[\\fI", files.metavar, "\\fR ...]\n"});
  out +=
      ".SH DESCRIPTION\n"
      "For each \\fIFILE\\fR given, in the order given, or else for every configuration file (\\fI*.cfg\\fR) of the\n"
      "configuration directory, in the order the directory lists them,\n"
      "\\fBquillon\\fR prints the file's description, logs in to the controller's HTTPS API\n"
      "(\\fIhttps://<address>/v1/api\\fR), posts the file's query, narrows the JSON answer with the file's\n"
      "filter expressions and pretty-prints what is left, followed by two empty lines.\n";
  out += cat({".SH ARGUMENTS\n.TP\n\\fI", files.metavar, "\\fR\n", roff(files.help), "\n"});
  out += ".SH OPTIONS\n";
  for (const auto& option : options) out += cat({".TP\n", roff_invocation(option), "\n", roff(option.help), "\n"});
  out +=
      ".PP\n"
      "Long options may be shortened to any unique prefix and take their value as the next argument or\n"
      "after \\fB=\\fR. A value that starts with \\fB\\-\\fR must be joined with \\fB=\\fR.\n";
  out +=
      ".SH FILES\n"
      ".TP\n"
      "\\fIconfig/\\fR\n"
      "The default configuration directory: \\fIconfig\\fR beside the program (\\fIlib/quillon/config\\fR\n"
      "under the installation prefix), or the Python package's own \\fIconfig\\fR directory when the\n"
      "program was installed with the package.\n";
  out +=
      ".SH EXIT STATUS\n"
      ".TP\n0\nThe run finished, or help was shown.\n"
      ".TP\n1\nA login was refused, or an error ended the run.\n"
      ".TP\n2\nThe command line was not understood, or a \\fIFILE\\fR cannot be read.\n"
      ".TP\n3\nWith \\fB\\-\\-compare\\fR: a result differs from the saved one, or has none.\n"
      ".TP\n130\nInterrupted.\n";
  out +=
      ".SH SECURITY\n"
      "By default the controller's certificate is not verified: use the program only on networks you\n"
      "trust. The password is never printed, logged or written to disk.\n";
  return out;
}

// --- bash -------------------------------------------------------------------

std::string names_of(const std::vector<DocOption>& options) {
  std::string out;
  for (const auto& option : options) {
    if (!option.short_name.empty()) out += std::string(out.empty() ? "" : " ") + std::string(option.short_name);
    out += std::string(out.empty() ? "" : " ") + std::string(option.long_name);
  }
  return out;
}

// Case patterns naming the options whose value is of `kind`, or "" when none is.
std::string case_pattern(const std::vector<DocOption>& options, ValueKind kind) {
  std::string out;
  for (const auto& option : options) {
    if (option.kind != kind) continue;
    for (std::string_view name : {option.short_name, option.long_name})
      if (!name.empty()) out += std::string(out.empty() ? "" : "|") + std::string(name);
  }
  return out;
}

std::string bash_script(const std::vector<DocOption>& options) {
  std::string longs;
  for (const auto& option : options) longs += std::string(longs.empty() ? "" : " ") + std::string(option.long_name);
  std::string out =
      "# bash completion for quillon, generated from the command-line option table.\n"
      "\n"
      "# The long option a word names: itself, or the one option it is a prefix of.\n"
      "_quillon_option() {\n"
      "  local name found=\n"
      "  for name in " +
      longs +
      "; do\n"
      "    [[ $name == \"$1\" ]] && { printf '%s' \"$name\"; return; }\n"
      "  done\n"
      "  [[ $1 == --?* ]] || { printf '%s' \"$1\"; return; }\n"
      "  for name in " +
      longs +
      "; do\n"
      "    if [[ $name == \"$1\"* ]]; then [[ -n $found ]] && return; found=$name; fi\n"
      "  done\n"
      "  printf '%s' \"$found\"\n"
      "}\n"
      "\n"
      "_quillon() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
      "  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
      "  # --option=value: bash splits the option, the \"=\" and the value into words.\n"
      "  if [[ $cur == = ]]; then\n"
      "    cur=\n"
      "  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
      "    prev=${COMP_WORDS[COMP_CWORD - 2]}\n"
      "  fi\n"
      "  COMPREPLY=()\n"
      "  case $(_quillon_option \"$prev\") in\n";
  if (std::string dirs = case_pattern(options, ValueKind::directory); !dirs.empty())
    out += cat({"    ", dirs,
                ")\n      compopt -o filenames 2>/dev/null\n      mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n   "
                "   return ;;\n"});
  if (std::string files = case_pattern(options, ValueKind::file); !files.empty())
    out += cat({"    ", files,
                ")\n      compopt -o filenames 2>/dev/null\n      mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n   "
                "   return ;;\n"});
  if (std::string texts = case_pattern(options, ValueKind::text); !texts.empty())
    out += cat({"    ", texts, ")\n      return ;;\n"});
  out +=
      "  esac\n"
      "  # A word that is not an option is a FILE argument.\n"
      "  if [[ $cur != -* ]]; then\n"
      "    compopt -o filenames 2>/dev/null\n"
      "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
      "    return\n"
      "  fi\n"
      "  mapfile -t COMPREPLY < <(compgen -W \"" +
      names_of(options) +
      "\" -- \"$cur\")\n"
      "}\n"
      "complete -F _quillon quillon\n";
  return out;
}

// --- zsh --------------------------------------------------------------------

// Text inside a single-quoted zsh word.
std::string zsh_quoted(std::string_view text) { return replace_all(text, "'", "'\\''"); }

// A description in an _arguments entry: brackets and colons are syntax there.
std::string zsh_description(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    out += c;
  }
  return zsh_quoted(out);
}

std::string zsh_script(const std::vector<DocOption>& options) {
  std::string out =
      "#compdef quillon\n"
      "# zsh completion for quillon, generated from the command-line option table.\n"
      "\n"
      "_arguments -S \\\n";
  for (std::size_t i = 0; i < options.size(); ++i) {
    const DocOption& option = options[i];
    const bool takes_value = option.kind != ValueKind::flag;
    std::string long_spec = std::string(option.long_name) + (takes_value ? "=" : "");
    std::string names;
    if (option.short_name.empty()) {
      names = cat({"'", long_spec});
    } else {
      std::string exclusive = option.ends_run ? "(- *)" : cat({"(", option.short_name, " ", option.long_name, ")"});
      names = cat({"'", exclusive, "'{", option.short_name, takes_value ? "+" : "", ",", long_spec, "}'"});
    }
    if (option.short_name.empty() && option.ends_run) names = cat({"'(- *)", long_spec});
    std::string entry = cat({names, "[", zsh_description(option.help), "]"});
    if (takes_value) {
      std::string action = option.kind == ValueKind::directory ? "_files -/"
                           : option.kind == ValueKind::file    ? "_files"
                                                               : " ";
      entry += cat({":", zsh_quoted(option.metavar), ":", action});
    }
    entry += "'";
    out += cat({"  ", entry, " \\\n"});
  }
  // Any number of FILE arguments after the options.
  const quillon::command_line::OptionSpec& files = quillon::command_line::file_arguments;
  out += cat({"  '*:", zsh_quoted(files.metavar), ":_files'\n"});
  return out;
}

// --- fish -------------------------------------------------------------------

std::string fish_quoted(std::string_view text) {
  return cat({"'", replace_all(replace_all(text, "\\", "\\\\"), "'", "\\'"), "'"});
}

std::string fish_script(const std::vector<DocOption>& options) {
  std::string out =
      "# fish completion for quillon, generated from the command-line option table.\n"
      "\n"
      "# Words that are not options are FILE arguments: file names.\n"
      "complete -c quillon -F\n";
  for (const auto& option : options) {
    std::string line = "complete -c quillon";
    if (!option.short_name.empty()) line += cat({" -s ", option.short_name.substr(1)});
    line += cat({" -l ", option.long_name.substr(2)});
    switch (option.kind) {
      case ValueKind::flag:
        break;
      case ValueKind::text:
        line += " -x";
        break;
      case ValueKind::file:
        line += " -r -F";
        break;
      case ValueKind::directory:
        line += " -x -a '(__fish_complete_directories (commandline -ct))'";
        break;
    }
    out += cat({line, " -d ", fish_quoted(option.help), "\n"});
  }
  return out;
}

bool write_file(const fs::path& path, const std::string& text) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "generate_docs: cannot write " << path.string() << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: generate_docs SHARE_DIR\n";
    return 2;
  }
  const fs::path share = argv[1];
  const std::vector<DocOption> options = documented_options();
  bool ok = write_file(share / "man" / "man1" / "quillon.1", man_page(options));
  ok = write_file(share / "bash-completion" / "completions" / "quillon", bash_script(options)) && ok;
  ok = write_file(share / "zsh" / "site-functions" / "_quillon", zsh_script(options)) && ok;
  ok = write_file(share / "fish" / "vendor_completions.d" / "quillon.fish", fish_script(options)) && ok;
  return ok ? 0 : 1;
}
