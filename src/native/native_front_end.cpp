#include "native_front_end.hpp"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "base/errors.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

volatile std::sig_atomic_t interrupt_flag = 0;

void on_interrupt(int) { interrupt_flag = 1; }

// Writes all of `text` to `fd`. A closed pipe ends the process quietly
// through SIGPIPE's default action, as with any Unix tool.
void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OsError(errno, fd == 1 ? "<stdout>" : "<stderr>");
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// One line from `fd` without its line end; Ctrl-C and end of input end the run.
std::string read_line(int fd) {
  std::string line;
  char c;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) {
      if (interrupt_flag) throw Error(ErrorKind::interrupted, "interrupted");
      continue;
    }
    if (n < 0) throw OsError(errno, "<stdin>");
    if (n == 0) {
      if (line.empty()) throw Error(ErrorKind::value, "end of input while reading a line");
      return line;
    }
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

bool interrupted() { return interrupt_flag != 0; }

void install_interrupt_handler() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns so the run can stop
  ::sigaction(SIGINT, &action, nullptr);
}

NativeFrontEnd::NativeFrontEnd(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) arguments_.push_back(unicode::escape_invalid_utf8(argv[i]));
}

NativeFrontEnd::~NativeFrontEnd() {
  try {
    flush();
  } catch (...) {
  }
}

void NativeFrontEnd::print(std::string_view text) {
  out_.append(text);
  if (out_.size() >= (1u << 16)) flush();
}

void NativeFrontEnd::flush() {
  std::string pending;
  pending.swap(out_);
  write_all(1, pending);
}

void NativeFrontEnd::write_usage(std::string_view text, bool to_error) {
  if (!to_error) return print(text);
  flush();
  write_all(2, text);
}

void NativeFrontEnd::report_error(std::string_view message) {
  try {
    flush();
  } catch (const Error&) {
  }
  std::string line = "quillon: error: ";
  line.append(message);
  line += '\n';
  try {
    write_all(2, line);
  } catch (const Error&) {
  }
}

std::string NativeFrontEnd::ask_line(std::string_view prompt) {
  print(prompt);
  flush();
  return read_line(0);
}

std::string NativeFrontEnd::ask_password(std::string_view prompt) {
  flush();
  int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios saved{};
  if (tty < 0 || ::tcgetattr(tty, &saved) != 0) {
    if (tty >= 0) ::close(tty);
    // No terminal to switch echo off on: read standard input, and say so.
    write_all(2, "Warning: Password input may be echoed.\n");
    write_all(2, prompt);
    return read_line(0);
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(tty, TCSAFLUSH, &quiet);
  std::string password;
  try {
    write_all(tty, prompt);
    password = read_line(tty);
  } catch (...) {
    ::tcsetattr(tty, TCSAFLUSH, &saved);
    write_all(tty, "\n");
    ::close(tty);
    throw;
  }
  ::tcsetattr(tty, TCSAFLUSH, &saved);
  write_all(tty, "\n");
  ::close(tty);
  return password;
}

void NativeFrontEnd::exit(int status) { throw ExitRequest{status}; }

void NativeFrontEnd::check_interrupt() {
  if (interrupt_flag) throw Error(ErrorKind::interrupted, "interrupted");
}

}  // namespace quillon
