#include "filter/filter_expression.hpp"

#include <unordered_set>

#include "text/unicode.hpp"

namespace quillon::filter {

Expression parse_expression(std::string_view text) {
  Expression out;
  out.whole = text;
  std::size_t count = 0;
  std::unordered_set<std::string_view> seen;
  for_each_piece(text, '&', [&](std::string_view piece) {
    const std::string_view key = unicode::strip(piece);
    if (count++ == 0) out.trimmed = key;
    // Equal keys look up equal values, so a projection stores each key once,
    // at its first position.
    if (seen.insert(key).second) out.keys.push_back(key);
  });
  out.descent = count == 1;
  return out;
}

}  // namespace quillon::filter
