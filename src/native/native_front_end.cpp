#include "native_front_end.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/errors.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

// Whether SIGPIPE had its default action when the program started.
bool sigpipe_ends_the_program = false;

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

}  // namespace

// Writes all of `text` to `fd`. A closed pipe on standard output ends the
// process quietly (keep_sigpipe_for_standard_output). A stop signal ends a
// write that waits for a reader (the poke makes it return EINTR).
void NativeFrontEnd::write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno != EINTR) {
      if (errno == EPIPE && fd == 1 && sigpipe_ends_the_program) StopSignals::end_by(SIGPIPE);
      throw OsError(errno, fd == 1 ? "<stdout>" : "<stderr>");
    }
    if (n > 0) text.remove_prefix(static_cast<std::size_t>(n));
    // Cut short (EINTR, or part written to a slow reader) by the poke.
    if (!text.empty() && stop_.received() != 0) {
      if (fd == 1) stdout_blocked_ = true;
      throw Error(ErrorKind::interrupted, "interrupted");
    }
  }
}

void keep_sigpipe_for_standard_output() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction before {};
  if (::sigaction(SIGPIPE, &ignore, &before) == 0) sigpipe_ends_the_program = before.sa_handler == SIG_DFL;
}

NativeFrontEnd::NativeFrontEnd(int argc, char** argv, StopSignals& stop)
    : argc_(argc), argv_(argv), stop_(stop), to_terminal_(::isatty(1) == 1) {
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
    write_all(2, escaped_line(line));
  } catch (const Error&) {
  }
}

std::string NativeFrontEnd::read_line(int fd) {
  std::string line;
  char c;
  for (;;) {
    // Waits in slices: the stop signals reach no system call of this thread.
    pollfd ready{fd, POLLIN, 0};
    const int waiting = ::poll(&ready, 1, 100);
    check_interrupt();
    if (waiting == 0 || (waiting < 0 && errno == EINTR)) continue;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) throw OsError(errno, "<stdin>");
    if (n == 0) {
      if (line.empty()) throw Error(ErrorKind::value, "end of input while reading a line");
      return line;
    }
    if (c == '\n') return line;
    line += c;
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
  // Put back even when the process must be ended without this thread.
  stop_.save_terminal(tty, saved);
  ::tcsetattr(tty, TCSAFLUSH, &quiet);
  auto restore = [&] {
    ::tcsetattr(tty, TCSAFLUSH, &saved);
    stop_.forget_terminal();
    write_all(tty, "\n");
    ::close(tty);
  };
  std::string password;
  try {
    write_all(tty, prompt);
    password = read_line(tty);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return password;
}

// The process list shows the argument vector in place: the password's bytes
// are overwritten there, the copy taken at start keeps them.
void NativeFrontEnd::hide_argument(std::size_t index, std::size_t offset) {
  if (index + 1 >= static_cast<std::size_t>(argc_)) return;
  char* argument = argv_[index + 1];
  const std::size_t size = std::strlen(argument);
  if (offset < size) std::fill(argument + offset, argument + size, 'x');
}

void NativeFrontEnd::note(std::string_view line) {
  // One write per line, so lines from worker threads never interleave.
  try {
    write_all(2, escaped_line(line));
  } catch (const Error&) {
    // A trace that cannot be written does not end the run.
  }
}

void NativeFrontEnd::end_by_stop_signal() {
  const int signal = stop_.received() != 0 ? stop_.received() : SIGINT;
  // What was printed goes out, unless its reader had stopped reading.
  try {
    if (!stdout_blocked_) flush();
  } catch (const Error&) {
  }
  out_.clear();
  // The terminal has echoed "^C" where the cursor was, perhaps on a prompt's line.
  std::string line = ::isatty(2) == 1 ? "\nquillon: error: " : "quillon: error: ";
  line += signal == SIGTERM ? "stopped by SIGTERM" : signal == SIGHUP ? "stopped by SIGHUP" : "interrupted";
  line += '\n';
  try {
    write_all(2, line);
  } catch (const Error&) {
  }
  StopSignals::end_by(signal);
}

void NativeFrontEnd::exit(int status) { throw ExitRequest{status}; }

void NativeFrontEnd::check_interrupt() {
  if (stop_.received() != 0) throw Error(ErrorKind::interrupted, "interrupted");
}

}  // namespace quillon
