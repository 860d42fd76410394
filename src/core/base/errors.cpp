#include "base/errors.hpp"

#include <cstring>

namespace quillon {

OsError::OsError(int error_number, std::string path)
    : Error(ErrorKind::os,
            "[Errno " + std::to_string(error_number) + "] " + std::strerror(error_number) + ": '" + path + "'"),
      errno_(error_number),
      path_(std::move(path)) {}

}  // namespace quillon
