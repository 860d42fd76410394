// The man page quillon(1), written from the option table that builds --help
// and from the help page's own texts, so that the two never disagree.
#pragma once

#include <string>
#include <vector>

#include "doc_options.hpp"

namespace quillon::docgen {

std::string man_page(const std::vector<DocOption>& options);

}  // namespace quillon::docgen
