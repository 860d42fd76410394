// What differs between the extension module and the native program: where
// arguments come from, where output goes, how the user is asked, how the
// process ends. The core's run driver talks to the world only through this.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text/unicode.hpp"

namespace quillon {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Command-line arguments after the program name, as text: bytes that are
  // not UTF-8 escaped as lone surrogates, as the host reads them.
  virtual std::vector<std::string> arguments() = 0;
  // The program's own lines (descriptions, "Login failed"), as print() writes them.
  virtual void print(std::string_view text) = 0;
  // The same for a file's description, except that an ordinary failure to
  // write it is ignored, as for a description that cannot be read.
  virtual void print_description(std::string_view text) = 0;
  // Pretty-printed results, to the printer's stream.
  virtual void write_result(std::string_view text) = 0;
  // A file's report is complete: what was printed goes out now, so that a
  // run stopped later keeps it, whatever standard output is.
  virtual void flush() {}
  // Usage errors and help go here (help: standard output; errors: standard error).
  virtual void write_usage(std::string_view text, bool to_error) = 0;
  // The address prompt: prompt on standard output, one line from standard input
  // without its line end.
  virtual std::string ask_line(std::string_view prompt) = 0;
  // The password prompt: on the terminal, without echo.
  virtual std::string ask_password(std::string_view prompt) = 0;
  // Ends the run with `status`; never returns.
  [[noreturn]] virtual void exit(int status) = 0;
  // Keeps the argument at `index` (after the program name), from byte
  // `offset` on, out of the process list from now on, where the platform
  // allows it: a password's value.
  virtual void hide_argument(std::size_t /*index*/, std::size_t /*offset*/) {}
  // One line for the operator on standard error (request trace, retries).
  // May be called from worker threads.
  virtual void note(std::string_view line) = 0;
  // Called while a request blocks; throws to abort it (Ctrl-C).
  virtual void check_interrupt() = 0;
  // Runs `wait` (a short wait for worker threads) with the host free to run
  // meanwhile; returns what it returns.
  virtual bool wait_unlocked(const std::function<bool()>& wait) { return wait(); }
};

// A line for standard error that holds text from outside (file names,
// addresses, answers): its control characters escaped, so that it can
// neither drive the terminal nor forge another line; its own line end kept.
inline std::string escaped_line(std::string_view line) {
  const bool ends_line = line.ends_with('\n');
  if (ends_line) line.remove_suffix(1);
  std::string out = unicode::escape_controls(line);
  if (ends_line) out += '\n';
  return out;
}

}  // namespace quillon
