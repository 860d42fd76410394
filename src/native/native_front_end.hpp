// The native program's side of the front-end interface: argv, a buffered
// standard output, the terminal for the password, exit statuses, Ctrl-C.
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.hpp"

namespace quillon {

class NativeFrontEnd : public FrontEnd {
 public:
  NativeFrontEnd(int argc, char** argv);
  ~NativeFrontEnd() override;

  // Arguments as text, undecodable bytes escaped as the host does.
  std::vector<std::string> arguments() override { return arguments_; }
  void print(std::string_view text) override;
  void print_description(std::string_view text) override { print(text); }
  void write_result(std::string_view text) override { print(text); }
  void write_usage(std::string_view text, bool to_error) override;
  std::string ask_line(std::string_view prompt) override;
  std::string ask_password(std::string_view prompt) override;
  [[noreturn]] void exit(int status) override;
  void note(std::string_view line) override;
  void hide_argument(std::string_view value) override;
  void check_interrupt() override;

  // Writes out everything printed so far.
  void flush();
  // Reports a failure on standard error, after what was printed before it.
  void report_error(std::string_view message);
  // Drops what is still buffered: after Ctrl-C it is not worth a blocking write.
  void discard() { out_.clear(); }

 private:
  std::vector<std::string> arguments_;
  int argc_;
  char** argv_;
  std::string out_;
  // On a terminal every piece of output is shown as soon as it is printed;
  // into a pipe or file it goes out in large writes.
  bool to_terminal_;
};

// Whether Ctrl-C was pressed; set by the SIGINT handler.
bool interrupted();
// Catches SIGINT for a clean stop, unless it was ignored when the program
// started (as for a job run in the background), which is kept.
void install_interrupt_handler();
// Reports the interrupt on its own line, then ends the process by SIGINT with
// the default action, as the shell expects of a program stopped by Ctrl-C.
[[noreturn]] int report_interrupt(NativeFrontEnd& front_end);

}  // namespace quillon
