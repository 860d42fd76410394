// The help formatter's default width, found as the host finds the terminal
// size: COLUMNS if it is a positive integer, else the terminal on standard
// output, else 80 columns; two columns are kept free.
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "cli/command_line.hpp"
#include "cli/command_line_values.hpp"

namespace quillon {

int default_help_width() {
  long long columns = 0;
  if (const char* env = std::getenv("COLUMNS")) columns = command_line::host_int(env).value_or(0);
  if (columns <= 0) {
    winsize size{};
    columns = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col ? size.ws_col : 80;
  }
  if (columns > INT_MAX) columns = INT_MAX;
  return static_cast<int>(columns - 2);
}

}  // namespace quillon
