#include "completions.hpp"

#include "cli/option_table.hpp"

namespace quillon::docgen {
namespace {

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

std::string fish_quoted(std::string_view text) {
  return cat({"'", replace_all(replace_all(text, "\\", "\\\\"), "'", "\\'"), "'"});
}

// "quillon quillon-py"
std::string command_names() {
  std::string out;
  for (std::string_view command : commands) out += cat({out.empty() ? "" : " ", command});
  return out;
}

}  // namespace

// --- bash -------------------------------------------------------------------

std::string bash_script(const std::vector<DocOption>& options) {
  std::string longs;
  for (const auto& option : options) longs += std::string(longs.empty() ? "" : " ") + std::string(option.long_name);
  std::string out = "# bash completion for " + command_names() +
                    ", generated from the command-line option table.\n"
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
      "complete -F _quillon " +
      command_names() + "\n";
  return out;
}

// --- zsh --------------------------------------------------------------------

std::string zsh_script(const std::vector<DocOption>& options) {
  std::string out = cat({"#compdef ", command_names(), "\n# zsh completion for ", command_names(),
                         ", generated from the command-line option table.\n\n_arguments -S \\\n"});
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
  out += cat({"  '*:", zsh_quoted(command_line::file_arguments.metavar), ":_files'\n"});
  return out;
}

// --- fish -------------------------------------------------------------------

std::string fish_script(const std::vector<DocOption>& options, std::string_view command) {
  std::string out =
      cat({"# fish completion for ", command, ", generated from the command-line option table.\n\n",
           "# Words that are not options are FILE arguments: file names.\ncomplete -c ", command, " -F\n"});
  for (const auto& option : options) {
    std::string line = cat({"complete -c ", command});
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

}  // namespace quillon::docgen
