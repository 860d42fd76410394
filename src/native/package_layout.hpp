// Where a pip-installed wheel put the native program, seen from the `quillon`
// command in the scripts directory. The program lives in the package
// directory (beside its config/ and the libraries the wheel bundles); the
// scripts and package directories share one prefix, but the path between them
// depends on the install scheme (venv, --user, a distribution's dist-packages,
// --target), so the command looks in each in turn.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The places the program may be, most likely first. `command_path` is the
// real path of the command; `python_dir` the interpreter's library folder the
// wheel was built for ("python3.11").
std::vector<std::string> package_program_candidates(std::string_view command_path, std::string_view python_dir);

// The first candidate that is an executable regular file, or "" when none is.
std::string find_package_program(std::string_view command_path, std::string_view python_dir);

}  // namespace quillon
