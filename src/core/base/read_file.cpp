// Reads in 64 KiB blocks, sized up front for regular files. Anything else (a
// FIFO whose writer has not come, a silent terminal) is waited for with poll
// in short slices that call the interrupt check, so a thread that takes no
// signals can be stopped too: the descriptor is opened non-blocking, which
// also keeps open() itself from waiting for a FIFO's writer.
#include "base/read_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.hpp"

namespace quillon {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { ::close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Until `fd` has data or its writer has gone. A FIFO that never had a writer
// reports neither, where a read would already say end of file.
void wait_readable(int fd, const std::function<void()>& check_interrupt) {
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int n = ::poll(&ready, 1, 100);
    if (check_interrupt) check_interrupt();
    if (n > 0 || (n < 0 && errno != EINTR)) return;  // a poll error shows in the read
  }
}

}  // namespace

std::string read_file(const std::string& path, const std::function<void()>& check_interrupt) {
  int fd;
  while ((fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    if (errno != EINTR) throw OsError(errno, path);
    if (check_interrupt) check_interrupt();
  }
  const Descriptor file(fd);
  std::string data;
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    if (!regular) wait_readable(fd, check_interrupt);
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        if (check_interrupt) check_interrupt();
        continue;
      }
      throw OsError(errno, path);
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return data;
}

}  // namespace quillon
