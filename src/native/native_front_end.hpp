// The native program's side of the front-end interface: argv, a buffered
// standard output, the terminal for the password, exit statuses, the stop
// signals (stop_signals.hpp).
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.hpp"
#include "stop_signals.hpp"

namespace quillon {

class NativeFrontEnd : public FrontEnd {
 public:
  NativeFrontEnd(int argc, char** argv, StopSignals& stop);
  ~NativeFrontEnd() override;

  // Arguments as text, undecodable bytes escaped as the host does.
  std::vector<std::string> arguments() override { return arguments_; }
  void print(std::string_view text) override;
  void print_description(std::string_view text) override { print(text); }
  void write_result(std::string_view text) override { print(text); }
  void flush() override;
  void write_usage(std::string_view text, bool to_error) override;
  std::string ask_line(std::string_view prompt) override;
  std::string ask_password(std::string_view prompt) override;
  [[noreturn]] void exit(int status) override;
  void note(std::string_view line) override;
  void hide_argument(std::size_t index, std::size_t offset) override;
  void check_interrupt() override;

  // Reports a failure on standard error, after what was printed before it.
  void report_error(std::string_view message);
  // After a stop signal: writes out what was printed, says so on standard
  // error and ends the process by that signal, as the shell expects of a
  // program stopped by Ctrl-C.
  [[noreturn]] void end_by_stop_signal();

 private:
  // One line from `fd` without its line end; a stop signal and end of input end the run.
  std::string read_line(int fd);
  void write_all(int fd, std::string_view text);

  std::vector<std::string> arguments_;
  int argc_;
  char** argv_;
  StopSignals& stop_;
  std::string out_;
  // On a terminal every piece of output is shown as soon as it is printed;
  // into a pipe or file it goes out in large writes, and at the end of each file.
  bool to_terminal_;
  // A stop signal came while standard output waited for its reader.
  bool stdout_blocked_ = false;
};

// Lets a write to standard error fail without ending the process (a trace
// that cannot be written never ends the run); a closed standard output still
// ends it quietly by SIGPIPE, as with any Unix tool, unless the program
// started with SIGPIPE ignored. Called in main() before any output.
void keep_sigpipe_for_standard_output();

}  // namespace quillon
