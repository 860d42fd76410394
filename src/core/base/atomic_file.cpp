#include "base/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errors.hpp"

namespace quillon {
namespace {

// Closes the descriptor, and removes the named temporary file if one was
// made and not yet renamed.
class Pending {
 public:
  ~Pending() {
    if (fd >= 0) ::close(fd);
    if (!temporary.empty()) ::unlink(temporary.c_str());
  }
  int fd = -1;
  std::string temporary;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void write_all(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OsError(errno, path);
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void write_file_atomically(const std::string& path,
                           const std::function<void(const std::function<void(std::string_view)>&)>& produce) {
  Pending pending;
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  // An unnamed file vanishes with the process, whatever ends it; where the
  // file system has none, a named one that is removed on every way out but
  // the hardest.
  pending.fd = ::open(directory_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  const bool unnamed = pending.fd >= 0;
  if (!unnamed) {
    pending.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (pending.fd < 0) throw OsError(errno, path);
    pending.temporary = temporary;
  }
  produce([&](std::string_view chunk) { write_all(pending.fd, chunk, path); });
  if (::fsync(pending.fd) != 0) throw OsError(errno, path);
  if (unnamed) {
    // A name for the finished file, then the one it is meant to have: rename
    // replaces an earlier file in one step, which linkat cannot.
    const std::string self = "/proc/self/fd/" + std::to_string(pending.fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
      throw OsError(errno, path);
    pending.temporary = temporary;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) throw OsError(errno, path);
  pending.temporary.clear();
}

void make_directories(const std::string& path) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string part = path.substr(0, end);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) throw OsError(errno, part);
    if (end == std::string::npos) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw OsError(errno, path);
  if (!S_ISDIR(st.st_mode)) throw OsError(ENOTDIR, path);
}

}  // namespace quillon
