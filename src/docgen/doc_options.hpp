// The command line's options as the generated documents need them, read from
// the option table that also builds the parser and --help, and the small text
// helpers the man page and completion writers share.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::docgen {

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

// Every option in --help order, -h/--help first as the help page lists it.
std::vector<DocOption> documented_options();

// The commands the completions are for: the native program and the console
// script, which take the same options.
inline constexpr std::array<std::string_view, 2> commands = {"quillon", "quillon-py"};

// Joins pieces into one string.
std::string cat(std::initializer_list<std::string_view> parts);

std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace quillon::docgen
