#include "base/errors.hpp"

#include <cstring>

namespace quillon {

std::string Error::where() const {
  std::string text;
  for (const std::string& file : files_) {
    if (!text.empty()) text += " \xE2\x86\x92 ";
    text += file;
  }
  for (const std::string& what : context_) {
    if (!text.empty()) text += ": ";
    text += what;
  }
  return text;
}

OsError::OsError(int error_number, std::string path)
    : Error(ErrorKind::os,
            "[Errno " + std::to_string(error_number) + "] " + std::strerror(error_number) + ": '" + path + "'"),
      errno_(error_number),
      path_(std::move(path)) {}

// The host's str(): "msg: line L column C (char P)".
JsonDecodeError::JsonDecodeError(std::string reason, std::size_t position, std::size_t line, std::size_t column,
                                 std::shared_ptr<const std::string> document)
    : Error(ErrorKind::json_decode, reason + ": line " + std::to_string(line) + " column " + std::to_string(column) +
                                        " (char " + std::to_string(position) + ")"),
      reason_(std::move(reason)),
      position_(position),
      document_(std::move(document)) {}

Error out_of_memory(std::string file) {
  Error error(ErrorKind::memory, "out of memory");
  error.add_file(std::move(file));
  return error;
}

}  // namespace quillon
