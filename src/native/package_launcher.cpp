// The `quillon` command of the wheel: a small executable in the scripts
// directory that runs the native program installed in the package directory.
// The program cannot live in the scripts directory itself: the wheel bundles
// libraries it needs in the package tree, and the path from the scripts
// directory to that tree depends on how the wheel was installed. One exec
// costs well under a millisecond; no interpreter is started.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "executable_path.hpp"
#include "package_layout.hpp"

#ifndef QUILLON_PYTHON_DIR
#error "QUILLON_PYTHON_DIR names the interpreter's library folder, e.g. python3.11"
#endif

int main(int, char** argv) {
  try {
    const std::string self = quillon::executable_path(argv[0]);
    const std::string program = quillon::find_package_program(self, QUILLON_PYTHON_DIR);
    if (program.empty()) {
      std::fprintf(stderr, "quillon: error: the native program is missing from the installed package (looked for %s)\n",
                   quillon::package_program_candidates(self, QUILLON_PYTHON_DIR).front().c_str());
      return 1;
    }
    // argv[0] stays as typed: the program names itself after it in usage lines.
    ::execv(program.c_str(), argv);
    std::fprintf(stderr, "quillon: error: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
  } catch (...) {
    std::fprintf(stderr, "quillon: error: out of memory\n");
  }
  return 1;
}
