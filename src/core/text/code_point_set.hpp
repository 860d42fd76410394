// Sets of code points for the inner loops of the printer and repr: the Basic
// Multilingual Plane as a bit set built once from a range table (one load
// instead of a binary search per character); code points beyond it are
// asked of the table itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "text/unicode.hpp"
#include "text/unicode_tables.hpp"

namespace quillon::unicode {

class CodePointSet {
 public:
  // `beyond` answers for code points from U+10000 on.
  CodePointSet(const tables::CodeRange* ranges, std::size_t count, bool (*beyond)(char32_t)) : beyond_(beyond) {
    for (std::size_t i = 0; i < count; ++i)
      for (char32_t c = ranges[i].first; c <= ranges[i].last && c < 0x10000; ++c)
        bits_[c >> 6] |= std::uint64_t{1} << (c & 63);
  }
  bool contains(char32_t cp) const { return cp < 0x10000 ? (bits_[cp >> 6] >> (cp & 63)) & 1 : beyond_(cp); }

 private:
  std::array<std::uint64_t, 1024> bits_{};
  bool (*beyond_)(char32_t);
};

// str.isspace and str.isprintable as sets, built on first use.
inline const CodePointSet& space_set() {
  static const CodePointSet set(tables::space, tables::space_count, is_space);
  return set;
}
inline const CodePointSet& printable_set() {
  static const CodePointSet set(tables::printable, tables::printable_count, is_printable);
  return set;
}

}  // namespace quillon::unicode
