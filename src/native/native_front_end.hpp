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
  void check_interrupt() override;

  // Writes out everything printed so far.
  void flush();
  // Reports a failure on standard error, after what was printed before it.
  void report_error(std::string_view message);

 private:
  std::vector<std::string> arguments_;
  std::string out_;
};

// Whether Ctrl-C was pressed; set by the SIGINT handler.
bool interrupted();
void install_interrupt_handler();

}  // namespace quillon
