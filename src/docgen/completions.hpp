// The bash, zsh and fish completion scripts, written from the option table
// for every command that takes its options (docgen::commands).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "doc_options.hpp"

namespace quillon::docgen {

// One script registering every command; bash-completion loads it on demand
// under each command's name.
std::string bash_script(const std::vector<DocOption>& options);
// One function for every command (#compdef names them all).
std::string zsh_script(const std::vector<DocOption>& options);
// fish loads completions by command name: one script per command.
std::string fish_script(const std::vector<DocOption>& options, std::string_view command);

}  // namespace quillon::docgen
