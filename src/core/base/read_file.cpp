// Reads in 64 KiB blocks, sized up front for regular files; EINTR is retried
// once the interrupt check has had its say.
#include "base/read_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.hpp"

namespace quillon {

std::string read_file(const std::string& path, const std::function<void()>& check_interrupt) {
  auto interrupted = [&] {
    if (errno != EINTR) return false;
    if (check_interrupt) check_interrupt();
    return true;
  };
  int fd;
  while ((fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0)
    if (!interrupted()) throw OsError(errno, path);
  std::string data;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      int err = errno;
      try {
        if (interrupted()) continue;
      } catch (...) {
        ::close(fd);
        throw;
      }
      ::close(fd);
      throw OsError(err, path);
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

}  // namespace quillon
