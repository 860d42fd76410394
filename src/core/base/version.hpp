// The program's version, as --version prints it. Its one source is the
// `version` of pyproject.toml, which CMake passes in as QUILLON_VERSION.
#pragma once

#include <string_view>

namespace quillon {

std::string_view quillon_version();

}  // namespace quillon
