#include "native_front_end.hpp"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "base/errors.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

volatile std::sig_atomic_t interrupt_flag = 0;
// Set when Ctrl-C came while standard output was waiting for its reader.
bool stdout_blocked = false;

void on_interrupt(int) { interrupt_flag = 1; }

// Writes all of `text` to `fd`. A closed pipe ends the process quietly
// through SIGPIPE's default action, as with any Unix tool. Ctrl-C stops a
// write that waits for a slow reader.
void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) {
        if (interrupt_flag && fd == 1) {
          stdout_blocked = true;
          throw Error(ErrorKind::interrupted, "interrupted");
        }
        continue;
      }
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
  struct sigaction current {};
  if (::sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns so the run can stop
  ::sigaction(SIGINT, &action, nullptr);
}

// A standard descriptor closed by the caller (`>&-`) is held open on
// /dev/null the wrong way round, so that no file or socket the program opens
// later takes its number and receives output, and writing to it still fails.
void occupy_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

NativeFrontEnd::NativeFrontEnd(int argc, char** argv) : argc_(argc), argv_(argv), to_terminal_(::isatty(1) == 1) {
  occupy_closed_standard_descriptors();
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
  if (to_terminal_ || out_.size() >= (1u << 16)) flush();
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
    std::string password = read_line(0);
    // What was typed is not echoed from a pipe: end the prompt's line ourselves.
    if (::isatty(0) != 1) write_all(2, "\n");
    return password;
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

// The process list shows the argument vector in place: the password's bytes
// are overwritten there (as "--password=xxx" or as the argument after
// "--password"), the copy taken at start keeps them.
void NativeFrontEnd::hide_argument(std::string_view value) {
  if (value.empty()) return;
  for (int i = 1; i < argc_; ++i) {
    std::string_view arg = argv_[i];
    std::size_t start = std::string::npos;
    if (arg == value)
      start = 0;
    else if (arg.starts_with("--") && arg.ends_with(value) && arg.size() > value.size() &&
             arg[arg.size() - value.size() - 1] == '=')
      start = arg.size() - value.size();
    if (start != std::string::npos) std::fill(argv_[i] + start, argv_[i] + arg.size(), 'x');
  }
}

void NativeFrontEnd::note(std::string_view line) {
  // One write per line, so lines from worker threads never interleave.
  try {
    write_all(2, line);
  } catch (const Error&) {
    // A trace that cannot be written does not end the run.
  }
}

int report_interrupt(NativeFrontEnd& front_end) {
  // What was printed goes out, unless its reader had stopped reading.
  try {
    if (!stdout_blocked) front_end.flush();
  } catch (const Error&) {
  }
  front_end.discard();
  // The terminal has echoed "^C" where the cursor was, perhaps on a prompt's line.
  const char* line = ::isatty(2) == 1 ? "\nquillon: error: interrupted\n" : "quillon: error: interrupted\n";
  try {
    write_all(2, line);
  } catch (const Error&) {
  }
  ::signal(SIGINT, SIG_DFL);
  ::raise(SIGINT);
  ::_exit(130);  // SIGINT is blocked or ignored: end with the shell's status for it
}

void NativeFrontEnd::exit(int status) { throw ExitRequest{status}; }

void NativeFrontEnd::check_interrupt() {
  if (interrupt_flag) throw Error(ErrorKind::interrupted, "interrupted");
}

}  // namespace quillon
