// Character tables generated from the Python host (tools/gen_unicode_tables.py).
#pragma once

#include <cstddef>

namespace quillon::unicode::tables {

struct CodeRange {
  char32_t first, last;
};
struct LowerMapping {
  char32_t code;
  unsigned char length;
  char32_t lower[3];
};

extern const CodeRange space[];
extern const std::size_t space_count;
extern const CodeRange printable[];
extern const std::size_t printable_count;
extern const CodeRange case_ignorable[];
extern const std::size_t case_ignorable_count;
extern const CodeRange cased[];
extern const std::size_t cased_count;
extern const LowerMapping lower[];
extern const std::size_t lower_count;

}  // namespace quillon::unicode::tables
