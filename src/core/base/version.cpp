#include "base/version.hpp"

#ifndef QUILLON_VERSION
#error "QUILLON_VERSION comes from CMakeLists.txt, which reads it from pyproject.toml"
#endif

namespace quillon {

std::string_view quillon_version() { return QUILLON_VERSION; }

}  // namespace quillon
